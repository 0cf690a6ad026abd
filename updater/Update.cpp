#include "updater/Update.h"

#include "updater/UpdaterText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QVBoxLayout>

namespace {

const char* const kCaption = "TavirelBrisvane\xB8\xFC\xD0\xC2\xB3\xCC\xD0\xF2"; // ...更新程序
// 你有新的文件要更新，点击升级按钮开始升级!
const char* const kMemoText = "\xC4\xE3\xD3\xD0\xD0\xC2\xB5\xC4\xCE\xC4\xBC\xFE\xD2\xAA\xB8\xFC"
                              "\xD0\xC2\xA3\xAC\xB5\xE3\xBB\xF7\xC9\xFD\xBC\xB6\xB0\xB4\xC5\xA5"
                              "\xBF\xAA\xCA\xBC\xC9\xFD\xBC\xB6!";
const char* const kButtonText = "\xBF\xAA\xCA\xBC\xC9\xFD\xBC\xB6"; // 开始升级
// 无法连接远程服务器读取版本信息出错！
const char* const kCheckFailed = "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xD4\xB6\xB3\xCC\xB7\xFE\xCE\xF1"
                                 "\xC6\xF7\xB6\xC1\xC8\xA1\xB0\xE6\xB1\xBE\xD0\xC5\xCF\xA2\xB3\xF6"
                                 "\xB4\xED\xA3\xA1";
const char* const kErrorCaption = "\xB4\xED\xCE\xF3"; // 错误
// 上次的升级尚未完成，是否现在完成？
const char* const kFinishQuestion = "\xC9\xCF\xB4\xCE\xB5\xC4\xC9\xFD\xBC\xB6\xC9\xD0\xCE\xB4"
                                    "\xCD\xEA\xB3\xC9\xA3\xAC\xCA\xC7\xB7\xF1\xCF\xD6\xD4\xDA"
                                    "\xCD\xEA\xB3\xC9\xA3\xBF";

const char* const kLocalCopy = "upate.xml";
// The check's own bound on what the server may send: a version file is small.
constexpr std::int64_t kCheckMaxBytes = webupdater::kMaxManifestBytes;

// Message-box texts separate lines with LF CR; a box wants plain line breaks.
QString BoxText(const std::string& gbk) {
    QString text = GbkToQ(gbk);
    text.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    return text;
}

} // namespace

TForm3::TForm3(QWidget* mainWindow, TUpdaterEnvironment environment)
    : QDialog(nullptr), Environment_(std::move(environment)) {
    BuildControls();
    WireUpdater(mainWindow);
}

TForm3::~TForm3() = default;

