// The window against real FTP servers on loopback: connecting, both
// listings, downloads, uploads and the directory and file commands, with
// files compared byte for byte and what the user sees checked in order.

#include "FormTestKit.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace apptest {
namespace {

using testing::Contains;
using testing::IsEmpty;

using RealServer = FormFixture;

// Whether `seen` holds `expected` in this order (other entries between them).
bool InOrder(const Seen& seen, const Seen& expected)
{
    auto at = seen.begin();
    for (const std::string& e : expected) {
        at = std::find(at, seen.end(), e);
        if (at == seen.end())
            return false;
        ++at;
    }
    return true;
}

// "1: a", "2: b", ... from line `from` on: the numbers count up from 1.
void ExpectNumberedFromOne(const std::vector<std::string>& lines, std::size_t from, std::size_t count)
{
    ASSERT_LE(from + count, lines.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::string prefix = std::to_string(i + 1) + ": ";
        EXPECT_EQ(lines[from + i].substr(0, prefix.size()), prefix) << lines[from + i];
    }
}

TEST_F(RealServer, ConnectBothListingsAndDisconnect)
{
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server)) << Status();
        EXPECT_THAT(Boxes, IsEmpty());

        // A connect while connected changes nothing and shows nothing.
        ClearSeen();
        Click(Ui().BitBtn1);
        EXPECT_THAT(Events, IsEmpty());

        const std::size_t before = MemoLines().size();
        Click(Ui().BitBtn14); // names
        const std::vector<std::string> afterNames = MemoLines();
        const std::size_t names = afterNames.size() - before;
        EXPECT_EQ(Status(), "文件夹列表成功！");
        ExpectNumberedFromOne(afterNames, before, names);
        EXPECT_THAT(afterNames, Contains(testing::MatchesRegex("[0-9]+: readme\\.txt")));
        EXPECT_THAT(afterNames, Contains(testing::MatchesRegex("[0-9]+: binary\\.bin")));

        Click(Ui().BitBtn15); // full listing, added below
        const std::vector<std::string> afterFull = MemoLines();
        const std::size_t full = afterFull.size() - afterNames.size();
        EXPECT_EQ(Status(), "获取远程文件列表成功！");
        EXPECT_GE(full, 4u);
        ExpectNumberedFromOne(afterFull, afterNames.size(), full);
        EXPECT_TRUE(std::equal(afterNames.begin(), afterNames.end(), afterFull.begin())) << "earlier lines stay";
        EXPECT_THAT(afterFull, Contains(testing::MatchesRegex("[0-9]+: -.* 1024 .*binary\\.bin")));
        EXPECT_THAT(Boxes, IsEmpty());

        ClearSeen();
        Click(Ui().BitBtn2);
        EXPECT_EQ(Events, Seen { "status: 断开连接！" });
        EXPECT_FALSE(Ftp().Connected);
    }
}

TEST_F(RealServer, DownloadAndResumedDownload)
{
    TempDir dir;
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server));
        const std::string remote = testsupport::ReadRootFile(server, "binary.bin");
        ASSERT_EQ(remote.size(), 1024u);
        const std::string local = dir / (server.Name + ".bin");

        WriteLocalFile(local, "old contents that the download replaces");
        Type(Ui().RemoteTxt, "binary.bin");
        Type(Ui().LocalTxt, local);
        ClearSeen();
        Click(Ui().BitBtn8);
        EXPECT_TRUE(SameBytes(ReadLocalFile(local), remote));
        EXPECT_EQ(Status(), "操作成功！");
        EXPECT_TRUE(InOrder(Events, { "status: 开始传输数据...", "status: 正在传输数据...", "status: 操作成功！" }));
        EXPECT_THAT(Events, Contains(testing::MatchesRegex("status: [0-9]+ of [0-9]+")));
        EXPECT_THAT(Boxes, IsEmpty());

        // Resumed from the local file's size.
        WriteLocalFile(local, remote.substr(0, 100));
        ClearSeen();
        Click(Ui().BitBtn9);
        EXPECT_TRUE(SameBytes(ReadLocalFile(local), remote));
        EXPECT_EQ(Status(), "操作成功！");
        EXPECT_THAT(Boxes, IsEmpty());

        Click(Ui().BitBtn2);
    }
}

