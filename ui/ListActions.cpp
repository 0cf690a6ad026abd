#include "ui/ListActions.h"

#include "batch/GbkListModel.h"
#include "batch/GbkQt.h"
#include "ui/ObjectNames.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QListView>
#include <QScrollBar>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// "复制", "全选", "用WHOIS查询"
constexpr const char* CopyCaption = "\xB8\xB4\xD6\xC6";
constexpr const char* SelectAllCaption = "\xC8\xAB\xD1\xA1";
constexpr const char* QueryWhoisCaption = "\xD3\xC3WHOIS\xB2\xE9\xD1\xAF";

QAction* AddAction(QListView* view, const char* caption, const QKeySequence& keys,
                   const char* name) {
    auto* action = Named(new QAction(GbkToQString(caption), view), name);
    if (!keys.isEmpty()) {
        action->setShortcut(keys);
        // The keys belong to the list that has the focus, not the window.
        action->setShortcutContext(Qt::WidgetShortcut);
    }
    view->addAction(action);
    return action;
}

// The row the menu was opened on: a click makes it the current one.
int CurrentRow(const QListView* view) {
    const QModelIndex current = view->currentIndex();
    if (current.isValid())
        return current.row();
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.constFirst().row();
}

} // namespace

void FollowNewestLine(QListView* view, TGbkListModel& model) {
    // At the end while the scroll bar is at its end: set by every move of the
    // bar (the user's or ours), kept while lines are added below.
    auto following = std::make_shared<bool>(true);
    QScrollBar* bar = view->verticalScrollBar();
    QObject::connect(bar, &QScrollBar::valueChanged, view,
                     [bar, following](int value) { *following = value >= bar->maximum(); });
    QObject::connect(bar, &QScrollBar::rangeChanged, view, [bar, following](int, int maximum) {
        if (*following)
            bar->setValue(maximum);
    });
    QObject::connect(&model, &TGbkListModel::CurrentRowChanged, view, [view, following](int row) {
        if (row < 0) {
            view->clearSelection();
            return;
        }
        if (!*following)
            return;
        const QModelIndex index = view->model()->index(row, 0);
        view->setCurrentIndex(index);
        view->scrollTo(index);
    });
}

void AddListActions(QListView* view, TDomainOfRow domainOf, TQueryWhoisOn queryWhois) {
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    QAction* copy = AddAction(view, CopyCaption, QKeySequence::Copy, "actCopy");
    QAction* selectAll = AddAction(view, SelectAllCaption, QKeySequence::SelectAll, "actSelectAll");
    QAction* whois = AddAction(view, QueryWhoisCaption, QKeySequence(), "actQueryWhois");
    QObject::connect(copy, &QAction::triggered, view, [view] {
        const QString text = SelectedLines(view);
        if (!text.isEmpty())
            QApplication::clipboard()->setText(text);
    });
    QObject::connect(selectAll, &QAction::triggered, view, [view] { view->selectAll(); });
    const auto askAbout = [domainOf, queryWhois](int row) {
        if (row < 0)
            return;
        const std::string domain = domainOf(row);
        if (!domain.empty())
            queryWhois(domain);
    };
    QObject::connect(whois, &QAction::triggered, view,
                     [view, askAbout] { askAbout(CurrentRow(view)); });
    QObject::connect(view, &QAbstractItemView::doubleClicked, view,
                     [askAbout](const QModelIndex& index) { askAbout(index.row()); });
}

QString SelectedLines(const QListView* view) {
    // Ranges, not indexes: a list of a million selected lines is a handful
    // of ranges.
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& range : view->selectionModel()->selection())
        ranges.emplace_back(range.top(), range.bottom());
    std::sort(ranges.begin(), ranges.end());
    QStringList lines;
    const QAbstractItemModel* model = view->model();
    for (const auto& [top, bottom] : ranges) {
        for (int row = top; row <= bottom; ++row)
            lines << model->index(row, 0).data(Qt::DisplayRole).toString();
    }
    return lines.join(QLatin1Char('\n'));
}

std::string DomainOfStateLine(const std::string& line) {
    const std::size_t start = line.find(" - ");
    if (start == std::string::npos)
        return "";
    // The domain is followed by two blanks and what the slot does with it;
    // an ended slot's line names none.
    const std::size_t from = start + 3;
    const std::size_t end = line.find("  ", from);
    return end == std::string::npos ? "" : line.substr(from, end - from);
}

TDomainOfRow LineOf(const TGbkListModel& list) {
    return
        [&list](int row) { return row >= 0 && row < list.Count() ? list.At(row) : std::string(); };
}

TDomainOfRow StateLineDomainOf(const TGbkListModel& list) {
    return [line = LineOf(list)](int row) { return DomainOfStateLine(line(row)); };
}
