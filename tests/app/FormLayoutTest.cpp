// The form as stored: window settings, pages, controls with their captions,
// positions, sizes, fonts, visibility and tab order, and KivFTP1's settings.

#include "FormTestKit.h"

#include "app/TWrapTabControl.h"

#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>

#include <set>

namespace apptest {
namespace {

using FormLayout = FormFixture;

TEST_F(FormLayout, WindowSettings)
{
    EXPECT_EQ(Form->windowTitle().toStdString(), "Taviro");
    EXPECT_EQ(Form->size(), QSize(397, 253));
    EXPECT_EQ(Form->minimumSize(), QSize(397, 253));
    EXPECT_EQ(Form->maximumSize(), QSize(397, 253));
    const Qt::WindowFlags flags = Form->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_EQ(Form->windowIcon().availableSizes(), QList<QSize> { QSize(32, 32) });

    // Centred on the screen, give or take the frame's border.
    const QPoint offCentre = Form->frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(std::abs(offCentre.x()), 4);
    EXPECT_LE(std::abs(offCentre.y()), 4);

    EXPECT_EQ(Ui().PageControl1->geometry(), QRect(0, 0, 397, 230));
    EXPECT_EQ(Ui().StatusBar1->geometry(), QRect(0, 230, 397, 23));
    EXPECT_EQ(Ui().PageControl1->currentWidget(), Ui().TabSheet7) << "the welcome page is in front";

    EXPECT_EQ(Form->font().pixelSize(), 11);
    EXPECT_EQ(QFontInfo(Ui().StatusBar1->font()).pixelSize(), 11);
    EXPECT_EQ(Ui().PageControl1->font().pixelSize(), 12);
    EXPECT_EQ(QFontInfo(Ui().PageControl1->font()).family().toStdString(), "WenQuanYi Zen Hei");
}

TEST_F(FormLayout, StartState)
{
    EXPECT_EQ(Status(), "");
    EXPECT_TRUE(Ui().Memo1->toPlainText().isEmpty());
    EXPECT_EQ(Ui().PortTxt->text().toStdString(), "21");
    EXPECT_TRUE(Ui().PortTxt->isReadOnly());
    EXPECT_EQ(Ui().PassTxt->echoMode(), QLineEdit::Normal) << "the password is shown as typed";
    EXPECT_FALSE(Ui().CheckBox1->isChecked());
    EXPECT_EQ(Form->ListLineNo, 0);
    for (QLineEdit* edit : Form->findChildren<QLineEdit*>())
        if (edit != Ui().PortTxt) {
            EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
        }

    EXPECT_EQ(Ui().Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(Ui().Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_FALSE(Ui().Memo1->isReadOnly());
}

struct PageRow {
    const char* name;
    const char* caption;
    int image;
};

TEST_F(FormLayout, PagesWrapOntoTwoRowsAndLeaveEachPage389By182)
{
    const PageRow pages[] = {
        { "TabSheet1", "登陆信息", 0 }, { "TabSheet2", "远程文件列表", 1 }, { "TabSheet4", "下载", 4 },
        { "TabSheet6", "上传", 5 },     { "TabSheet5", "远程文件管理", 2 }, { "TabSheet7", "欢迎页面", 8 },
    };
    TWrapTabControl* control = Ui().PageControl1;
    ASSERT_EQ(control->count(), 6);
    std::set<int> rowTops;
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(pages[i].name);
        QWidget* page = control->widget(i);
        EXPECT_EQ(page->objectName().toStdString(), pages[i].name);
        EXPECT_EQ(control->tabText(i).toStdString(), pages[i].caption);
        // Compared premultiplied: transparent pixels have no colour to compare.
        const QImage shown
            = control->tabIcon(i).pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage stored = QImage(QString(":/taviro/tabs/tab%1.png").arg(pages[i].image))
                                  .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        EXPECT_FALSE(stored.isNull());
        EXPECT_TRUE(shown == stored) << "tab image " << pages[i].image;
        rowTops.insert(control->WrapBar()->WrappedTabRect(i).top());

        control->setCurrentIndex(i);
        EXPECT_EQ(page->size(), QSize(389, 182));
        EXPECT_EQ(page->mapTo(control, QPoint(0, 0)), QPoint(4, 44));
    }
    EXPECT_EQ(rowTops.size(), 2u) << "six captioned tabs take two rows";
    EXPECT_EQ(control->WrapBar()->RowCount(control->width()), 2);
}

struct ControlRow {
    const char* name;
    const char* kind;
    const char* text;
    QRect geometry;
    bool glyph;
};

TEST_F(FormLayout, ControlsOfEveryPage)
{
    const ControlRow controls[] = {
        // Page 0
        { "Label1", "QLabel", "主机", { 56, 14, 24, 12 }, false },
        { "HostTxt", "QLineEdit", "", { 109, 11, 121, 20 }, false },
        { "Label2", "QLabel", "端口", { 56, 46, 24, 12 }, false },
        { "PortTxt", "QLineEdit", "21", { 109, 42, 28, 20 }, false },
        { "Label3", "QLabel", "用户名", { 56, 76, 36, 12 }, false },
        { "UserTxt", "QLineEdit", "", { 109, 72, 121, 20 }, false },
        { "Label4", "QLabel", "密码", { 56, 104, 24, 12 }, false },
        { "PassTxt", "QLineEdit", "", { 109, 100, 121, 20 }, false },
        { "CheckBox1", "QCheckBox", "使用代理", { 248, 14, 104, 17 }, false },
        { "Label16", "QLabel", "代理服务器地址", { 248, 32, 84, 12 }, false },
        { "Edit6", "QLineEdit", "", { 248, 54, 81, 20 }, false },
        { "Label17", "QLabel", "代理服务器端口", { 248, 86, 84, 12 }, false },
        { "Edit7", "QLineEdit", "", { 248, 100, 33, 20 }, false },
        { "BitBtn1", "QPushButton", "连接", { 56, 134, 75, 25 }, true },
        { "BitBtn2", "QPushButton", "断开", { 160, 134, 75, 25 }, true },
        { "BitBtn3", "QPushButton", "退出", { 264, 134, 75, 25 }, true },
        // Page 1
        { "BitBtn14", "QPushButton", "文件夹列表", { 64, 3, 84, 25 }, true },
        { "BitBtn15", "QPushButton", "文件列表", { 232, 3, 84, 25 }, true },
        { "Memo1", "QPlainTextEdit", "", { 0, 40, 389, 142 }, false },
        // Page 2
        { "Label7", "QLabel", "远程文件夹", { 90, 28, 60, 12 }, false },
        { "RemoteTxt", "QLineEdit", "", { 165, 24, 121, 20 }, false },
        { "Label8", "QLabel", "本地文件夹", { 90, 75, 60, 12 }, false },
        { "LocalTxt", "QLineEdit", "", { 165, 72, 121, 20 }, false },
        { "BitBtn8", "QPushButton", "下载", { 48, 112, 75, 25 }, true },
        { "BitBtn9", "QPushButton", "恢复", { 144, 112, 75, 25 }, true },
        { "BitBtn10", "QPushButton", "中止", { 248, 112, 75, 25 }, true },
        // Page 3
        { "Label11", "QLabel", "本地文件夹", { 54, 27, 60, 12 }, false },
        { "Edit3", "QLineEdit", "", { 117, 24, 121, 20 }, false },
        { "Label12", "QLabel", "远程文件夹", { 54, 76, 60, 12 }, false },
        { "Edit4", "QLineEdit", "", { 117, 72, 121, 20 }, false },
        { "BitBtn11", "QPushButton", "上传", { 252, 48, 70, 25 }, true },
        { "Label9", "QLabel", "位置", { 137, 126, 24, 12 }, false },
        { "PosTxt", "QLineEdit", "", { 177, 122, 40, 20 }, false },
        { "BitBtn12", "QPushButton", "恢复", { 48, 120, 75, 25 }, true },
        { "BitBtn13", "QPushButton", "中止", { 252, 120, 70, 25 }, true },
        { "Button13", "QPushButton", "UploadRestore", { 120, 208, 91, 25 }, false },
        // Page 4
        { "Label10", "QLabel", "新建目录", { 33, 19, 48, 12 }, false },
        { "Edit1", "QLineEdit", "", { 85, 16, 121, 20 }, false },
        { "BitBtn6", "QPushButton", "建立", { 272, 8, 75, 25 }, true },
        { "Label13", "QLabel", "删除目录", { 33, 51, 48, 12 }, false },
        { "Edit2", "QLineEdit", "", { 85, 48, 121, 20 }, false },
        { "BitBtn7", "QPushButton", "删除", { 272, 43, 75, 25 }, true },
        { "Label14", "QLabel", "删除文件", { 33, 83, 48, 12 }, false },
        { "Edit5", "QLineEdit", "", { 85, 79, 121, 20 }, false },
        { "BitBtn4", "QPushButton", "删除", { 272, 78, 75, 25 }, true },
        { "Label18", "QLabel", "重命名", { 33, 115, 36, 12 }, false },
        { "Edit8", "QLineEdit", "", { 85, 111, 68, 20 }, false },
        { "Label19", "QLabel", "为", { 163, 115, 12, 12 }, false },
        { "Edit9", "QLineEdit", "", { 179, 111, 70, 20 }, false },
        { "BitBtn5", "QPushButton", "修改", { 272, 113, 75, 25 }, true },
        { "Label6", "QLabel", "到指定目录: ", { 33, 152, 72, 12 }, false },
        { "DirTxt", "QLineEdit", "", { 112, 147, 129, 20 }, false },
        { "BitBtn16", "QPushButton", "跳转", { 272, 148, 75, 25 }, true },
        // Page 5
        { "Image1", "QLabel", "", { 70, 27, 240, 124 }, false },
    };
    std::set<QWidget*> listed;
    for (const ControlRow& row : controls) {
        SCOPED_TRACE(row.name);
        auto* widget = Form->findChild<QWidget*>(row.name);
        ASSERT_NE(widget, nullptr);
        listed.insert(widget);
        EXPECT_STREQ(widget->metaObject()->className(), row.kind);
        EXPECT_EQ(widget->geometry(), row.geometry);
        EXPECT_FALSE(widget->isHidden());
        const QVariant text = widget->property("text");
        if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
            EXPECT_EQ(memo->toPlainText().toStdString(), row.text);
        } else if (text.isValid()) {
            EXPECT_EQ(text.toString().toStdString(), row.text);
        }
        // Every control on the pages uses the tab control's font.
        EXPECT_EQ(widget->font().pixelSize(), 12);
        EXPECT_EQ(QFontInfo(widget->font()).family().toStdString(), "WenQuanYi Zen Hei");
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(!button->icon().isNull(), row.glyph);
            if (row.glyph) {
                EXPECT_EQ(button->iconSize(), QSize(16, 16));
                const QImage glyph = button->icon().pixmap(16, 16).toImage();
                EXPECT_EQ(glyph.size(), QSize(16, 16));
                EXPECT_EQ(qAlpha(glyph.pixel(0, 15)), 0) << "the bottom-left colour is transparent";
            }
        }
    }
    // Nothing else is visible on the pages.
    for (int i = 0; i < Ui().PageControl1->count(); ++i) {
        QWidget* page = Ui().PageControl1->widget(i);
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!child->isHidden()) {
                EXPECT_TRUE(listed.count(child)) << child->objectName().toStdString() << " is not in the form's list";
            }
    }
}

