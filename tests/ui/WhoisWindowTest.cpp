#include "ui/Unit_Whois.h"

#include "batch/GbkQt.h"
#include "tests/support/FakeWhois.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

// "Morvessa Brisvane → " domain " 的查询结果：已注册", as the window shows it
QString Heading(const std::string& domain) {
    return GbkToQString(
        "Morvessa Brisvane \xA1\xFA " + domain +
        " \xB5\xC4\xB2\xE9\xD1\xAF\xBD\xE1\xB9\xFB\xA3\xBA\xD2\xD1\xD7\xA2\xB2\xE1");
}
// 注册时间:
const QString RegLabel = GbkToQString("\xD7\xA2\xB2\xE1\xCA\xB1\xBC\xE4:");
// FieldMark, IP: as shown, the mark made visible
const QString IPField = QChar(0x25C6) + QStringLiteral("IP:");
// "  查询失败了  <<<"
const QString Failed = GbkToQString("  \xB2\xE9\xD1\xAF\xCA\xA7\xB0\xDC\xC1\xCB  <<<");

// Answers "name.tld" with a reply naming it; "silent..." gets no reply.
std::string Reply(const std::string& query) {
    if (query.rfind("silent", 0) == 0)
        return std::string();
    return "Domain Name: " + query + "\r\nCreation Date: 2001-02-03\r\n";
}

QString ReportOf(const std::string& domain) {
    return Heading(domain) + "\n\n" + RegLabel +
           "2001-02-03\n\nDomain Name: " + QString::fromStdString(domain) +
           "\nCreation Date: 2001-02-03";
}

bool WaitIdle(TForm2& window) {
    return QTest::qWaitFor([&] { return window.btnQueryWhois->isEnabled(); }, 10'000);
}

class WhoisWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The latency keeps a query running long enough to act while it runs.
        FServer = StartServer(Reply, 0, 300);
        ASSERT_TRUE(FServer);
        FOverride.emplace(FServer->Address());
        FWindow = std::make_unique<TForm2>();
        FWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FWindow.get()));
    }
    void TearDown() override {
        if (FWindow)
            WaitIdle(*FWindow);
    }

    void Type(const QString& text) {
        FWindow->txtDomain->setFocus();
        FWindow->txtDomain->clear();
        QTest::keyClicks(FWindow->txtDomain, text);
    }

    std::unique_ptr<TFakeWhoisServer> FServer;
    std::optional<TWhoisServerOverride> FOverride;
    std::unique_ptr<TForm2> FWindow;
};

// --- Window and controls -----------------------------------------------------------

TEST(WhoisWindowLayout, CaptionFlagsFontAndControls) {
    TForm2 window;
    EXPECT_EQ(
        window.windowTitle(),
        QString::fromUtf8("Tavirel超强域名注册信息查询工具 - 可查询绝大多数特殊后缀WHOIS信息"));
    EXPECT_TRUE(window.isWindow());
    EXPECT_EQ(window.size(), QSize(549, 371));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.font().pixelSize(), 11);
    EXPECT_EQ(window.font().families().value(0), "Tahoma");

    EXPECT_EQ(window.findChild<QLineEdit*>("txtDomain"), window.txtDomain);
    EXPECT_EQ(window.findChild<QPushButton*>("btnQueryWhois"), window.btnQueryWhois);
    EXPECT_EQ(window.findChild<QPlainTextEdit*>("txtWhoisInfo"), window.txtWhoisInfo);
    EXPECT_EQ(window.findChild<QCheckBox*>("cIPAddress"), window.cIPAddress);

    EXPECT_EQ(window.btnQueryWhois->text(), QString::fromUtf8("立即查询"));
    EXPECT_TRUE(window.btnQueryWhois->isDefault());
    EXPECT_EQ(window.cIPAddress->text(), QString::fromUtf8("查询域名解析的IP地址"));
    EXPECT_FALSE(window.cIPAddress->isChecked());
    EXPECT_TRUE(window.txtDomain->text().isEmpty());
    EXPECT_TRUE(window.txtWhoisInfo->toPlainText().isEmpty());
    EXPECT_FALSE(window.txtWhoisInfo->isReadOnly());
    EXPECT_EQ(window.txtWhoisInfo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(window.txtWhoisInfo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(WhoisWindowLayout, OpensInTheMiddleOfTheScreen) {
    TForm2 window;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window.geometry().center() - screen.center()).manhattanLength(), 2);
}

struct TPlaceCase {
    const char* Name;
    QSize Client;
    QRect Domain, Button, Report, IPAddress;
};