TEST_F(RealServer, UploadByAppendingAndResumedUploadWithATypedPosition)
{
    TempDir dir;
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server));
        const std::string data = Pattern(300000, 7);
        const std::string local = dir / (server.Name + "-up.bin");
        WriteLocalFile(local, data);

        // "上传" appends: a new name is created, an existing one grows.
        const std::string appended = testsupport::UniqueName("appended");
        Type(Ui().Edit3, local);
        Type(Ui().Edit4, appended);
        ClearSeen();
        Click(Ui().BitBtn11);
        EXPECT_TRUE(SameBytes(testsupport::ReadRootFile(server, appended), data));
        EXPECT_EQ(Status(), "恢复上传成功！");
        EXPECT_TRUE(InOrder(Events, { "status: 开始传输数据...", "status: 正在传输数据...", "status: 恢复上传成功！" }));
        Click(Ui().BitBtn11);
        EXPECT_TRUE(SameBytes(testsupport::ReadRootFile(server, appended), data + data));

        // "恢复" resumes from the typed position.
        const std::string resumed = testsupport::UniqueName("resumed");
        testsupport::WriteRootFile(server, resumed, data.substr(0, 120000));
        Type(Ui().Edit4, resumed);
        Type(Ui().PosTxt, "120000");
        ClearSeen();
        Click(Ui().BitBtn12);
        EXPECT_TRUE(SameBytes(testsupport::ReadRootFile(server, resumed), data));
        EXPECT_EQ(Status(), "操作成功！");

        // The same through Button13, reached with the keyboard only, and a
        // hexadecimal position.
        const std::string byKeyboard = testsupport::UniqueName("keyboard");
        testsupport::WriteRootFile(server, byKeyboard, data.substr(0, 0x1F4));
        Type(Ui().Edit4, byKeyboard);
        Type(Ui().PosTxt, "$1F4");
        ShowPageOf(Ui().Edit4);
        Form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        Ui().Edit4->setFocus(Qt::TabFocusReason);
        QTest::keyClick(Ui().Edit4, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Ui().Button13);
        QTest::keyClick(Ui().Button13, Qt::Key_Space);
        EXPECT_TRUE(SameBytes(testsupport::ReadRootFile(server, byKeyboard), data));

        // A position that is not an integer: nothing is sent, nothing shown.
        for (const char* position : { "", "12ab", " " }) {
            SCOPED_TRACE(std::string("position '") + position + "'");
            testsupport::WriteRootFile(server, resumed, "unchanged");
            Type(Ui().PosTxt, position);
            ClearSeen();
            Click(Ui().BitBtn12);
            EXPECT_THAT(Events, IsEmpty());
            EXPECT_EQ(testsupport::ReadRootFile(server, resumed), "unchanged");
        }
        // The connection was left as it was: the next command works.
        Type(Ui().DirTxt, "/");
        Click(Ui().BitBtn16);
        EXPECT_EQ(Status(), "成功跳转到指定目录");

        Click(Ui().BitBtn2);
    }
}

TEST_F(RealServer, HiddenButtonsStoreAndStoreUnderAServerChosenName)
{
    TempDir dir;
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server));
        // Unique content, so the copy the server names is found by it.
        const std::string data = Pattern(70000, 11) + testsupport::UniqueName("content");
        const std::string local = dir / (server.Name + "-stored.bin");
        WriteLocalFile(local, data);
        const std::string stored = testsupport::UniqueName("stored");
        testsupport::WriteRootFile(server, stored, "replaced, not appended to");
        Type(Ui().Edit3, local);
        Type(Ui().Edit4, stored);

        // No visible control runs these two; their hidden buttons do.
        Ui().Button10->click();
        EXPECT_TRUE(SameBytes(testsupport::ReadRootFile(server, stored), data));
        EXPECT_EQ(Status(), "操作成功！");

        Ui().Button12->click();
        EXPECT_EQ(Status(), "操作成功！");
        int copies = 0;
        for (const auto& entry : std::filesystem::directory_iterator(server.Root))
            if (entry.is_regular_file() && entry.path().filename() != stored
                && entry.file_size() == data.size()
                && testsupport::ReadRootFile(server, entry.path().filename().string()) == data)
                ++copies;
        EXPECT_EQ(copies, 1) << "one new file, under a name the server chose";
        EXPECT_THAT(Boxes, IsEmpty());
        Click(Ui().BitBtn2);
    }
}

