// The window remembers itself: the settings a batch runs with and its size
// and place, kept in config.ini; and it grows with its lists.

#include "tests/ui/MainWindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>

namespace {

using namespace mainwindow;

class WindowPlaceTest : public TMainWindowFixture {
protected:
    void SetUp() override {
        TMainWindowFixture::SetUp();
        ASSERT_TRUE(Dir.isValid());
        Ini = Dir.filePath("config.ini");
    }
    QTemporaryDir Dir;
    QString Ini;
};

TEST_F(WindowPlaceTest, SettingsSizeAndPlaceComeBackAtTheNextStart) {
    Form->SettingsFile = Ini;
    Form->txtMaxThread->setText(QStringLiteral("12"));
    Form->txtRetries->setText(QStringLiteral("7"));
    Form->cbDomain->setChecked(false);
    Form->cbEmail->setChecked(true);
    Form->cbIPAddress->setChecked(true);
    Form->cbProtocol->setCurrentIndex(2);
    auto* dnsFirst = Form->findChild<QCheckBox*>(QStringLiteral("cbDnsFirst"));
    auto* dnsNote = Form->findChild<QLabel*>(QStringLiteral("labDnsNote"));
    auto* zoneFiles = Form->findChild<QLineEdit*>(QStringLiteral("txtZoneFiles"));
    ASSERT_TRUE(dnsFirst && dnsNote && zoneFiles);
    EXPECT_TRUE(dnsFirst->isChecked());
    dnsFirst->setChecked(false);
    zoneFiles->setText(QStringLiteral("/z/com.zone.gz;/z/net.zone"));
    auto* confirmFree = Form->findChild<QCheckBox*>(QStringLiteral("cbConfirmFree"));
    ASSERT_TRUE(confirmFree);
    EXPECT_TRUE(confirmFree->isChecked());
    confirmFree->setChecked(false);
    EXPECT_TRUE(dnsNote->isHidden());
    Form->memoProxies->setPlainText(QStringLiteral("socks5://127.0.0.1:1080"));
    // DNS queries would not go through the proxy: the box says so.
    EXPECT_FALSE(dnsNote->isHidden());
    Form->show();
    Form->setGeometry(40, 50, 760, 640);
    ASSERT_TRUE(WaitUntil([this] { return Form->size() == QSize(760, 640); }));
    const QRect placed = Form->geometry();
    EXPECT_TRUE(Form->close());

    auto next = NewForm();
    next->SettingsFile = Ini;
    next->LoadSettings();
    EXPECT_EQ(next->txtMaxThread->text(), QStringLiteral("12"));
    EXPECT_EQ(next->txtRetries->text(), QStringLiteral("7"));
    EXPECT_FALSE(next->cbDomain->isChecked());
    EXPECT_TRUE(next->cbRegTime->isChecked());
    EXPECT_TRUE(next->cbEmail->isChecked());
    EXPECT_TRUE(next->cbIPAddress->isChecked());
    EXPECT_EQ(next->cbProtocol->currentIndex(), 2);
    EXPECT_EQ(next->memoProxies->toPlainText(), QStringLiteral("socks5://127.0.0.1:1080"));
    EXPECT_FALSE(next->findChild<QCheckBox*>(QStringLiteral("cbDnsFirst"))->isChecked());
    EXPECT_FALSE(next->findChild<QCheckBox*>(QStringLiteral("cbConfirmFree"))->isChecked());
    EXPECT_EQ(next->findChild<QLineEdit*>(QStringLiteral("txtZoneFiles"))->text(),
              QStringLiteral("/z/com.zone.gz;/z/net.zone"));
    next->show();
    EXPECT_EQ(next->geometry(), placed);
}

// A file edited by hand: a value a field cannot take leaves the field as it
// was.
TEST_F(WindowPlaceTest, ValuesThatDoNotFitLeaveTheirFields) {
    {
        QSettings ini(Ini, QSettings::IniFormat);
        ini.setValue("Query/Threads", "12345");
        ini.setValue("Query/Retries", "4");
        ini.setValue("Query/ShowDomain", "yes");
        ini.setValue("Query/ShowEmail", "1");
        ini.setValue("Query/Protocol", "7");
        ini.setValue("Window/Geometry", QByteArray("not a geometry"));
    }
    Form->SettingsFile = Ini;
    Form->LoadSettings();
    EXPECT_EQ(Form->txtMaxThread->text(), QStringLiteral("5"));
    EXPECT_EQ(Form->txtRetries->text(), QStringLiteral("4"));
    EXPECT_TRUE(Form->cbDomain->isChecked());
    EXPECT_TRUE(Form->cbEmail->isChecked());
    EXPECT_EQ(Form->cbProtocol->currentIndex(), 0);
    EXPECT_EQ(Form->size(), QSize(649, 542));
}

// The lists take the extra space; the advertising panel and the buttons keep
// theirs, and there is still no maximize button.
TEST_F(WindowPlaceTest, ListsGrowWithTheWindow) {
    Form->DomainsList().AppendLines({"a.com"});
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    const int domainsWidth = Form->listDomains->width();
    Form->StepIndex = 2;
    ASSERT_TRUE(WaitUntil([this] { return Form->Pages->currentWidget() == Form->Tab3; }));
    const int infoHeight = Form->listDomainInfo->height();
    Form->resize(900, 800);
    QTest::qWait(50);
    EXPECT_EQ(Form->PanelAds->height(), 81);
    EXPECT_EQ(Form->Pages->height(), 800 - 81 - 67);
    EXPECT_GT(Form->listDomainInfo->height(), infoHeight + 100);
    EXPECT_GT(Form->listNoReg->width(), 200);
    Form->StepIndex = 0;
    ASSERT_TRUE(WaitUntil([this] { return Form->Pages->currentWidget() == Form->Tab1; }));
    EXPECT_GT(Form->listDomains->width(), domainsWidth + 200);
    EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
}

} // namespace