void PrintTo(const TPlaceCase& c, std::ostream* os) {
    *os << c.Name;
}

class WhoisWindowAnchors : public ::testing::TestWithParam<TPlaceCase> {};
TEST_P(WhoisWindowAnchors, ControlsKeepTheirDistances) {
    TForm2 window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.resize(GetParam().Client);
    QApplication::processEvents();
    EXPECT_EQ(window.txtDomain->geometry(), GetParam().Domain);
    EXPECT_EQ(window.btnQueryWhois->geometry(), GetParam().Button);
    EXPECT_EQ(window.txtWhoisInfo->geometry(), GetParam().Report);
    EXPECT_EQ(window.cIPAddress->geometry(), GetParam().IPAddress);
}
INSTANTIATE_TEST_SUITE_P(Sizes, WhoisWindowAnchors,
                         ::testing::Values(TPlaceCase{"AsDesigned",
                                                      {549, 371},
                                                      {8, 8, 288, 21},
                                                      {451, 8, 75, 21},
                                                      {8, 35, 518, 308},
                                                      {305, 10, 143, 17}},
                                           TPlaceCase{"Larger",
                                                      {649, 471},
                                                      {8, 8, 388, 21},
                                                      {551, 8, 75, 21},
                                                      {8, 35, 618, 408},
                                                      {305, 10, 143, 17}}),
                         [](const auto& info) { return info.param.Name; });

TEST_F(WhoisWindowTest, TabVisitsTheControlsInOrder) {
    FWindow->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(FWindow.get()));
    FWindow->txtDomain->setFocus();
    const std::vector<QWidget*> order = {FWindow->btnQueryWhois, FWindow->txtWhoisInfo,
                                         FWindow->cIPAddress, FWindow->txtDomain};
    for (QWidget* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected) << expected->objectName().toStdString();
    }
}

// --- Queries -----------------------------------------------------------------------

TEST_F(WhoisWindowTest, ClickShowsTheReportAndIsBusyMeanwhile) {
    FWindow->txtWhoisInfo->setPlainText("earlier text");
    Type("abc.com");
    QTest::mouseClick(FWindow->btnQueryWhois, Qt::LeftButton);
    EXPECT_FALSE(FWindow->btnQueryWhois->isEnabled());
    EXPECT_EQ(FWindow->btnQueryWhois->text(), QString::fromUtf8("正在查询…"));
    // The other controls stay usable, the earlier report stays until the end.
    EXPECT_TRUE(FWindow->txtDomain->isEnabled());
    EXPECT_TRUE(FWindow->cIPAddress->isEnabled());
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(), "earlier text");
    ASSERT_TRUE(WaitIdle(*FWindow));
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(), ReportOf("abc.com"));
    EXPECT_EQ(FWindow->btnQueryWhois->text(), QString::fromUtf8("立即查询"));
    EXPECT_EQ(FServer->Queries(), std::vector<std::string>{"abc.com"});
}

TEST_F(WhoisWindowTest, FailedExchangeShowsTheFailureLine) {
    Type("silent.com");
    FWindow->btnQueryWhoisClick();
    ASSERT_TRUE(WaitIdle(*FWindow));
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(), "silent.com" + Failed);
}

TEST_F(WhoisWindowTest, EmptyFieldDoesNothing) {
    FWindow->btnQueryWhoisClick();
    EXPECT_TRUE(FWindow->btnQueryWhois->isEnabled());
    QTest::qWait(50);
    EXPECT_EQ(FServer->AcceptedCount(), 0);
}

// A name the check refuses is asked of no server; the report says why.
TEST_F(WhoisWindowTest, InvalidNameIsToldWithoutAQuery) {
    for (const char* name : {" abc.com", "abc", "a..com"}) {
        FWindow->txtWhoisInfo->setPlainText("earlier text");
        Type(QString::fromLatin1(name));
        FWindow->btnQueryWhoisClick();
        ASSERT_TRUE(WaitIdle(*FWindow));
        const QString shown = FWindow->txtWhoisInfo->toPlainText();
        const QString start = QString::fromUtf8("“") + QString::fromLatin1(name) +
                              QString::fromUtf8("”不是有效的域名：");
        EXPECT_TRUE(shown.startsWith(start)) << shown.toStdString();
        EXPECT_GT(shown.size(), start.size()) << name;
    }
    EXPECT_EQ(FServer->AcceptedCount(), 0);
}

