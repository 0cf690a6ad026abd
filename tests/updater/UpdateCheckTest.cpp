// The start-up check and the updater window, against a loopback HTTP server.

#include "tests/support/LocalHttpServer.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestCertificate.h"
#include "tests/updater/UpdaterTestSupport.h"
#include "updater/Update.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace updatertest;

namespace {

const std::string kCheckFailed = // 无法连接远程服务器读取版本信息出错！
    "\xCE\xDE\xB7\xA8\xC1\xAC\xBD\xD3\xD4\xB6\xB3\xCC\xB7\xFE\xCE\xF1\xC6\xF7\xB6\xC1\xC8\xA1"
    "\xB0\xE6\xB1\xBE\xD0\xC5\xCF\xA2\xB3\xF6\xB4\xED\xA3\xA1";
const std::string kErrorCaption = "\xB4\xED\xCE\xF3"; // 错误

struct TShownBox {
    std::string Text;
    std::string Caption;
};

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Temp.isValid());
        qunsetenv("TAVIREL_UPDATE_URL");
        App = Temp.path() + "/app";
        QDir().mkpath(App);
        ASSERT_TRUE(Http.Start());
        Environment.ProgramPath = App + "/TavirelBrisvane";
        Environment.ProgramPid = 999999;
        Environment.ShowModal = [this](TForm3& form) {
            ++ModalShows;
            if (OnModal)
                OnModal(form);
        };
        Environment.ShowWarning = [this](const std::string& text, const std::string& caption) {
            Warnings.push_back({text, caption});
        };
        Environment.ShowError = [this](const std::string& text) { Errors.push_back(text); };
        Environment.AskRestart = [this](const std::string&) { return RestartAnswer; };
        Environment.StartScript = [](const QString&) { return true; };
        Environment.QuitApplication = [this] { ++QuitCalls; };
        Environment.DownloadBounds.IdleMs = 2000;
        Environment.DownloadBounds.WholeMs = 5000;
    }
    void TearDown() override { qunsetenv("TAVIREL_UPDATE_URL"); }

    void WriteConfig(std::optional<std::string> installed, const QString& url) {
        QSettings ini(App + "/config.ini", QSettings::IniFormat);
        if (installed)
            ini.setValue("App/CurrVer", QString::fromStdString(*installed));
        if (!url.isEmpty())
            ini.setValue("App/UpdateURL", url);
    }
    QString InstalledVersionText() {
        return QSettings(App + "/config.ini", QSettings::IniFormat).value("App/CurrVer").toString();
    }
    void PublishVersion(const std::string& versionElement) {
        WriteFile(Temp.path() + "/server/update/update.xml",
                  QByteArray::fromStdString("<?xml version=\"1.0\"?>\n<Updates><Details>" +
                                            versionElement + "</Details></Updates>\n"));
    }
    void PublishRun(const std::string& version, const std::vector<TFileLine>& files) {
        WriteFile(Temp.path() + "/server/update/Update.xml",
                  QByteArray::fromStdString(ManifestXml(version, files)));
    }
    std::unique_ptr<TForm3> Check() {
        auto form = std::make_unique<TForm3>(nullptr, Environment);
        form->FormCreate();
        return form;
    }
    bool WarnedCheckFailed() const {
        return Warnings.size() == 1 && Warnings[0].Text == kCheckFailed &&
               Warnings[0].Caption == kErrorCaption;
    }

    QTemporaryDir Temp;
    QString App;
    TLocalHttpServer Http{Temp.path() + "/server"};
    TUpdaterEnvironment Environment;
    int ModalShows = 0;
    std::function<void(TForm3&)> OnModal;
    std::vector<TShownBox> Warnings;
    std::vector<std::string> Errors;
    bool RestartAnswer = false;
    int QuitCalls = 0;
};

// --- Which versions open the window --------------------------------------------------------

struct VersionCase {
    const char* Label;
    std::optional<std::string> Installed; // none: no CurrVer in config.ini
    std::string VersionElement;
    bool Offered;
    double Published;
};

class OfferTest : public UpdateCheckTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(OfferTest, WindowIsShownOnlyForAHigherPublishedVersion) {
    const VersionCase& c = GetParam();
    WriteConfig(c.Installed, Http.BaseUrl());
    PublishVersion(c.VersionElement);

    auto form = Check();

