// The zone files of a batch are opened in order, each while a dialog over
// the window says which; one that cannot be used names itself.

#include "ui/ZoneOpening.h"

#include <QApplication>
#include <QEvent>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <fstream>

namespace {

// Whether a widget of that name was shown while it watched.
class TShowSeen : public QObject {
public:
    explicit TShowSeen(QString name) : FName(std::move(name)) {
        QApplication::instance()->installEventFilter(this);
    }
    ~TShowSeen() override { QApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == FName)
            Seen = true;
        return false;
    }
    bool Seen = false;

private:
    QString FName;
};

struct TOpeningCase {
    const char* Name;
    std::vector<std::string> Files; // in the test's folder; "-" for one that is not there
    std::vector<std::string> Tlds;  // of the zones opened, in order; empty: none
    std::string ErrorNames;         // a part of the error
};

class ZoneOpeningTest : public ::testing::TestWithParam<TOpeningCase> {};

TEST_P(ZoneOpeningTest, OpensEachFileInOrderWhileTheWindowShowsIt) {
    const TOpeningCase& c = GetParam();
    QTemporaryDir dir;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")));
    QStringList files;
    for (const std::string& name : c.Files) {
        if (name == "-") {
            files << dir.filePath("missing.zone");
            continue;
        }
        const QString path = dir.filePath(QString::fromStdString(name + ".zone"));
        std::ofstream(QFile::encodeName(path).toStdString())
            << "a." << name << ".\t60\tin\tns\tns1.x.\n";
        files << " " + path + " ";
    }
    QWidget window;
    window.show();
    TShowSeen dialogShown(QStringLiteral("dlgZoneOpening"));
    std::string error;
    const std::optional<TZoneIndexes> zones =
        OpenZonesShowingWork(files, &window, error, std::chrono::milliseconds(0));
    EXPECT_EQ(dialogShown.Seen, !c.Files.empty()) << "a dialog while the first file is opened";
    std::vector<std::string> tlds;
    for (const auto& zone : zones.value_or(TZoneIndexes{}))
        tlds.push_back(zone->Tld());
    EXPECT_EQ(tlds, c.Tlds);
    EXPECT_EQ(zones.has_value(), c.ErrorNames.empty());
    if (!c.ErrorNames.empty()) {
        EXPECT_NE(error.find(c.ErrorNames), std::string::npos) << error;
    }
    EXPECT_EQ(window.findChild<QProgressDialog*>(), nullptr) << "the dialog outlived the opening";
    qunsetenv("XDG_CACHE_HOME");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZoneOpeningTest,
    ::testing::Values(TOpeningCase{"None", {}, {}, ""},
                      TOpeningCase{"TwoInOrder", {"net", "com"}, {"net", "com"}, ""},
                      TOpeningCase{"Missing", {"-"}, {}, "missing.zone"},
                      TOpeningCase{"MissingAfterOne", {"com", "-"}, {}, "missing.zone"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