void TForm3::BuildControls() {
    setWindowTitle(GbkToQ(kCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setPlainText(GbkToQ(kMemoText));
    layout->addWidget(Memo1, 1);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(41);
    Button1 = new QPushButton(GbkToQ(kButtonText), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(0, (41 - 25) / 2, 121, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    layout->addWidget(Panel1);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFixedHeight(17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    layout->addWidget(ProgressBar1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(19);
    StatusBar1->setSizeGripEnabled(false);
    layout->addWidget(StatusBar1);

    resize(480, 128);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TForm3::WireUpdater(QWidget* mainWindow) {
    WebUpdater1 = new TWebUpdater(this);
    WebUpdater1->ProgressBar = ProgressBar1;
    WebUpdater1->StatusBar = StatusBar1;
    WebUpdater1->MainWindow = mainWindow;
    WebUpdater1->ProgramPath = Environment_.ProgramPath;
    WebUpdater1->ProgramPid = Environment_.ProgramPid;
    WebUpdater1->StartScript = Environment_.StartScript;
    WebUpdater1->DownloadBounds = Environment_.DownloadBounds;
    WebUpdater1->AskRestart = [this](const std::string& question) {
        if (Environment_.AskRestart)
            return Environment_.AskRestart(question);
        return QMessageBox::question(this, GbkToQ(WebUpdater1->ApplicationName), BoxText(question),
                                     QMessageBox::Yes | QMessageBox::Abort,
                                     QMessageBox::Yes) == QMessageBox::Yes;
    };
    // The restart script waits for this process to end: close this window,
    // leave the message loop if it runs, and tell start-up not to enter it.
    WebUpdater1->QuitApplication = [this] {
        QuitRequested_ = true;
        if (Environment_.QuitApplication) {
            Environment_.QuitApplication();
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this] {
                reject();
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    };
}

QString TForm3::ProgramFolder() const {
    return QFileInfo(webupdater::ProgramFile(Environment_.ProgramPath)).absolutePath();
}

double TForm3::ReadInstalledVersion() const {
    const QString text = IniFile->value(QStringLiteral("App/CurrVer")).toString();
    try {
        return webupdater::ParseVersionText(QToGbk(text));
    } catch (const TUpdateError&) {
        return 1.0; // missing, empty or unreadable
    }
}

std::string TForm3::UpdateBaseAddress() const {
    QString address = qEnvironmentVariable("TAVIREL_UPDATE_URL");
    if (address.isEmpty() && IniFile)
        address = IniFile->value(QStringLiteral("App/UpdateURL")).toString();
    address = address.trimmed();
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return QToGbk(address);
}

void TForm3::FormCreate() {
    IniFile = std::make_unique<QSettings>(ProgramFolder() + QStringLiteral("/config.ini"),
                                          QSettings::IniFormat);
    CurrentVersion = ReadInstalledVersion();
    WebUpdater1->RequireSha256 =
        IniFile->value(QStringLiteral("App/RequireSha256")).toString().trimmed() ==
        QLatin1String("1");
    if (FinishWaitingUpdate())
        return;

    const std::string base = UpdateBaseAddress();
    if (base.empty())
        return; // no update server configured: no check, no message
    WebUpdater1->WebURL = base + "/update";

    // An installed program's folder cannot be written: its local copy is a
    // temporary file of the user's instead, gone when the check is done.
    QTemporaryFile temporaryCopy(QDir::tempPath() + QStringLiteral("/tavirel-upate-XXXXXX.xml"));
    QString localCopy;
    if (webupdater::CanWriteInFolder(ProgramFolder())) {
        localCopy = ProgramFolder() + QLatin1Char('/') + QLatin1String(kLocalCopy);
        QFile file(localCopy);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ShowError(QToGbk(file.errorString()));
            return;
        }
    } else {
        if (!temporaryCopy.open()) {
            ShowError(QToGbk(temporaryCopy.errorString()));
            return;
        }
        localCopy = temporaryCopy.fileName();
    }

    bool offer = false;
    try {
        offer = FetchPublishedVersion(localCopy);
    } catch (const std::exception&) {
        ShowWarning(kCheckFailed, kErrorCaption);
        return;
    }
    if (offer) {
        if (Environment_.ShowModal)
            Environment_.ShowModal(*this);
        else
            exec();
    }
}

// The files of the installed version's update that wait in the updates
// folder (a declined restart, a copy the restart script could not make)
// are offered at every start until they are installed.
bool TForm3::FinishWaitingUpdate() {
    if (!IniFile->contains(QStringLiteral("App/CurrVer")) ||
        !WebUpdater1->HasPendingInstall(CurrentVersion))
        return false;
    const bool yes =
        Environment_.AskFinishUpdate
            ? Environment_.AskFinishUpdate(kFinishQuestion)
            : QMessageBox::question(nullptr, GbkToQ(WebUpdater1->ApplicationName),
                                    BoxText(kFinishQuestion), QMessageBox::Yes | QMessageBox::No,
                                    QMessageBox::Yes) == QMessageBox::Yes;
    if (!yes)
        return false;
    try {
        WebUpdater1->FinishPendingInstall();
    } catch (const std::exception& error) {
        ShowError(error.what());
        return false;
    }
    return QuitRequested_;
}

bool TForm3::FetchPublishedVersion(const QString& localCopy) {
    THttpRequest request;
    request.Url = QUrl(GbkToQ(WebUpdater1->WebURL + "/update.xml"), QUrl::TolerantMode);
    request.Headers = {{"Accept", "text/html, */*"},
                       {"User-Agent", "Mozilla/3.0 (compatible; Indy Library)"}};
    request.Bounds.IdleMs = Environment_.CheckBoundMs;
    request.Bounds.WholeMs = Environment_.CheckBoundMs;
    request.Bounds.MaxBytes = kCheckMaxBytes;
    const THttpResult result = HttpGetToFile(request, localCopy);
    if (!result.Ok)
        throw TUpdateError(QToGbk(result.ErrorText));

    const std::optional<std::string> text = ReadPublishedVersion(localCopy);
    if (!text)
        return false;
    NewVersion = webupdater::ParseVersionText(*text);
    return CurrentVersion < NewVersion;
}

std::optional<std::string> TForm3::ReadPublishedVersion(const QString& file) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        throw TUpdateError(QToGbk(input.errorString()));
    VersionParser.clear();
    VersionParser.addData(input.readAll());
    return webupdater::ReadPublishedVersion(VersionParser);
}

void TForm3::Button1Click() {
    Button1->setEnabled(false);
    try {
        WebUpdater1->RunUpdate();
    } catch (const std::exception& error) {
        // The run stopped on an error: shown, and the version is not recorded.
        Button1->setEnabled(true);
        ShowError(error.what());
        return;
    }
    Button1->setEnabled(true);
    IniFile->setValue(QStringLiteral("App/CurrVer"),
                      QString::fromStdString(webupdater::FormatNumber(NewVersion)));
    IniFile->sync();
}

void TForm3::ShowWarning(const std::string& text, const std::string& caption) {
    if (Environment_.ShowWarning) {
        Environment_.ShowWarning(text, caption);
        return;
    }
    QMessageBox box(QMessageBox::Warning, GbkToQ(caption), BoxText(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

void TForm3::ShowError(const std::string& text) {
    if (Environment_.ShowError) {
        Environment_.ShowError(text);
        return;
    }
    QMessageBox::critical(this, QGuiApplication::applicationDisplayName(), BoxText(text));
}