    EXPECT_EQ(ModalShows, c.Offered ? 1 : 0);
    EXPECT_TRUE(Warnings.empty());
    EXPECT_DOUBLE_EQ(form->NewVersion, c.Published);
    if (!c.Installed) {
        EXPECT_DOUBLE_EQ(form->CurrentVersion, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, OfferTest,
    ::testing::Values(
        VersionCase{"NoConfigHigher", std::nullopt, "<Version>1.2</Version>", true, 1.2},
        VersionCase{"NoConfigEqual", std::nullopt, "<Version>1.0</Version>", false, 1.0},
        VersionCase{"EmptyValueCountsAsOne", "", "<Version>1.2</Version>", true, 1.2},
        VersionCase{"UnreadableValueCountsAsOne", "abc", "<Version>1.0</Version>", false, 1.0},
        VersionCase{"Equal", "1.5", "<Version>1.5</Version>", false, 1.5},
        VersionCase{"JustAbove", "1.5", "<Version>1.50000001</Version>", true, 1.50000001},
        VersionCase{"Lower", "2", "<Version>1.9</Version>", false, 1.9},
        VersionCase{"SurroundingWhiteSpace", "1.5", "<Version>\n   1.7 \t\r\n  </Version>", true,
                    1.7},
        VersionCase{"EmptyElementThenText", "1.5", "<Version/><Author></Author><Other>2.5</Other>",
                    true, 2.5},
        VersionCase{"CData", "1.5", "<Version><![CDATA[1.6]]></Version>", true, 1.6}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.Label; });

TEST_F(UpdateCheckTest, RequestAsksForUpdateXmlWithTheTwoHeaders) {
    WriteConfig("1.0", Http.BaseUrl() + "/");
    PublishVersion("<Version>1.0</Version>");

    Check();

    ASSERT_EQ(Http.Requests().size(), 1u);
    const TRecordedRequest& request = Http.Requests()[0];
    EXPECT_EQ(request.Method, "GET");
    EXPECT_EQ(request.Path, "/update/update.xml");
    EXPECT_EQ(request.Headers.value("accept"), "text/html, */*");
    EXPECT_EQ(request.Headers.value("user-agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(ReadFile(App + "/upate.xml"), ReadFile(Temp.path() + "/server/update/update.xml"));
}

// --- Files without a version: no message, no window -----------------------------------------

TEST_F(UpdateCheckTest, ManifestWithoutDeclarationVersionTagOrTextIsSilent) {
    const char* documents[] = {
        "<Updates><Version>9</Version></Updates>",
        "<?xml version=\"1.0\"?><Updates><Author>9</Author></Updates>",
        "<?xml version=\"1.0\"?><Updates><Version/></Updates>",
        "",
    };
    WriteConfig("1.0", Http.BaseUrl());
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        WriteFile(Temp.path() + "/server/update/update.xml", document);
        Check();
        EXPECT_EQ(ModalShows, 0);
        EXPECT_TRUE(Warnings.empty());
    }
}

// --- Failures: the message, and start-up goes on ------------------------------------------

TEST_F(UpdateCheckTest, VersionThatIsNotANumberShowsTheMessage) {
    WriteConfig("1.0", Http.BaseUrl());
    PublishVersion("<Version>next</Version>");

    Check();

    EXPECT_TRUE(WarnedCheckFailed());
    EXPECT_EQ(ModalShows, 0);
}

TEST_F(UpdateCheckTest, HttpErrorStatusShowsTheMessageAndLeavesTheLocalCopyEmpty) {
    WriteConfig("1.0", Http.BaseUrl());
    WriteFile(App + "/upate.xml", "stale");
    Http.SetBehaviour("/update/update.xml", {TLocalHttpServer::Mode::Status, 404});

    Check();

    EXPECT_TRUE(WarnedCheckFailed());
    EXPECT_EQ(ModalShows, 0);
    EXPECT_TRUE(Exists(App + "/upate.xml"));
    EXPECT_EQ(ReadFile(App + "/upate.xml"), "");
}

TEST_F(UpdateCheckTest, UnreachableServerShowsTheMessageAtOnce) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close(); // connections to it are refused
    WriteConfig("1.0", QString("http://127.0.0.1:%1").arg(port));

    QElapsedTimer clock;
    clock.start();
    Check();

    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(WarnedCheckFailed());
    EXPECT_EQ(ModalShows, 0);
}

TEST_F(UpdateCheckTest, SilentServerIsGivenUpAfterTheBound) {
    Environment.CheckBoundMs = 300;
    WriteConfig("1.0", Http.BaseUrl());
    Http.SetBehaviour("/update/update.xml", {TLocalHttpServer::Mode::Silent});

    QElapsedTimer clock;
    clock.start();
    Check();

    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(WarnedCheckFailed());
}

TEST_F(UpdateCheckTest, WithoutAnAddressNoCheckIsMade) {
    WriteConfig("1.0", QString());
    PublishVersion("<Version>5</Version>");

    Check();

    EXPECT_TRUE(Http.Requests().empty());
    EXPECT_TRUE(Warnings.empty());
    EXPECT_EQ(ModalShows, 0);
    EXPECT_FALSE(Exists(App + "/upate.xml"));
}

TEST_F(UpdateCheckTest, EnvironmentAddressWinsOverConfig) {
    WriteConfig("1.0", "http://127.0.0.1:1");
    qputenv("TAVIREL_UPDATE_URL", Http.BaseUrl().toUtf8());
    PublishVersion("<Version>5</Version>");

    Check();

    EXPECT_TRUE(Warnings.empty());
    EXPECT_EQ(ModalShows, 1);
}

// --- The window and its button -------------------------------------------------------------

TEST_F(UpdateCheckTest, WindowHasItsCaptionSizeAndControls) {
    TForm3 form(nullptr, Environment);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("TavirelBrisvane更新程序"));
    EXPECT_EQ(form.size(), QSize(480, 128));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form.Memo1->toPlainText(),
              QString::fromUtf8("你有新的文件要更新，点击升级按钮开始升级!"));
    EXPECT_EQ(form.Button1->text(), QString::fromUtf8("开始升级"));
    EXPECT_EQ(form.Button1->size(), QSize(121, 25));
    EXPECT_EQ(form.Button1->parentWidget(), form.Panel1);
    EXPECT_EQ(form.Panel1->height(), 41);
    EXPECT_EQ(form.ProgressBar1->height(), 17);
    EXPECT_EQ(form.StatusBar1->height(), 19);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(UpdateCheckTest, StartButtonRecordsThePublishedVersionEvenWhenTheRunFails) {
    WriteConfig("1.0", Http.BaseUrl());
    PublishVersion("<Version>2.25</Version>");
    // No run manifest on the server: the run reports the failed download.
    std::string statusAfterRun;
    OnModal = [&](TForm3& form) {
        form.Button1->click();
        statusAfterRun = form.StatusBar1->currentMessage().toStdString();
    };

    Check();

    EXPECT_EQ(ModalShows, 1);
    EXPECT_EQ(statusAfterRun.rfind("Updates checking was canceled", 0), 0u) << statusAfterRun;
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(InstalledVersionText(), "2.25");
    // Offered once: the next start shows no window.
    ModalShows = 0;
    OnModal = nullptr;
    Check();
    EXPECT_EQ(ModalShows, 0);
}

TEST_F(UpdateCheckTest, RunThatStopsOnAnErrorShowsItAndRecordsNothing) {
    WriteConfig("1.0", Http.BaseUrl());
    PublishVersion("<Version>2</Version>");
    PublishRun("two", {{"a.txt", "ApplicationFolder", "no"}});
    OnModal = [](TForm3& form) { form.Button1->click(); };

    auto form = Check();

    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "'two' is not a valid floating point value");
    EXPECT_EQ(InstalledVersionText(), "1.0");
    EXPECT_TRUE(form->Button1->isEnabled());
    EXPECT_FALSE(form->WebUpdater1->Busy());
}

