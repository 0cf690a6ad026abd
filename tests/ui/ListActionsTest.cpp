// The lists: they follow their newest line only while the user is at their
// end; copy, select-all and a WHOIS query from the context menu, the keys
// and a double-click; result lines coloured by verdict with a Chinese reason
// for the unknown ones, and their field marks visible on screen.

#include "tests/ui/MainWindowFixture.h"

#include "batch/GbkQt.h"
#include "tests/support/Screenshots.h"
#include "ui/FieldMarkDisplay.h"
#include "ui/ListActions.h"
#include "ui/Unit_Whois.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

namespace {

using namespace mainwindow;
using TLines = std::vector<std::string>;

TLines Numbered(const char* stem, int count) {
    TLines lines;
    for (int i = 0; i < count; ++i)
        lines.push_back(stem + std::to_string(i) + ".com");
    return lines;
}

class ListActionsTest : public TMainWindowFixture {
protected:
    void ShowRunPage() {
        Form->show();
        Form->StepIndex = 2;
        ASSERT_TRUE(WaitUntil([this] { return Form->Pages->currentWidget() == Form->Tab3; }));
    }

    // Appends a line as a batch does: the line, then its selection.
    void AppendResult(const std::string& line) {
        Form->DomainInfoList().Append(line);
        Form->DomainInfoList().Select(Form->DomainInfoList().Count() - 1);
        // A batch's lines reach the list in groups; this one now.
        Form->DomainInfoList().ShowPending();
        QTest::qWait(20);
    }
};

TEST_F(ListActionsTest, AListFollowsItsNewestLineOnlyWhileAtItsEnd) {
    ShowRunPage();
    QListView* view = Form->listDomainInfo;
    QScrollBar* bar = view->verticalScrollBar();
    for (const std::string& line : Numbered("r", 100))
        AppendResult(line);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(view->currentIndex().row(), 99);

    // The user scrolls up to read: new lines leave the view and its selection.
    bar->setValue(10);
    view->setCurrentIndex(view->model()->index(12, 0));
    AppendResult("late1.com");
    AppendResult("late2.com");
    EXPECT_EQ(bar->value(), 10);
    EXPECT_EQ(view->currentIndex().row(), 12);
    EXPECT_EQ(Form->DomainInfoList().CurrentRow(), 101);

    // Back at the end, it follows again.
    bar->setValue(bar->maximum());
    AppendResult("late3.com");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(view->currentIndex().row(), 102);
}

// Each list has the same menu; copy takes the selected lines as shown, the
// keys do as the menu does. TAVIREL_SCREENSHOT_DIR receives the menu.
TEST_F(ListActionsTest, ContextMenuCopiesSelectsAllAndAsksWhois) {
    StartServer();
    ShowRunPage();
    for (QListView* view :
         {Form->listDomains, Form->listQueryState, Form->listNoReg, Form->listDomainInfo}) {
        QStringList captions;
        for (const QAction* action : view->actions())
            captions << action->text();
        EXPECT_EQ(captions, (QStringList{U("复制"), U("全选"), U("用WHOIS查询")}))
            << view->objectName().toStdString();
        EXPECT_EQ(view->contextMenuPolicy(), Qt::ActionsContextMenu);
    }
    Form->NoRegList().AppendLines({"free1.com", "free2.com", "free3.com"});
    Form->NoRegList().ShowPending();
    QListView* view = Form->listNoReg;
    view->setFocus();
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    view->selectionModel()->select(view->model()->index(2, 0), QItemSelectionModel::Select);
    view->selectionModel()->select(view->model()->index(0, 0), QItemSelectionModel::Select);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("free1.com\nfree3.com"));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    view->actions().at(0)->trigger();
    EXPECT_EQ(clipboard->text(), QStringLiteral("free1.com\nfree2.com\nfree3.com"));

    if (screenshots::Wanted()) {
        // The menu runs its own loop: it is pictured and closed from inside.
        QTimer::singleShot(300, [this] {
            QWidget* menu = QApplication::activePopupWidget();
            screenshots::Save(*Form, "list-context-menu", {menu});
            if (menu)
                menu->close();
        });
        const QPoint at = view->viewport()->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
    }