struct HiddenRow {
    const char* name;
    int page;
    const char* caption;
};

TEST_F(FormLayout, HiddenButtonsAndButton13BelowTheVisibleArea)
{
    const HiddenRow hidden[] = {
        { "Button1", 0, "Connect" },       { "Button2", 0, "Disconnect" },   { "Button3", 1, "文件列表" },
        { "Button4", 1, "详细列表" },      { "Button6", 2, "Download" },      { "Button7", 2, "Abort" },
        { "Button8", 2, "Download Restore" }, { "Button10", 3, "Upload" },    { "Button11", 3, "Upload Append" },
        { "Button9", 3, "Abort" },         { "Button12", 3, "Upload Unique" }, { "Button14", 4, "" },
        { "Button15", 4, "" },             { "Button16", 4, "Delete" },       { "Button18", 4, "修改" },
        { "Button5", 4, "跳转" },
    };
    for (const HiddenRow& row : hidden) {
        SCOPED_TRACE(row.name);
        auto* button = Form->findChild<QPushButton*>(row.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->parentWidget(), Ui().PageControl1->widget(row.page));
        EXPECT_EQ(button->text().toStdString(), row.caption);
        Ui().PageControl1->setCurrentIndex(row.page);
        EXPECT_TRUE(button->isHidden());
        EXPECT_FALSE(button->isVisible());
    }

    // Button13 is shown, but below its page's 182 pixels: nothing of it can
    // be seen or clicked.
    Ui().PageControl1->setCurrentWidget(Ui().TabSheet6);
    EXPECT_TRUE(Ui().Button13->isVisible());
    EXPECT_GE(Ui().Button13->y(), Ui().TabSheet6->height());
    EXPECT_TRUE(Ui().Button13->visibleRegion().isEmpty());
}

