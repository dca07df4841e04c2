#pragma once

// The main window: six pages for logging in, listing, downloading, uploading
// and managing remote files, a status bar, and the FTP component KivFTP1 whose
// events the window turns into status texts, message boxes and listing lines.
//
// The layout lives in TForm1.ui. Every button runs one handler; a handler
// blocks while its FTP operation runs, but the operation keeps the window
// alive, so another button (an abort button above all) may be pressed and its
// handler then runs nested inside the first one.

#include "ftp/KivFtp.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QStatusBar;

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The form's controls, for the program's own wiring and for tests.
    Ui::TForm1& Controls() const { return *m_ui; }
    kivftp::TKivFTP& KivFTP1() const { return *m_kivFTP1; }

    // The number the next listing line gets in the listing memo.
    std::int32_t ListLineNo = 0;

    // Login page.
    void Button1Click(QObject* Sender);
    void Button2Click(QObject* Sender);
    void BitBtn3Click(QObject* Sender);
    void FormCloseQuery(QObject* Sender, bool& CanClose);

    // Remote file commands.
    void Button3Click(QObject* Sender);
    void Button4Click(QObject* Sender);
    void Button6Click(QObject* Sender);
    void Button8Click(QObject* Sender);
    void Button7Click(QObject* Sender);
    void Button11Click(QObject* Sender);
    void Button13Click(QObject* Sender);
    void Button10Click(QObject* Sender);
    void Button12Click(QObject* Sender);
    void Button14Click(QObject* Sender);
    void Button15Click(QObject* Sender);
    void Button16Click(QObject* Sender);
    void Button18Click(QObject* Sender);
    void Button5Click(QObject* Sender);

    // Events of KivFTP1.
    void KivFTP1HostResolved(platform::TComponent* Sender);
    void KivFTP1InvalidHost(bool& Handled);
    void KivFTP1ConnectionFailed(platform::TComponent* Sender);
    void KivFTP1Connect(platform::TComponent* Sender);
    void KivFTP1Disconnect(platform::TComponent* Sender);
    void KivFTP1Error(platform::TComponent* Sender, std::uint16_t Errno, const std::string& Errmsg);
    void KivFTP1Status(platform::TComponent* Sender, const std::string& Status);
    void KivFTP1TransactionStart(platform::TComponent* Sender);
    void KivFTP1TransactionStop(platform::TComponent* Sender);
    void KivFTP1PacketRecvd(platform::TComponent* Sender);
    void KivFTP1PacketSent(platform::TComponent* Sender);
    void KivFTP1ListItem(const std::string& Listing);
    void KivFTP1Success(kivftp::TCmdType Trans_Type);
    void KivFTP1Failure(bool& Handled, kivftp::TCmdType Trans_Type);
    void KivFTP1UnSupportedFunction(kivftp::TCmdType Trans_Type);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    using ClickHandler = void (TForm1::*)(QObject*);

    void BindClick(QAbstractButton* button, ClickHandler handler);
    // Runs a handler; an exception that escapes it goes to the error report.
    void RunHandler(const std::function<void()>& handler);
    void SetUpWindow();
    void SetUpPictures();
    void SetUpKivFTP1();
    void SetStatus(const std::string& text);

    std::unique_ptr<Ui::TForm1> m_ui;
    std::unique_ptr<kivftp::TKivFTP> m_kivFTP1;
    // Null once the status bar is gone, while the window is torn down.
    QPointer<QStatusBar> m_statusBar;
};
