#pragma once

// A window under test: the real TForm1, shown on the offscreen platform, with
// its message boxes captured instead of shown and its status-bar texts and
// boxes recorded in the order the user would see them.

#include "app/MessageBox.h"
#include "app/TForm1.h"
#include "support/RealServers.h"
#include "ui_TForm1.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QStatusBar>
#include <QTest>

#include <string>
#include <vector>

namespace apptest {

// What the user saw: "status: <text>" or "box: <text>" (an error box is
// "error: <text>").
using Seen = std::vector<std::string>;

class FormFixture : public testing::Test {
protected:
    void SetUp() override
    {
        m_previousHook = app::SetMessageBoxHook([this](const app::MessageBoxRequest& request) {
            Boxes.push_back(request);
            Events.push_back((request.Icon == app::MessageIcon::Error ? "error: " : "box: ") + request.Text);
        });
        Form = std::make_unique<TForm1>();
        QObject::connect(Ui().StatusBar1, &QStatusBar::messageChanged, [this](const QString& text) {
            if (!text.isEmpty())
                Events.push_back("status: " + text.toStdString());
        });
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }

    void TearDown() override
    {
        Form.reset();
        app::SetMessageBoxHook(m_previousHook);
    }

    Ui::TForm1& Ui() const { return Form->Controls(); }
    kivftp::TKivFTP& Ftp() const { return Form->KivFTP1(); }

    std::string Status() const { return Ui().StatusBar1->currentMessage().toStdString(); }

    std::vector<std::string> MemoLines() const
    {
        std::vector<std::string> lines;
        const QString text = Ui().Memo1->toPlainText();
        if (text.isEmpty())
            return lines;
        for (const QString& line : text.split('\n'))
            lines.push_back(line.toStdString());
        return lines;
    }

    // Brings the button's page to the front, as the user would, and clicks it.
    void Click(QAbstractButton* button)
    {
        ShowPageOf(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    void ShowPageOf(QWidget* widget)
    {
        for (int i = 0; i < Ui().PageControl1->count(); ++i)
            if (Ui().PageControl1->widget(i)->isAncestorOf(widget))
                Ui().PageControl1->setCurrentIndex(i);
    }

    static void Type(QLineEdit* edit, const std::string& text) { edit->setText(QString::fromStdString(text)); }

    // Fills in the login page for `server` (its port into the read-only port
    // box) and presses "连接"; true when the window says it is connected.
    bool ConnectTo(const testsupport::RealServer& server)
    {
        Type(Ui().HostTxt, "127.0.0.1");
        Type(Ui().PortTxt, std::to_string(server.Port));
        Type(Ui().UserTxt, server.User);
        Type(Ui().PassTxt, server.Password);
        Click(Ui().BitBtn1);
        return Status() == "已经成功连接到主机！" && Ftp().Connected;
    }

    void ClearSeen()
    {
        Events.clear();
        Boxes.clear();
    }

    std::unique_ptr<TForm1> Form;
    std::vector<app::MessageBoxRequest> Boxes;
    Seen Events;

private:
    app::MessageBoxHook m_previousHook;
};

} // namespace apptest
