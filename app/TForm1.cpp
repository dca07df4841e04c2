#include "app/TForm1.h"

#include "ui_TForm1.h"

#include "app/Application.h"
#include "app/JpegPicture.h"
#include "app/MessageBox.h"
#include "app/StdOutput.h"
#include "platform/Forms.h"
#include "platform/SysUtils.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include <array>
#include <functional>

namespace {

using kivftp::TCmdType;

// Texts by operation code; the last code (print working directory) has none.
constexpr std::size_t kCodeCount = 16;
using CodeTexts = std::array<const char*, kCodeCount>;

constexpr CodeTexts kSuccessTexts = {
    "成功跳转到指定目录", "成功建立新目录", "成功删除文件！", "成功删除文件夹",
    "获取远程文件列表成功！", "改名操作成功！", "恢复操作成功！", "操作成功！",
    "操作成功！", "操作成功！", "恢复上传成功！", "初始化操作成功！",
    "命令交换成功！", "文件夹列表成功！", "操作成功！", nullptr,
};

constexpr CodeTexts kFailureTexts = {
    "跳转目录失败！", "建立新目录失败！", "删除文件失败！", "删除目录失败！",
    "文件列表失败！", "文件改名失败！", "上传恢复失败！", "下载恢复失败！",
    "传输失败！", "传输失败！", "添加传输失败！", "操作没有成功！",
    "命令没有执行！", "文件夹列表失败！", "命令没有执行！", nullptr,
};

constexpr CodeTexts kUnsupportedTexts = {
    "服务器不支持跳转功能！", "服务器不支持建立目录功能！", "服务器不支持删除文件功能！",
    "服务器不支持删除目录功能", "服务器不支持文件列表功能", "服务器不支持文件改名功能！",
    "服务器不支持上传恢复功能！", "服务器不支持下载恢复功能！", "服务器不支持下载功能！",
    "服务器不支持上传功能！", "服务器不支持添加上传功能！", "服务器拒绝命令请求！！",
    "服务器拒绝执行命令！", "服务器不支持文件目录列表功能！", "服务器不支持这种功能！", nullptr,
};

// The text for `code`, or null when the code has none.
const char* TextFor(const CodeTexts& texts, TCmdType code)
{
    const auto index = static_cast<std::size_t>(code);
    return index < texts.size() ? texts[index] : nullptr;
}

std::string Text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

// The point sizes stored in the form, as the pixel heights they have at 96
// dots per inch, so that the captions keep fitting the form's pixel layout on
// any screen.
void PinFontToPixels(QWidget* widget)
{
    QFont font = widget->font();
    if (font.pointSizeF() > 0) {
        font.setPixelSize(qRound(font.pointSizeF() * 96.0 / 72.0));
        widget->setFont(font);
    }
}

// A glyph's bottom-left colour marks its transparent pixels.
void MaskGlyph(QAbstractButton* button)
{
    const QIcon icon = button->icon();
    if (icon.isNull())
        return;
    QPixmap pixmap = icon.pixmap(button->iconSize());
    const QImage image = pixmap.toImage();
    if (image.isNull())
        return;
    const QColor transparent = image.pixelColor(0, image.height() - 1);
    pixmap.setMask(pixmap.createMaskFromColor(transparent, Qt::MaskInColor));
    button->setIcon(QIcon(pixmap));
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::TForm1>())
{
    app::InitResources();
    m_ui->setupUi(this);
    m_statusBar = m_ui->StatusBar1;
    SetUpWindow();
    SetUpPictures();
    SetUpKivFTP1();

    // Login page.
    BindClick(m_ui->BitBtn1, &TForm1::Button1Click);
    BindClick(m_ui->Button1, &TForm1::Button1Click);
    BindClick(m_ui->BitBtn2, &TForm1::Button2Click);
    BindClick(m_ui->Button2, &TForm1::Button2Click);
    BindClick(m_ui->BitBtn3, &TForm1::BitBtn3Click);
    // Listing page.
    BindClick(m_ui->BitBtn14, &TForm1::Button3Click);
    BindClick(m_ui->Button3, &TForm1::Button3Click);
    BindClick(m_ui->BitBtn15, &TForm1::Button4Click);
    BindClick(m_ui->Button4, &TForm1::Button4Click);
    // Download page.
    BindClick(m_ui->BitBtn8, &TForm1::Button6Click);
    BindClick(m_ui->Button6, &TForm1::Button6Click);
    BindClick(m_ui->BitBtn9, &TForm1::Button8Click);
    BindClick(m_ui->Button8, &TForm1::Button8Click);
    BindClick(m_ui->BitBtn10, &TForm1::Button7Click);
    BindClick(m_ui->Button7, &TForm1::Button7Click);
    // Upload page.
    BindClick(m_ui->BitBtn11, &TForm1::Button11Click);
    BindClick(m_ui->Button11, &TForm1::Button11Click);
    BindClick(m_ui->BitBtn12, &TForm1::Button13Click);
    BindClick(m_ui->Button13, &TForm1::Button13Click);
    BindClick(m_ui->BitBtn13, &TForm1::Button7Click);
    BindClick(m_ui->Button9, &TForm1::Button7Click);
    BindClick(m_ui->Button10, &TForm1::Button10Click);
    BindClick(m_ui->Button12, &TForm1::Button12Click);
    // Remote file management page.
    BindClick(m_ui->BitBtn6, &TForm1::Button14Click);
    BindClick(m_ui->Button14, &TForm1::Button14Click);
    BindClick(m_ui->BitBtn7, &TForm1::Button15Click);
    BindClick(m_ui->Button15, &TForm1::Button15Click);
    BindClick(m_ui->BitBtn4, &TForm1::Button16Click);
    BindClick(m_ui->Button16, &TForm1::Button16Click);
    BindClick(m_ui->BitBtn5, &TForm1::Button18Click);
    BindClick(m_ui->Button18, &TForm1::Button18Click);
    BindClick(m_ui->BitBtn16, &TForm1::Button5Click);
    BindClick(m_ui->Button5, &TForm1::Button5Click);
}

TForm1::~TForm1()
{
    // The component goes first, while the controls its events touch exist.
    m_kivFTP1.reset();
}

void TForm1::SetUpWindow()
{
    // A fixed frame with minimise and close, but no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    PinFontToPixels(this);
    PinFontToPixels(m_ui->PageControl1);
    m_ui->StatusBar1->setFont(font()); // the window's font, not the pages'
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm1::SetUpPictures()
{
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        MaskGlyph(button);

    QFile file(QStringLiteral(":/taviro/welcome.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    const app::JpegPicture picture
        = app::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    if (picture.Image.isNull())
        return;
    // The picture control takes the size of its picture.
    m_ui->Image1->setPixmap(QPixmap::fromImage(picture.Image));
    m_ui->Image1->resize(picture.Image.size());
}

void TForm1::SetUpKivFTP1()
{
    m_kivFTP1 = std::make_unique<kivftp::TKivFTP>(nullptr);
    kivftp::TKivFTP& ftp = *m_kivFTP1;
    ftp.Name = "KivFTP1";

    ftp.Port = 21;
    ftp.ReportLevel = 0;
    ftp.Vendor = kivftp::kVendorUnknown;
    ftp.ParseList = false;
    ftp.ProxyPort = 0;
    ftp.Passive = false;
    ftp.FirewallType = kivftp::TFirewallType::FTUser;
    ftp.FWAuthenticate = false;

    ftp.OnDisconnect = std::bind_front(&TForm1::KivFTP1Disconnect, this);
    ftp.OnConnect = std::bind_front(&TForm1::KivFTP1Connect, this);
    ftp.OnInvalidHost = std::bind_front(&TForm1::KivFTP1InvalidHost, this);
    ftp.OnHostResolved = std::bind_front(&TForm1::KivFTP1HostResolved, this);
    ftp.OnStatus = std::bind_front(&TForm1::KivFTP1Status, this);
    ftp.OnConnectionFailed = std::bind_front(&TForm1::KivFTP1ConnectionFailed, this);
    ftp.OnPacketRecvd = std::bind_front(&TForm1::KivFTP1PacketRecvd, this);
    ftp.OnPacketSent = std::bind_front(&TForm1::KivFTP1PacketSent, this);
    ftp.OnError = std::bind_front(&TForm1::KivFTP1Error, this);
    ftp.OnTransactionStart = std::bind_front(&TForm1::KivFTP1TransactionStart, this);
    ftp.OnTransactionStop = std::bind_front(&TForm1::KivFTP1TransactionStop, this);
    ftp.OnFailure = std::bind_front(&TForm1::KivFTP1Failure, this);
    ftp.OnSuccess = std::bind_front(&TForm1::KivFTP1Success, this);
    ftp.OnListItem = std::bind_front(&TForm1::KivFTP1ListItem, this);
    ftp.OnUnSupportedFunction = std::bind_front(&TForm1::KivFTP1UnSupportedFunction, this);
}

void TForm1::BindClick(QAbstractButton* button, ClickHandler handler)
{
    connect(button, &QAbstractButton::clicked, this,
            [this, button, handler] { RunHandler([&] { (this->*handler)(button); }); });
}

void TForm1::RunHandler(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        platform::Application.HandleException(std::current_exception());
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    bool canClose = true;
    RunHandler([&] { FormCloseQuery(this, canClose); });
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TForm1::SetStatus(const std::string& text)
{
    if (m_statusBar)
        m_statusBar->showMessage(QString::fromStdString(text));
}

// --- Login page ---------------------------------------------------------

void TForm1::Button1Click(QObject*)
{
    kivftp::TKivFTP& ftp = *m_kivFTP1;
    if (m_ui->CheckBox1->isChecked()) {
        ftp.Proxy = Text(m_ui->Edit6);
        ftp.ProxyPort = platform::StrToInt(Text(m_ui->Edit7));
    }
    ftp.Host = Text(m_ui->HostTxt);
    ftp.Port = platform::StrToInt(Text(m_ui->PortTxt));
    ftp.TimeOut = 5000;
    ftp.UserID = Text(m_ui->UserTxt);
    ftp.Password = Text(m_ui->PassTxt);
    try {
        ftp.Connect();
    } catch (const platform::Exception& e) {
        // The component's events have already shown what went wrong; the
        // message goes to standard output, which a program started from the
        // desktop does not have (and then the I/O error is what escapes).
        app::WriteStdOutLine(e.Message);
    }
}

void TForm1::Button2Click(QObject*)
{
    m_kivFTP1->Disconnect();
}

void TForm1::BitBtn3Click(QObject*)
{
    // Posted: the loop ends once control is back in it, after any operation
    // that this click interrupted has returned. Not quit(), which would first
    // try to close the window and so run the close query (an Abort).
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void TForm1::FormCloseQuery(QObject*, bool&)
{
    m_kivFTP1->Abort();
}

// --- Remote file commands -------------------------------------------------
// Some handlers drop every exception (the events have shown what the user
// needs); the others let it reach the error report.

void TForm1::Button3Click(QObject*)
{
    ListLineNo = 1;
    try {
        m_kivFTP1->Nlist();
    } catch (...) {
    }
}

void TForm1::Button4Click(QObject*)
{
    ListLineNo = 1;
    try {
        m_kivFTP1->List();
    } catch (...) {
    }
}

void TForm1::Button6Click(QObject*)
{
    try {
        m_kivFTP1->Download(Text(m_ui->RemoteTxt), Text(m_ui->LocalTxt));
    } catch (...) {
    }
}

void TForm1::Button8Click(QObject*)
{
    m_kivFTP1->DownloadRestore(Text(m_ui->RemoteTxt), Text(m_ui->LocalTxt));
}

void TForm1::Button7Click(QObject*)
{
    m_kivFTP1->Abort();
}

void TForm1::Button11Click(QObject*)
{
    try {
        m_kivFTP1->UploadAppend(Text(m_ui->Edit3), Text(m_ui->Edit4));
    } catch (...) {
    }
}

void TForm1::Button13Click(QObject*)
{
    try {
        const std::string local = Text(m_ui->Edit3);
        const std::string remote = Text(m_ui->Edit4);
        const std::int32_t position = platform::StrToInt(Text(m_ui->PosTxt));
        m_kivFTP1->UploadRestore(local, remote, position);
    } catch (...) {
    }
}

void TForm1::Button10Click(QObject*)
{
    try {
        m_kivFTP1->Upload(Text(m_ui->Edit3), Text(m_ui->Edit4));
    } catch (...) {
    }
}

void TForm1::Button12Click(QObject*)
{
    try {
        m_kivFTP1->UploadUnique(Text(m_ui->Edit3));
    } catch (...) {
    }
}

void TForm1::Button14Click(QObject*)
{
    m_kivFTP1->MakeDirectory(Text(m_ui->Edit1));
}

void TForm1::Button15Click(QObject*)
{
    m_kivFTP1->RemoveDir(Text(m_ui->Edit2));
}

void TForm1::Button16Click(QObject*)
{
    m_kivFTP1->Delete(Text(m_ui->Edit5));
}

void TForm1::Button18Click(QObject*)
{
    m_kivFTP1->Rename(Text(m_ui->Edit8), Text(m_ui->Edit9));
}

void TForm1::Button5Click(QObject*)
{
    m_kivFTP1->ChangeDir(Text(m_ui->DirTxt));
}

// --- Events of KivFTP1 ------------------------------------------------------

void TForm1::KivFTP1HostResolved(platform::TComponent*)
{
    SetStatus("正在解析主机域名...");
}

void TForm1::KivFTP1InvalidHost(bool&)
{
    app::ShowMessageBox("主机地址错误！");
}

void TForm1::KivFTP1ConnectionFailed(platform::TComponent*)
{
    app::ShowMessageBox("连接失败！");
}

void TForm1::KivFTP1Connect(platform::TComponent*)
{
    SetStatus("已经成功连接到主机！");
}

void TForm1::KivFTP1Disconnect(platform::TComponent*)
{
    SetStatus("断开连接！"); // nothing once the status bar is gone
}

void TForm1::KivFTP1Error(platform::TComponent*, std::uint16_t Errno, const std::string& Errmsg)
{
    app::ShowMessageBox("Error " + std::to_string(Errno) + ": " + Errmsg);
}

void TForm1::KivFTP1Status(platform::TComponent*, const std::string&)
{
}

void TForm1::KivFTP1TransactionStart(platform::TComponent*)
{
    SetStatus("开始传输数据...");
}

void TForm1::KivFTP1TransactionStop(platform::TComponent*)
{
    SetStatus("正在传输数据...");
}

void TForm1::KivFTP1PacketRecvd(platform::TComponent*)
{
    SetStatus(std::to_string(m_kivFTP1->BytesRecvd()) + " of " + std::to_string(m_kivFTP1->BytesTotal));
}

void TForm1::KivFTP1PacketSent(platform::TComponent*)
{
    SetStatus(std::to_string(m_kivFTP1->BytesSent()) + " of " + std::to_string(m_kivFTP1->BytesTotal));
}

void TForm1::KivFTP1ListItem(const std::string& Listing)
{
    m_ui->Memo1->appendPlainText(QString::fromStdString(std::to_string(ListLineNo) + ": " + Listing));
    // Wraps at the top of the range instead of overflowing.
    ListLineNo = static_cast<std::int32_t>(static_cast<std::uint32_t>(ListLineNo) + 1u);
}

void TForm1::KivFTP1Success(TCmdType Trans_Type)
{
    if (const char* text = TextFor(kSuccessTexts, Trans_Type))
        SetStatus(text);
}

void TForm1::KivFTP1Failure(bool&, TCmdType Trans_Type)
{
    // Handled stays false: the component raises its exception afterwards.
    if (const char* text = TextFor(kFailureTexts, Trans_Type))
        SetStatus(text);
}

void TForm1::KivFTP1UnSupportedFunction(TCmdType Trans_Type)
{
    if (const char* text = TextFor(kUnsupportedTexts, Trans_Type))
        app::ShowMessageBox(text);
}