TEST_F(FormLayout, TabOrderWithinEachPage)
{
    const std::vector<std::vector<const char*>> orders = {
        { "HostTxt", "PortTxt", "UserTxt", "PassTxt", "CheckBox1", "Edit6", "Edit7", "BitBtn1", "BitBtn2", "BitBtn3" },
        { "Memo1", "BitBtn14", "BitBtn15" },
        { "RemoteTxt", "LocalTxt", "BitBtn8", "BitBtn9", "BitBtn10" },
        { "Edit3", "Edit4", "Button13", "PosTxt", "BitBtn11", "BitBtn12", "BitBtn13" },
        { "Edit1", "Edit2", "BitBtn6", "BitBtn7", "BitBtn4", "Edit5", "Edit8", "Edit9", "BitBtn5", "DirTxt", "BitBtn16" },
    };
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    for (std::size_t page = 0; page < orders.size(); ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        const auto& order = orders[page];
        Ui().PageControl1->setCurrentIndex(static_cast<int>(page));
        auto* first = Form->findChild<QWidget*>(order.front());
        first->setFocus(Qt::TabFocusReason);
        std::vector<std::string> reached { order.front() };
        // The Tab key, as many times as the page has stops.
        for (std::size_t i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focus = QApplication::focusWidget();
            reached.push_back(focus ? focus->objectName().toStdString() : "(none)");
        }
        EXPECT_EQ(reached, std::vector<std::string>(order.begin(), order.end()));
    }
}

