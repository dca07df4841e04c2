// Pressing buttons while a transfer runs: the abort buttons, closing the
// window (its close query aborts) and the exit button (which does not).
// Each action is queued when the first progress text shows, so it runs
// nested inside the transfer, from the pump the transfer turns while it waits.

#include "FormTestKit.h"

#include <gmock/gmock.h>

#include <QCoreApplication>

namespace apptest {
namespace {

using testing::IsEmpty;

constexpr std::size_t kLarge = 48u * 1024u * 1024u;

struct TransferControl : FormFixture {
    // Runs `action` once, queued, when the status bar first shows progress.
    void OnFirstProgress(std::function<void()> action)
    {
        auto fired = std::make_shared<bool>(false);
        QObject::connect(Ui().StatusBar1, &QStatusBar::messageChanged, Form.get(),
                         [this, fired, action](const QString& text) {
                             if (*fired || !text.contains(" of "))
                                 return;
                             *fired = true;
                             progressSeen = true;
                             QTimer::singleShot(0, Form.get(), action);
                         });
    }

    bool progressSeen = false;
    TempDir dir;
};

TEST_F(TransferControl, AbortButtonsEndTheRunningTransfer)
{
    struct Row {
        const char* name;
        bool download;
        const char* abortButton;
    };
    const Row rows[] = {
        { "download page's 中止", true, "BitBtn10" },
        { "upload page's 中止", false, "BitBtn13" },
    };
    const std::string big = Pattern(kLarge, 3);
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server));
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            progressSeen = false;
            auto* abort = Form->findChild<QPushButton*>(row.abortButton);
            OnFirstProgress([this, abort] { QTest::mouseClick(abort, Qt::LeftButton); });
            const std::string name = testsupport::UniqueName("aborted");
            const std::string local = dir / name;
            ClearSeen();
            if (row.download) {
                testsupport::WriteRootFile(server, name, big);
                Type(Ui().RemoteTxt, name);
                Type(Ui().LocalTxt, local);
                Click(Ui().BitBtn8);
                EXPECT_LT(ReadLocalFile(local).size(), big.size());
            } else {
                WriteLocalFile(local, big);
                Type(Ui().Edit3, local);
                Type(Ui().Edit4, name);
                Click(Ui().BitBtn11);
                EXPECT_LT(testsupport::ReadRootFile(server, name).size(), big.size());
            }
            EXPECT_TRUE(progressSeen);
            EXPECT_NE(Status(), row.download ? "操作成功！" : "恢复上传成功！");
            EXPECT_THAT(Boxes, IsEmpty()) << "both handlers drop the abort's exception";
            QObject::disconnect(Ui().StatusBar1, &QStatusBar::messageChanged, Form.get(), nullptr);

            // The window goes on working on the same connection.
            Click(Ui().BitBtn15);
            EXPECT_EQ(Status(), "获取远程文件列表成功！");
        }
        Click(Ui().BitBtn2);
    }
}

TEST_F(TransferControl, ClosingTheWindowAbortsTheTransferAndCloses)
{
    const std::vector<testsupport::RealServer> servers = testsupport::RealServers();
    ASSERT_FALSE(servers.empty());
    const testsupport::RealServer& server = servers.front();
    ASSERT_TRUE(ConnectTo(server));
    const std::string name = testsupport::UniqueName("closing");
    testsupport::WriteRootFile(server, name, Pattern(kLarge, 5));
    const std::string local = dir / name;
    Type(Ui().RemoteTxt, name);
    Type(Ui().LocalTxt, local);
    OnFirstProgress([this] { Form->close(); });

    Click(Ui().BitBtn8);

    EXPECT_TRUE(progressSeen);
    EXPECT_LT(ReadLocalFile(local).size(), kLarge);
    EXPECT_FALSE(Form->isVisible());

    // Closing while nothing runs: the close query allows it and sends nothing.
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ClearSeen();
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(Ftp().Connected) << "no QUIT on closing";
    EXPECT_THAT(Events, IsEmpty());
}

TEST_F(TransferControl, ExitEndsTheLoopOnlyAfterTheTransferItInterruptedHasFinished)
{
    const std::vector<testsupport::RealServer> servers = testsupport::RealServers();
    ASSERT_FALSE(servers.empty());
    const testsupport::RealServer& server = servers.front();
    ASSERT_TRUE(ConnectTo(server));
    const std::string name = testsupport::UniqueName("exit");
    const std::string remote = Pattern(kLarge / 4, 9);
    testsupport::WriteRootFile(server, name, remote);
    const std::string local = dir / name;
    Type(Ui().RemoteTxt, name);
    Type(Ui().LocalTxt, local);
    OnFirstProgress([this] { Click(Ui().BitBtn3); });

    bool downloadReturned = false;
    bool returnedBeforeQuit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, Form.get(),
                     [&] { returnedBeforeQuit = downloadReturned; });
    QTimer::singleShot(0, Form.get(), [&] {
        Click(Ui().BitBtn8);
        downloadReturned = true;
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(30000);

    const int code = QCoreApplication::exec();

    EXPECT_EQ(code, 0) << "7: the loop did not end";
    EXPECT_TRUE(progressSeen);
    EXPECT_TRUE(returnedBeforeQuit);
    EXPECT_TRUE(SameBytes(ReadLocalFile(local), remote)) << "the exit button does not cancel the transfer";
    EXPECT_EQ(Status(), "操作成功！");
    EXPECT_TRUE(Form->isVisible()) << "the close query ran: exiting must not close the window first";
}

} // namespace
} // namespace apptest