TEST_F(RealServer, DirectoryAndFileCommands)
{
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server));
        const std::string folder = testsupport::UniqueName("folder");
        const std::string before = testsupport::UniqueName("before");
        const std::string after = testsupport::UniqueName("after");
        testsupport::WriteRootFile(server, before, "renamed and deleted");
        const std::filesystem::path root(server.Root);

        Type(Ui().Edit1, folder);
        Click(Ui().BitBtn6);
        EXPECT_EQ(Status(), "成功建立新目录");
        EXPECT_TRUE(std::filesystem::is_directory(root / folder));

        Type(Ui().DirTxt, folder);
        Click(Ui().BitBtn16);
        EXPECT_EQ(Status(), "成功跳转到指定目录");
        Type(Ui().DirTxt, "/");
        Click(Ui().BitBtn16);
        EXPECT_EQ(Status(), "成功跳转到指定目录");

        Type(Ui().Edit8, before);
        Type(Ui().Edit9, after);
        Click(Ui().BitBtn5);
        EXPECT_EQ(Status(), "改名操作成功！");
        EXPECT_EQ(testsupport::ReadRootFile(server, after), "renamed and deleted");
        EXPECT_FALSE(std::filesystem::exists(root / before));

        Type(Ui().Edit5, after);
        Click(Ui().BitBtn4);
        EXPECT_EQ(Status(), "成功删除文件！");
        EXPECT_FALSE(std::filesystem::exists(root / after));

        Type(Ui().Edit2, folder);
        Click(Ui().BitBtn7);
        EXPECT_EQ(Status(), "成功删除文件夹");
        EXPECT_FALSE(std::filesystem::exists(root / folder));

        EXPECT_THAT(Boxes, IsEmpty());
        Click(Ui().BitBtn2);
    }
}

struct RefusedRow {
    const char* name;
    std::function<void(Ui::TForm1&)> fill;
    const char* button;
    const char* failureText;
    bool errorBox; // not caught: the reply reaches the error report
};

TEST_F(RealServer, RefusedCommandsShowTheFailureTextAndWhereNotCaughtTheReply)
{
    TempDir dir;
    const std::string local = dir / "local.bin";
    const RefusedRow rows[] = {
        { "change to a missing directory", [](Ui::TForm1& ui) { ui.DirTxt->setText("no-such-dir"); }, "BitBtn16",
          "跳转目录失败！", true },
        { "make an existing directory", [](Ui::TForm1& ui) { ui.Edit1->setText("sub"); }, "BitBtn6",
          "建立新目录失败！", true },
        { "remove a missing directory", [](Ui::TForm1& ui) { ui.Edit2->setText("no-such-dir"); }, "BitBtn7",
          "删除目录失败！", true },
        { "delete a missing file", [](Ui::TForm1& ui) { ui.Edit5->setText("no-such-file"); }, "BitBtn4",
          "删除文件失败！", true },
        { "rename a missing file", [](Ui::TForm1& ui) { ui.Edit8->setText("no-such-file"); ui.Edit9->setText("x"); },
          "BitBtn5", "文件改名失败！", true },
        { "resume the download of a missing file",
          [&](Ui::TForm1& ui) { ui.RemoteTxt->setText("no-such-file"); ui.LocalTxt->setText(QString::fromStdString(local)); },
          "BitBtn9", "传输失败！", true },
        { "download a missing file",
          [&](Ui::TForm1& ui) { ui.RemoteTxt->setText("no-such-file"); ui.LocalTxt->setText(QString::fromStdString(local)); },
          "BitBtn8", "传输失败！", false },
    };
    for (const testsupport::RealServer& server : testsupport::RealServers()) {
        SCOPED_TRACE(server.Name);
        ASSERT_TRUE(ConnectTo(server));
        for (const RefusedRow& row : rows) {
            SCOPED_TRACE(row.name);
            WriteLocalFile(local, "kept");
            row.fill(Ui());
            ClearSeen();
            Click(Form->findChild<QPushButton*>(row.button));
            EXPECT_EQ(Status(), row.failureText);
            if (row.errorBox) {
                ASSERT_EQ(Boxes.size(), 1u);
                // The reply's first line as the server sent it, line end
                // included, so no period is added.
                EXPECT_THAT(Boxes[0].Text, testing::MatchesRegex("5[0-9][0-9] .*\r\n"));
                EXPECT_EQ(Boxes[0].Icon, app::MessageIcon::Error);
                EXPECT_EQ(Events.back(), "error: " + Boxes[0].Text) << "the box comes after the failure text";
            } else {
                EXPECT_THAT(Boxes, IsEmpty());
            }
            EXPECT_TRUE(Ftp().Connected);
        }
        Click(Ui().BitBtn2);
    }
}

} // namespace
} // namespace apptest