TEST_F(UpdateCheckTest, AcceptedRestartRecordsTheVersionAndAsksTheProgramToEnd) {
    WriteConfig("1.0", Http.BaseUrl());
    PublishVersion("<Version>3</Version>");
    PublishRun("3", {{"r.bin", "ApplicationFolder", "yes"}});
    WriteFile(Temp.path() + "/server/update/r.bin", "new r");
    RestartAnswer = true;
    OnModal = [](TForm3& form) { form.Button1->click(); };

    auto form = Check();

    EXPECT_TRUE(form->QuitRequested());
    EXPECT_EQ(QuitCalls, 1);
    EXPECT_EQ(InstalledVersionText(), "3");
    EXPECT_EQ(form->StatusBar1->currentMessage(), QString::fromUtf8("更新成功!"));
}

TEST_F(UpdateCheckTest, RequireSha256InConfigRefusesFilesWithoutADigest) {
    struct Case {
        const char* Value; // nullptr: no key
        bool Installed;
    };
    const Case cases[] = {{nullptr, true}, {"0", true}, {"1", false}, {" 1 ", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Value ? c.Value : "(no key)");
        QFile::remove(App + "/a.txt");
        QFile::remove(App + "/config.ini");
        WriteConfig("1.0", Http.BaseUrl());
        if (c.Value)
            QSettings(App + "/config.ini", QSettings::IniFormat)
                .setValue("App/RequireSha256", c.Value);
        PublishVersion("<Version>2</Version>");
        PublishRun("2", {{"a.txt", "ApplicationFolder", "no"}});
        WriteFile(Temp.path() + "/server/update/a.txt", "new a");
        OnModal = [](TForm3& form) { form.Button1->click(); };

        Check();

        EXPECT_EQ(Exists(App + "/a.txt"), c.Installed);
    }
}