    view->setCurrentIndex(view->model()->index(1, 0));
    view->actions().at(2)->trigger();
    const QList<TForm2*> windows = Form->findChildren<TForm2*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0]->txtDomain->text(), QStringLiteral("free2.com"));
    EXPECT_TRUE(WaitUntil([&] { return Server->Queries() == TLines{"free2.com"}; }));
}

TEST_F(ListActionsTest, DoubleClickOnAResultLineAsksWhoisAboutItsDomain) {
    StartServer();
    ShowRunPage();
    // Without the domain column the line does not begin with the name.
    Form->cbDomain->setChecked(false);
    Form->DomainsList().AppendLines({"taken1.com"});
    Form->btnStart->click();
    ASSERT_TRUE(WaitUntil([this] { return !Form->Batch().IsActive(); }));
    ASSERT_EQ(Form->DomainInfoList().Count(), 1);
    QListView* view = Form->listDomainInfo;
    const QRect first = view->visualRect(view->model()->index(0, 0));
    ASSERT_FALSE(first.isEmpty());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, first.center());
    const QList<TForm2*> windows = Form->findChildren<TForm2*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0]->txtDomain->text(), QStringLiteral("taken1.com"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return windows[0]->btnQueryWhois->isEnabled(); }, 10'000));
}

TEST(StateLineTest, TheDomainOfAStateLine) {
    const struct {
        const char* Line;
        const char* Domain;
    } cases[] = {
        {"Thread 1 - a.com  \xD5\xFD\xD4\xDA\xB2\xE9\xD1\xAF\xA1\xAD", "a.com"},
        {"Thread 12 - b-c.net  \xB5\xC8\xB4\xFD\xD6\xD8\xCA\xD4\xA3\xA8"
         "5 \xC3\xEB\xA3\xA9",
         "b-c.net"},
        {"Thread 3 - \xC8\xCE\xCE\xF1\xBD\xE1\xCA\xF8", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DomainOfStateLine(c.Line), c.Domain) << c.Line;
}

// Each verdict its colour, the text unchanged; an unknown line says why in
// Chinese; the field mark is shown as a visible mark, the bytes stay.
TEST_F(ListActionsTest, ResultLinesAreColouredByVerdictWithTheirMarkVisible) {
    StartServer();
    Form->DomainsList().AppendLines({"free1.com", "taken1.com", "none1.com"});
    Form->txtRetries->setText(QStringLiteral("0"));
    Form->txtMaxThread->setText(QStringLiteral("1"));
    GoToRunPage();
    Form->btnStart->click();
    ASSERT_TRUE(WaitUntil([this] { return !Form->Batch().IsActive(); }));
    const QAbstractItemModel* shown = Form->listDomainInfo->model();
    ASSERT_EQ(shown->rowCount(), 3);
    struct TRowCase {
        int Row;
        QColor Colour;
        bool Tip;
    };
    const TRowCase rows[] = {
        {0, QColor(0, 128, 0), false},
        {1, QColor(96, 96, 96), false},
        {2, QColor(192, 96, 0), true},
    };
    for (const TRowCase& c : rows) {
        const QModelIndex index = shown->index(c.Row, 0);
        const QString line = GbkToQString(Form->DomainInfoList().At(c.Row));
        EXPECT_EQ(index.data(Qt::DisplayRole).toString(), WithVisibleFieldMarks(line));
        EXPECT_EQ(index.data(Qt::ForegroundRole).value<QBrush>().color(), c.Colour) << c.Row;
        EXPECT_EQ(index.data(Qt::ToolTipRole).isValid(), c.Tip) << c.Row;
    }
    const QString tip = shown->index(2, 0).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.startsWith(U("未知：")) && tip.size() > 4) << tip.toStdString();
    // The registered line holds a field mark: shown as ◆, kept as A4 F6.
    const std::string& registered = Form->DomainInfoList().At(1);
    ASSERT_NE(registered.find("\xA4\xF6"), std::string::npos) << registered;
    const QString display = shown->index(1, 0).data().toString();
    EXPECT_TRUE(display.contains(QChar(0x25C6))) << display.toStdString();
    EXPECT_FALSE(display.contains(QChar(0xE774)));

    // Cleared and refilled: the old colours do not stick to new lines.
    Form->btnClearInfo->click();
    Form->DomainInfoList().AppendLines({"x"});
    EXPECT_FALSE(shown->index(0, 0).data(Qt::ForegroundRole).isValid());
}

} // namespace