TEST_F(WhoisWindowTest, AddressShownWhenTheBoxIsTicked) {
    FWindow->ResolveHost = [](std::string_view) { return std::string("1.2.3.4"); };
    Type("abc.com");
    FWindow->cIPAddress->setChecked(true);
    FWindow->btnQueryWhoisClick();
    ASSERT_TRUE(WaitIdle(*FWindow));
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(),
              Heading("abc.com") + "\n\n" + RegLabel + "2001-02-03" + IPField +
                  "1.2.3.4\n\nDomain Name: abc.com\nCreation Date: 2001-02-03");
}

TEST_F(WhoisWindowTest, EnterInTheDomainFieldQueriesButNotWhileBusy) {
    Type("abc.com");
    QTest::keyClick(FWindow->txtDomain, Qt::Key_Return);
    EXPECT_FALSE(FWindow->btnQueryWhois->isEnabled());
    QTest::keyClick(FWindow->txtDomain, Qt::Key_Enter);
    ASSERT_TRUE(WaitIdle(*FWindow));
    EXPECT_EQ(FServer->Queries(), std::vector<std::string>{"abc.com"});

    // Idle again: Enter queries the field's current text.
    Type("def.com");
    QTest::keyClick(FWindow->txtDomain, Qt::Key_Enter);
    EXPECT_FALSE(FWindow->btnQueryWhois->isEnabled());
    ASSERT_TRUE(WaitIdle(*FWindow));
    EXPECT_EQ(FServer->Queries(), (std::vector<std::string>{"abc.com", "def.com"}));
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(), ReportOf("def.com"));
}

TEST_F(WhoisWindowTest, EnterOnTheCheckBoxQueriesToo) {
    Type("abc.com");
    FWindow->cIPAddress->setFocus();
    FWindow->ResolveHost = [](std::string_view) { return std::string(); };
    QTest::keyClick(FWindow->cIPAddress, Qt::Key_Return);
    EXPECT_FALSE(FWindow->btnQueryWhois->isEnabled());
}

TEST_F(WhoisWindowTest, EnterInTheReportIsANewLine) {
    Type("abc.com");
    FWindow->txtWhoisInfo->setFocus();
    QTest::keyClicks(FWindow->txtWhoisInfo, "x");
    QTest::keyClick(FWindow->txtWhoisInfo, Qt::Key_Return);
    QTest::keyClicks(FWindow->txtWhoisInfo, "y");
    EXPECT_TRUE(FWindow->btnQueryWhois->isEnabled());
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(), "x\ny");
    QTest::qWait(50);
    EXPECT_EQ(FServer->AcceptedCount(), 0);
}

TEST_F(WhoisWindowTest, ClickedButtonLeavesTheFocusInTheDomainField) {
    Type("abc.com");
    FWindow->btnQueryWhois->setFocus();
    QTest::keyClick(FWindow->btnQueryWhois, Qt::Key_Space);
    EXPECT_FALSE(FWindow->btnQueryWhois->isEnabled());
    EXPECT_TRUE(FWindow->txtDomain->hasFocus());
}

TEST_F(WhoisWindowTest, TwoWindowsQueryAtOnce) {
    TForm2 other;
    other.show();
    Type("abc.com");
    other.txtDomain->setText("def.com");
    FWindow->btnQueryWhoisClick();
    other.btnQueryWhoisClick();
    EXPECT_FALSE(FWindow->btnQueryWhois->isEnabled());
    EXPECT_FALSE(other.btnQueryWhois->isEnabled());
    ASSERT_TRUE(WaitIdle(*FWindow));
    ASSERT_TRUE(WaitIdle(other));
    EXPECT_EQ(FWindow->txtWhoisInfo->toPlainText(), ReportOf("abc.com"));
    EXPECT_EQ(other.txtWhoisInfo->toPlainText(), ReportOf("def.com"));
    EXPECT_EQ(FServer->MaxOpenCount(), 2);
}

// The window goes while its query runs: the job still ends, and its report
// goes nowhere.
TEST_F(WhoisWindowTest, ClosingWhileTheQueryRunsIsSafe) {
    auto* window = new TForm2(FWindow.get());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    QPointer<TForm2> watch(window);
    window->txtDomain->setText("abc.com");
    window->btnQueryWhoisClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return FServer->AcceptedCount() == 1; }, 5'000));
    window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.isNull(); }, 5'000));
    // The reply comes after the latency; give the job's end time to arrive.
    ASSERT_TRUE(QTest::qWaitFor([&] { return FServer->OpenCount() == 0; }, 5'000));
    QTest::qWait(200);
    EXPECT_EQ(FServer->Queries(), std::vector<std::string>{"abc.com"});
}

} // namespace