// An https:// address: the certificate is checked, so the loopback server's
// is accepted only with its authority trusted through TAVIREL_UPDATE_CA_FILE;
// the run's downloads go the same way.
TEST_F(UpdateCheckTest, HttpsAddressIsCheckedAgainstTheTrustedAuthority) {
    TTestCertificate certificate;
    ASSERT_TRUE(certificate.Ok()) << certificate.Error();
    TLocalHttpServer https(Temp.path() + "/server");
    ASSERT_TRUE(https.StartTls(QString::fromStdString(certificate.CertFile()),
                               QString::fromStdString(certificate.KeyFile())));
    ASSERT_TRUE(https.BaseUrl().startsWith("https://"));
    PublishVersion("<Version>2</Version>");
    PublishRun("2", {{"a.txt", "ApplicationFolder", "no"}});
    WriteFile(Temp.path() + "/server/update/a.txt", "new a");
    const QString notPem = Temp.path() + "/not-a-certificate.pem";
    WriteFile(notPem, "not a certificate");

    struct Case {
        const char* Label;
        std::optional<std::string> CaFile; // none: the variable unset
        bool Trusted;
    };
    const Case cases[] = {{"AuthorityNotTrusted", std::nullopt, false},
                          {"AuthorityTrusted", certificate.CaFile(), true},
                          {"CaFileWithoutCertificate", notPem.toStdString(), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        TScopedEnv ca("TAVIREL_UPDATE_CA_FILE");
        if (c.CaFile)
            ca.Set(*c.CaFile);
        QFile::remove(App + "/a.txt");
        WriteConfig("1.0", https.BaseUrl());
        Warnings.clear();
        ModalShows = 0;
        OnModal = [](TForm3& form) { form.Button1->click(); };
        const size_t requestsBefore = https.Requests().size();

        Check();

        // Refused in the handshake: not one request reaches the server.
        EXPECT_EQ(https.Requests().size() > requestsBefore, c.Trusted);
        EXPECT_EQ(ModalShows, c.Trusted ? 1 : 0);
        EXPECT_EQ(WarnedCheckFailed(), !c.Trusted);
        EXPECT_EQ(ReadFile(App + "/a.txt"), c.Trusted ? "new a" : "");
    }
    EXPECT_TRUE(https.WasRequested("/update/a.txt"));
}

// An installed program: its folder (here /proc, which takes no new file
// even from root) holds no config.ini and takes no local copy. The check is
// made only when an address is set, and the run then says it cannot write.
TEST_F(UpdateCheckTest, UnwritableProgramFolderIsCheckedOnlyWithAnAddress) {
    const QString installed = Temp.path() + "/installed";
    ASSERT_TRUE(QFile::link("/proc", installed));
    Environment.ProgramPath = installed + "/tavirelbrisvane";
    PublishVersion("<Version>2</Version>");
    PublishRun("2", {{"a.txt", "ApplicationFolder", "no"}});

    Check();
    EXPECT_TRUE(Http.Requests().empty());
    EXPECT_TRUE(Warnings.empty());
    EXPECT_TRUE(Errors.empty());
    EXPECT_EQ(ModalShows, 0);

    TScopedEnv address("TAVIREL_UPDATE_URL", Http.BaseUrl().toStdString());
    QString statusAfterRun;
    OnModal = [&](TForm3& form) {
        form.Button1->click();
        statusAfterRun = form.StatusBar1->currentMessage();
    };
    Check();
    EXPECT_TRUE(Warnings.empty());
    EXPECT_TRUE(Errors.empty()) << Errors.front();
    EXPECT_EQ(ModalShows, 1);
    EXPECT_TRUE(statusAfterRun.contains("trying to write into the folder! Nothing was updated."))
        << statusAfterRun.toStdString();
    ASSERT_EQ(Http.Requests().size(), 1u) << "the run downloads nothing";
    EXPECT_EQ(Http.Requests()[0].Path, "/update/update.xml");
}

// --- An update left waiting ---------------------------------------------------------------

const std::string kFinishQuestion = // 上次的升级尚未完成，是否现在完成？
    "\xC9\xCF\xB4\xCE\xB5\xC4\xC9\xFD\xBC\xB6\xC9\xD0\xCE\xB4\xCD\xEA\xB3\xC9\xA3\xAC\xCA\xC7"
    "\xB7\xF1\xCF\xD6\xD4\xDA\xCD\xEA\xB3\xC9\xA3\xBF";

// Runs the restart script at once, as the ended program would let it run.
bool RunScriptNow(const QString& path) {
    QProcess sh;
    sh.start("sh", {path});
    return sh.waitForFinished(15000) && sh.exitStatus() == QProcess::NormalExit;
}

struct WaitingCase {
    const char* Label;
    bool ChangedWhileWaiting; // the waiting file no longer has its checked digest
    bool Accepted;            // the answer to the offer
    bool Installed;
};

class WaitingUpdateTest : public UpdateCheckTest,
                          public ::testing::WithParamInterface<WaitingCase> {};

TEST_P(WaitingUpdateTest, NextStartOffersToFinishADeclinedRestart) {
    const WaitingCase& c = GetParam();
    WriteConfig("1.0", Http.BaseUrl());
    PublishVersion("<Version>2</Version>");
    PublishRun("2", {{"a.txt", "ApplicationFolder", "no"}, {"r.bin", "Data", "yes"}});
    WriteFile(Temp.path() + "/server/update/a.txt", "new a");
    WriteFile(Temp.path() + "/server/update/r.bin", "new r");
    WriteFile(App + "/Data/r.bin", "old r");
    RestartAnswer = false;
    OnModal = [](TForm3& form) { form.Button1->click(); };
    std::vector<std::string> offers;
    Environment.AskFinishUpdate = [&](const std::string& question) {
        offers.push_back(question);
        return c.Accepted;
    };
    std::vector<QString> scripts;
    Environment.StartScript = [&](const QString& path) {
        scripts.push_back(path);
        return RunScriptNow(path);
    };

    Check(); // the restart is declined
    ASSERT_EQ(InstalledVersionText(), "2");
    ASSERT_EQ(ReadFile(App + "/a.txt"), "new a");
    ASSERT_EQ(ReadFile(App + "/Updates/r.bin"), "new r");
    ASSERT_TRUE(offers.empty());
    if (c.ChangedWhileWaiting)
        WriteFile(App + "/Updates/r.bin", "changed while waiting");

    ModalShows = 0;
    OnModal = nullptr;
    auto next = Check();

    EXPECT_EQ(offers, std::vector<std::string>{kFinishQuestion});
    EXPECT_EQ(ModalShows, 0);
    int downloads = 0;
    for (const TRecordedRequest& request : Http.Requests())
        downloads += request.Path == "/update/r.bin";
    EXPECT_EQ(downloads, 1) << "nothing is downloaded twice";
    EXPECT_EQ(next->QuitRequested(), c.Installed);
    EXPECT_EQ(scripts.size(), c.Installed ? 1u : 0u);
    EXPECT_EQ(ReadFile(App + "/Data/r.bin"), c.Installed ? "new r" : "old r");
    EXPECT_EQ(InstalledVersionText(), "2");

    // Finished, or refused as changed, the update is offered no more; one
    // merely declined again is offered at every start.
    offers.clear();
    Check();
    EXPECT_EQ(offers.size(), !c.Accepted ? 1u : 0u);
    if (c.Accepted) {
        EXPECT_FALSE(Exists(App + "/Updates/r.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Offers, WaitingUpdateTest,
    ::testing::Values(WaitingCase{"Finished", false, true, true},
                      WaitingCase{"ChangedWhileWaitingIsRefused", true, true, false},
                      WaitingCase{"DeclinedAgain", false, false, false}),
    [](const ::testing::TestParamInfo<WaitingCase>& info) { return info.param.Label; });

TEST_F(UpdateCheckTest, UpdateOfAnotherVersionWaitingIsNotOffered) {
    WriteConfig("1.0", Http.BaseUrl());
    PublishVersion("<Version>2</Version>");
    PublishRun("2", {{"r.bin", "ApplicationFolder", "yes"}});
    WriteFile(Temp.path() + "/server/update/r.bin", "new r");
    OnModal = [](TForm3& form) { form.Button1->click(); };
    int offers = 0;
    Environment.AskFinishUpdate = [&](const std::string&) { return ++offers, true; };
    Check();
    ASSERT_TRUE(Exists(App + "/Updates/r.bin"));

    QSettings(App + "/config.ini", QSettings::IniFormat).setValue("App/CurrVer", "1.5");
    OnModal = nullptr;
    Check();

    EXPECT_EQ(offers, 0);
}

} // namespace
