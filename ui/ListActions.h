#pragma once

// What the window's lists offer beyond showing lines: each follows its
// newest line only while the user is at its end, so reading further up is
// not interrupted; a context menu 复制 / 全选 / 用WHOIS查询 with Ctrl+C and
// Ctrl+A; a double-click asks WHOIS about the line's domain.

#include <QString>

#include <functional>
#include <string>

class QListView;
class TGbkListModel;

// The domain a row of a list is about ("" for none).
using TDomainOfRow = std::function<std::string(int row)>;
// Opens a WHOIS window on a domain.
using TQueryWhoisOn = std::function<void(const std::string& domain)>;

// Selects and shows the row that model selects (its newest line, as a batch
// or a job appends) only while the view is scrolled to its end.
void FollowNewestLine(QListView* view, TGbkListModel& model);

void AddListActions(QListView* view, TDomainOfRow domainOf, TQueryWhoisOn queryWhois);

// The selected lines as shown, in list order, one per line.
QString SelectedLines(const QListView* view);

// The domain of a state line "Thread n - domain  ..." ("" when none).
std::string DomainOfStateLine(const std::string& line);
// The domains of a list's rows: the lines themselves (candidates, free
// names), or what state lines name.
TDomainOfRow LineOf(const TGbkListModel& list);
TDomainOfRow StateLineDomainOf(const TGbkListModel& list);
