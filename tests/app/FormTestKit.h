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
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>

namespace apptest {

// Byte-for-byte equality, told by sizes and the first differing offset
// rather than by printing megabytes.
inline testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return testing::AssertionFailure() << actual.size() << " bytes where " << expected.size()
                                       << " were expected; first difference at offset " << at;
}

// A local directory of its own for a test's files, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "taviro-app-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline void WriteLocalFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The file's bytes; "<missing>" when it cannot be read.
inline std::string ReadLocalFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `size` bytes that differ from block to block, so a lost or repeated block
// shows in a byte-for-byte comparison.
inline std::string Pattern(std::size_t size, unsigned seed = 1)
{
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1u;
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

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

        // A wait for a reply on the control connection has no time-out of its
        // own; this ends one that a broken test or a stalled server would
        // leave hanging (Qt's timers run inside every wait of the component).
        // After it fired, the test's further clicks do nothing.
        m_watchdog.setInterval(30000);
        m_watchdog.setSingleShot(true);
        QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
            ADD_FAILURE() << "watchdog: the test ran for 30 s; cancelling what runs";
            m_stalled = true;
            if (Form) {
                Ftp().Cancel();
                Ftp().Abort();
            }
        });
        m_watchdog.start();
    }

    void TearDown() override
    {
        m_watchdog.stop();
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
        if (m_stalled)
            return;
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
    QTimer m_watchdog;
    bool m_stalled = false;
};

} // namespace apptest