TEST_F(FormLayout, WelcomePictureDecodedAtItsOwnSize)
{
    const QPixmap picture = Ui().Image1->pixmap();
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(240, 124));
    EXPECT_EQ(Ui().Image1->geometry(), QRect(70, 27, 240, 124));
    EXPECT_EQ(Ui().TabSheet7->findChildren<QWidget*>().size(), 1) << "the page has no other control";
}

TEST_F(FormLayout, KivFTP1StoredSettingsAndBindings)
{
    const kivftp::TKivFTP& ftp = Ftp();
    EXPECT_EQ(ftp.Port, 21);
    EXPECT_EQ(ftp.ReportLevel, 0);
    EXPECT_EQ(ftp.Vendor, 2411);
    EXPECT_FALSE(ftp.ParseList);
    EXPECT_EQ(ftp.ProxyPort, 0);
    EXPECT_FALSE(ftp.Passive);
    EXPECT_EQ(ftp.FirewallType, kivftp::TFirewallType::FTUser);
    EXPECT_FALSE(ftp.FWAuthenticate);
    EXPECT_EQ(ftp.Host, "");
    EXPECT_EQ(ftp.UserID, "");
    EXPECT_EQ(ftp.Password, "");
    EXPECT_EQ(ftp.Proxy, "");
    EXPECT_EQ(ftp.FWUserID, "");
    EXPECT_EQ(ftp.FWPassword, "");
    EXPECT_EQ(ftp.TimeOut, 0);

    const std::pair<const char*, bool> bound[] = {
        { "OnDisconnect", bool(ftp.OnDisconnect) },
        { "OnConnect", bool(ftp.OnConnect) },
        { "OnInvalidHost", bool(ftp.OnInvalidHost) },
        { "OnHostResolved", bool(ftp.OnHostResolved) },
        { "OnStatus", bool(ftp.OnStatus) },
        { "OnConnectionFailed", bool(ftp.OnConnectionFailed) },
        { "OnPacketRecvd", bool(ftp.OnPacketRecvd) },
        { "OnPacketSent", bool(ftp.OnPacketSent) },
        { "OnError", bool(ftp.OnError) },
        { "OnTransactionStart", bool(ftp.OnTransactionStart) },
        { "OnTransactionStop", bool(ftp.OnTransactionStop) },
        { "OnFailure", bool(ftp.OnFailure) },
        { "OnSuccess", bool(ftp.OnSuccess) },
        { "OnListItem", bool(ftp.OnListItem) },
        { "OnUnSupportedFunction", bool(ftp.OnUnSupportedFunction) },
    };
    for (const auto& [name, isBound] : bound)
        EXPECT_TRUE(isBound) << name;
    EXPECT_FALSE(ftp.OnConnectionRequired);
    EXPECT_FALSE(ftp.OnAuthenticationNeeded);
    EXPECT_FALSE(ftp.OnAuthenticationFailed);
    EXPECT_FALSE(static_cast<const doziz::TVazadezuv&>(ftp).OnConnect) << "the socket's own connect event stays free";
}

} // namespace
} // namespace apptest
