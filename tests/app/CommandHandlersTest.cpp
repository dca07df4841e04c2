// The buttons' handlers where no server is needed, or a scripted one shows
// the exact order of what the user sees: which handlers drop their
// exceptions and which let them reach the error report, the listing counter,
// and the proxy-port conversion error.

#include "FormTestKit.h"

#include "support/ScriptedPeer.h"

#include <gmock/gmock.h>

namespace apptest {
namespace {

using CommandHandlers = FormFixture;

enum class Shown { Nothing, FailureText, NotConnectedBox };

struct NotConnectedRow {
    const char* button;
    Shown shown;
};

TEST_F(CommandHandlers, WhatEachButtonShowsWhenNotConnected)
{
    const NotConnectedRow rows[] = {
        // Caught and dropped: nothing at all.
        { "BitBtn14", Shown::Nothing }, { "Button3", Shown::Nothing },   // name listing
        { "BitBtn15", Shown::Nothing }, { "Button4", Shown::Nothing },   // full listing
        { "BitBtn11", Shown::Nothing }, { "Button11", Shown::Nothing },  // append upload
        { "BitBtn12", Shown::Nothing }, { "Button13", Shown::Nothing },  // resumed upload
        { "Button12", Shown::Nothing },                                   // unique upload
        // Caught and dropped too, but the component's Download and Upload
        // offer every exception, "Not Connected" included, to OnFailure with
        // code 9 first: its failure text is what shows.
        { "BitBtn8", Shown::FailureText }, { "Button6", Shown::FailureText }, // download
        { "Button10", Shown::FailureText },                                    // plain upload
        // Abort and disconnect have nothing to act on.
        { "BitBtn10", Shown::Nothing }, { "BitBtn13", Shown::Nothing },
        { "Button7", Shown::Nothing },  { "Button9", Shown::Nothing },
        { "BitBtn2", Shown::Nothing },  { "Button2", Shown::Nothing },
        // Not caught: the component's "Not Connected" in the error box.
        { "BitBtn9", Shown::NotConnectedBox },  { "Button8", Shown::NotConnectedBox },  // resumed download
        { "BitBtn6", Shown::NotConnectedBox },  { "Button14", Shown::NotConnectedBox }, // make directory
        { "BitBtn7", Shown::NotConnectedBox },  { "Button15", Shown::NotConnectedBox }, // remove directory
        { "BitBtn4", Shown::NotConnectedBox },  { "Button16", Shown::NotConnectedBox }, // delete
        { "BitBtn5", Shown::NotConnectedBox },  { "Button18", Shown::NotConnectedBox }, // rename
        { "BitBtn16", Shown::NotConnectedBox }, { "Button5", Shown::NotConnectedBox },  // change directory
    };
    Type(Ui().PosTxt, "10");
    for (const NotConnectedRow& row : rows) {
        SCOPED_TRACE(row.button);
        auto* button = Form->findChild<QPushButton*>(row.button);
        ASSERT_NE(button, nullptr);
        Ui().StatusBar1->showMessage("unchanged");
        ClearSeen();
        // Hidden buttons cannot be clicked with the mouse; they still run
        // their handler when activated.
        if (button->isHidden())
            button->click();
        else
            Click(button);
        switch (row.shown) {
        case Shown::Nothing:
            EXPECT_THAT(Events, testing::IsEmpty());
            EXPECT_EQ(Status(), "unchanged");
            break;
        case Shown::FailureText:
            EXPECT_EQ(Events, Seen { "status: 传输失败！" });
            break;
        case Shown::NotConnectedBox:
            ASSERT_EQ(Boxes.size(), 1u);
            EXPECT_EQ(Boxes[0].Text, "Not Connected.");
            EXPECT_EQ(Boxes[0].Icon, app::MessageIcon::Error);
            EXPECT_EQ(Boxes[0].Title, "app_tests");
            EXPECT_EQ(Status(), "unchanged");
            break;
        }
        EXPECT_FALSE(Ftp().Connected);
    }
}

TEST_F(CommandHandlers, ListingButtonsRestartTheLineNumbersEvenWhenTheListingFails)
{
    for (QPushButton* button : { Ui().BitBtn14, Ui().BitBtn15 }) {
        SCOPED_TRACE(button->objectName().toStdString());
        Form->ListLineNo = 57;
        Click(button);
        EXPECT_EQ(Form->ListLineNo, 1);
    }
}

TEST_F(CommandHandlers, NonIntegerProxyPortStopsTheConnectAfterTheProxyIsSet)
{
    Ftp().Host = "earlier.host";
    Ftp().UserID = "earlier-user";
    Ftp().Password = "earlier-password";
    Ftp().TimeOut = 1234;
    Ui().CheckBox1->setChecked(true);
    Type(Ui().Edit6, "proxy.invalid");
    Type(Ui().Edit7, "21x");
    Type(Ui().HostTxt, "127.0.0.1");
    Type(Ui().UserTxt, "someone");
    Type(Ui().PassTxt, "secret");

    Click(Ui().BitBtn1);

    EXPECT_EQ(Events, Seen { "error: '21x' 不是一个有效的整形值." });
    EXPECT_EQ(Ftp().Proxy, "proxy.invalid");
    EXPECT_EQ(Ftp().ProxyPort, 0);
    EXPECT_EQ(Ftp().Host, "earlier.host");
    EXPECT_EQ(Ftp().Port, 21);
    EXPECT_EQ(Ftp().TimeOut, 1234);
    EXPECT_EQ(Ftp().UserID, "earlier-user");
    EXPECT_EQ(Ftp().Password, "earlier-password");
    EXPECT_FALSE(Ftp().Connected);
}

TEST_F(CommandHandlers, ProxySettingsStayWhenTheBoxIsCleared)
{
    // An unreadable port box stops each connect after the proxy and the host
    // have been taken, before anything goes out.
    Type(Ui().PortTxt, "");
    Ui().CheckBox1->setChecked(true);
    Type(Ui().Edit6, "proxy.invalid");
    Type(Ui().Edit7, "$50"); // hexadecimal, as the conversion allows
    Type(Ui().HostTxt, "first.invalid");
    Click(Ui().BitBtn1);
    EXPECT_EQ(Events, Seen { "error: '' 不是一个有效的整形值." });
    EXPECT_EQ(Ftp().Proxy, "proxy.invalid");
    EXPECT_EQ(Ftp().ProxyPort, 80);
    EXPECT_EQ(Ftp().Host, "first.invalid");

    Ui().CheckBox1->setChecked(false);
    Type(Ui().Edit6, "other.invalid");
    Type(Ui().Edit7, "not read");
    Type(Ui().HostTxt, "second.invalid");
    Click(Ui().BitBtn1);
    EXPECT_EQ(Ftp().Proxy, "proxy.invalid") << "a clear box leaves the proxy as it was";
    EXPECT_EQ(Ftp().ProxyPort, 80);
    EXPECT_EQ(Ftp().Host, "second.invalid");
    EXPECT_FALSE(Ftp().Connected);
}

TEST_F(CommandHandlers, UnsupportedReplyShowsItsBoxThenTheFailureTextThenTheError)
{
    testsupport::ScriptedPeer peer;
    peer.Send("220 scripted\r\n")
        .ExpectAndReply("USER u\r\n", "331 password\r\n")
        .ExpectAndReply("PASS p\r\n", "230 in\r\n")
        .ExpectAndReply("TYPE I\r\n", "200 Type set to I.\r\n")
        .ExpectAndReply("MKD fresh\r\n", "502 MKD not implemented.\r\n")
        .WaitClientClose();
    peer.Start();
    Type(Ui().HostTxt, "127.0.0.1");
    Type(Ui().PortTxt, std::to_string(peer.Port()));
    Type(Ui().UserTxt, "u");
    Type(Ui().PassTxt, "p");
    Click(Ui().BitBtn1);
    ASSERT_EQ(Status(), "已经成功连接到主机！");

    ClearSeen();
    Type(Ui().Edit1, "fresh");
    Click(Ui().BitBtn6);
    EXPECT_EQ(Events, (Seen {
                          "box: 服务器不支持建立目录功能！",
                          "status: 建立新目录失败！",
                          "error: 502 MKD not implemented.\r\n",
                      }));

    Form.reset(); // closes the connection
    EXPECT_TRUE(peer.Finish());
    EXPECT_THAT(peer.Errors(), testing::IsEmpty());
}

} // namespace
} // namespace apptest
