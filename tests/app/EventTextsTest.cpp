// What the window shows for each event of KivFTP1, raised through the
// component's own event members (so the bindings are tested with the texts),
// and the rules of the error report.

#include "FormTestKit.h"

#include "app/Application.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"

#include <climits>

namespace apptest {
namespace {

using kivftp::TCmdType;

struct CodeRow {
    int code;
    const char* success;
    const char* failure;
    const char* unsupported;
};

// Code 15 (print working directory) has no texts at all.
const CodeRow kCodeTexts[] = {
    { 0, "成功跳转到指定目录", "跳转目录失败！", "服务器不支持跳转功能！" },
    { 1, "成功建立新目录", "建立新目录失败！", "服务器不支持建立目录功能！" },
    { 2, "成功删除文件！", "删除文件失败！", "服务器不支持删除文件功能！" },
    { 3, "成功删除文件夹", "删除目录失败！", "服务器不支持删除目录功能" },
    { 4, "获取远程文件列表成功！", "文件列表失败！", "服务器不支持文件列表功能" },
    { 5, "改名操作成功！", "文件改名失败！", "服务器不支持文件改名功能！" },
    { 6, "恢复操作成功！", "上传恢复失败！", "服务器不支持上传恢复功能！" },
    { 7, "操作成功！", "下载恢复失败！", "服务器不支持下载恢复功能！" },
    { 8, "操作成功！", "传输失败！", "服务器不支持下载功能！" },
    { 9, "操作成功！", "传输失败！", "服务器不支持上传功能！" },
    { 10, "恢复上传成功！", "添加传输失败！", "服务器不支持添加上传功能！" },
    { 11, "初始化操作成功！", "操作没有成功！", "服务器拒绝命令请求！！" },
    { 12, "命令交换成功！", "命令没有执行！", "服务器拒绝执行命令！" },
    { 13, "文件夹列表成功！", "文件夹列表失败！", "服务器不支持文件目录列表功能！" },
    { 14, "操作成功！", "命令没有执行！", "服务器不支持这种功能！" },
    { 15, nullptr, nullptr, nullptr },
};

using EventTexts = FormFixture;

TEST_F(EventTexts, SuccessFailureAndUnsupportedTextsByOperationCode)
{
    const std::string before = "(earlier text)";
    for (const CodeRow& row : kCodeTexts) {
        SCOPED_TRACE("code " + std::to_string(row.code));
        const auto code = static_cast<TCmdType>(row.code);

        Ui().StatusBar1->showMessage(QString::fromStdString(before));
        Ftp().OnSuccess(code);
        EXPECT_EQ(Status(), row.success ? row.success : before);

        Ui().StatusBar1->showMessage(QString::fromStdString(before));
        bool handled = false;
        Ftp().OnFailure(handled, code);
        EXPECT_EQ(Status(), row.failure ? row.failure : before);
        EXPECT_FALSE(handled) << "the component must go on to raise its exception";

        Ui().StatusBar1->showMessage(QString::fromStdString(before));
        Boxes.clear();
        Ftp().OnUnSupportedFunction(code);
        EXPECT_EQ(Status(), before) << "the unsupported text goes to a box only";
        if (row.unsupported) {
            ASSERT_EQ(Boxes.size(), 1u);
            EXPECT_EQ(Boxes[0].Text, row.unsupported);
            EXPECT_EQ(Boxes[0].Icon, app::MessageIcon::None);
            EXPECT_EQ(Boxes[0].Title, platform::Application.Title);
        } else {
            EXPECT_TRUE(Boxes.empty());
        }
    }
}

TEST_F(EventTexts, ConnectionProgressAndErrorEvents)
{
    platform::TComponent* sender = &Ftp();
    Ftp().OnHostResolved(sender);
    Ftp().OnConnect(sender);
    bool handled = false;
    Ftp().OnInvalidHost(handled);
    EXPECT_FALSE(handled) << "the connect gives up after an invalid host";
    Ftp().OnConnectionFailed(sender);
    Ftp().OnError(sender, 10061, "Connection refused");
    // Above 32767 the number still reads as unsigned.
    Ftp().OnError(sender, 40000, "odd");
    Ftp().OnTransactionStart(sender);
    Ftp().OnStatus(sender, "230 logged in"); // shows nothing
    Ftp().OnTransactionStop(sender);
    Ftp().OnDisconnect(sender);

    EXPECT_EQ(Events, (Seen {
                          "status: 正在解析主机域名...",
                          "status: 已经成功连接到主机！",
                          "box: 主机地址错误！",
                          "box: 连接失败！",
                          "box: Error 10061: Connection refused",
                          "box: Error 40000: odd",
                          "status: 开始传输数据...",
                          "status: 正在传输数据...",
                          "status: 断开连接！",
                      }));
}

TEST_F(EventTexts, ListingLinesAreNumberedAndAppended)
{
    Ui().Memo1->setPlainText("typed by the user");
    Form->ListLineNo = 1;
    Ftp().OnListItem("abc");
    Ftp().OnListItem("");
    Ftp().OnListItem("drwxr-xr-x 2 ftp ftp 4096 Jan 01 00:00 <b>not markup</b>");
    EXPECT_EQ(Form->ListLineNo, 4);
    EXPECT_EQ(MemoLines(), (std::vector<std::string> {
                               "typed by the user",
                               "1: abc",
                               "2: ",
                               "3: drwxr-xr-x 2 ftp ftp 4096 Jan 01 00:00 <b>not markup</b>",
                           }));

    // The counter's last value does not overflow into undefined behaviour.
    Form->ListLineNo = INT32_MAX;
    Ftp().OnListItem("last");
    EXPECT_EQ(MemoLines().back(), "2147483647: last");
    EXPECT_EQ(Form->ListLineNo, INT32_MIN);
}

TEST_F(EventTexts, DisconnectAfterTheStatusBarIsGoneWritesNothing)
{
    delete Ui().StatusBar1;
    Ftp().OnDisconnect(&Ftp());
    EXPECT_TRUE(Events.empty());
}

TEST(ErrorReport, TitleFromTheExecutableName)
{
    const std::pair<const char*, const char*> cases[] = {
        { "/usr/local/bin/Taviro", "Taviro" },
        { "/opt/taviro/TAVIRO.EXE", "Taviro" },
        { "/build/tests/app/app_tests", "app_tests" },
        { "/dir.with.dots/MyProg.v2.bin", "Myprog" },
        { "Plain", "Plain" },
        { "/x/.hidden", "" },
        { "/x/中文Ab.c", "中文ab" },
    };
    for (const auto& [path, title] : cases)
        EXPECT_EQ(app::ApplicationTitle(path), title) << path;
}

TEST(ErrorReport, FinalPeriodWhenTheLastCharacterSortsAboveIt)
{
    const std::pair<const char*, const char*> cases[] = {
        { "", "" },
        { "Not Connected", "Not Connected." },
        { "I/O 错误 105", "I/O 错误 105." },
        { "'x' 不是一个有效的整形值", "'x' 不是一个有效的整形值." },
        { "done.", "done." },
        { "stop!", "stop!" },
        { "(see above)", "(see above)" },
        { "trailing blank ", "trailing blank " },
        { "a-", "a-" },
        { "path/", "path/." },
        { "550 No such file.\r\n", "550 No such file.\r\n" },
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(app::WithFinalPeriod(message), shown) << message;
}

TEST(ErrorReport, ShowsTheMessageWithTheErrorIconAndTheTitle)
{
    std::vector<app::MessageBoxRequest> boxes;
    const auto previous = app::SetMessageBoxHook([&](const app::MessageBoxRequest& r) { boxes.push_back(r); });
    struct Thrower {
        const char* name;
        std::function<void()> raise;
        std::string shown;
    };
    const Thrower throwers[] = {
        { "platform exception", [] { throw platform::Exception("Not Connected"); }, "Not Connected." },
        { "conversion error", [] { platform::StrToInt("12x"); }, "'12x' 不是一个有效的整形值." },
        { "message with a NUL", [] { throw platform::Exception(std::string("a\0b", 3)); }, std::string("a\0b.", 4) },
        { "standard exception", [] { throw std::runtime_error("boom"); }, "boom." },
        { "not an exception class", [] { throw 42; }, "Unknown exception." },
    };
    for (const Thrower& t : throwers) {
        SCOPED_TRACE(t.name);
        boxes.clear();
        try {
            t.raise();
            ADD_FAILURE() << "did not raise";
        } catch (...) {
            platform::Application.HandleException(std::current_exception());
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].Text, t.shown);
        EXPECT_EQ(boxes[0].Icon, app::MessageIcon::Error);
        EXPECT_EQ(boxes[0].Title, "app_tests");
    }
    app::SetMessageBoxHook(previous);
}

} // namespace
} // namespace apptest
