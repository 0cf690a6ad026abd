#pragma once

// A list of GBK texts for a list view. The lines are kept as the bytes a reply
// or a file brought and saved back unchanged; they are decoded only when the
// view asks for a visible row, so a million lines cost no conversion up front.
// Lives on the UI thread; jobs reach it only through TJob::RunOnUiThread.

#include "candidates/DomainList.h"
#include "engine/NoRegList.h"

#include <QAbstractListModel>
#include <QTimer>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

class TGbkListModel : public QAbstractListModel, public TNoRegList, public TDomainList {
    Q_OBJECT

public:
    explicit TGbkListModel(QObject* parent = nullptr);

    // QAbstractListModel: DisplayRole is the line decoded from GBK.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // TNoRegList
    void Append(const std::string& text) override;
    int Count() const override;
    // Index outside the list: no line is selected.
    void Select(int index) override;

    // TDomainList
    std::vector<std::string> Items() const override;
    void AppendMissing(const std::vector<std::string>& names) override;

    const std::string& At(int index) const;
    const std::vector<std::string>& Lines() const { return FLines; }
    // Appends several lines in one update.
    void AppendLines(const std::vector<std::string>& lines);
    // Replaces line index; an index outside the list changes nothing.
    void ReplaceLine(int index, const std::string& text);
    // Replaces the whole content in one update.
    void SetLines(std::vector<std::string> lines);
    void Clear();

    // The selected line, or -1.
    int CurrentRow() const { return FCurrentRow; }

    // With a delay, lines appended (and lines replaced) reach the views in
    // groups at most that far apart, so that a batch adding hundreds of lines
    // a second repaints its list a few times a second rather than once a
    // line. The lines are
    // in the list (Count, Lines, At) at once; rowCount lags behind by at
    // most the delay. 0 (the default): each line reaches the views at once.
    void SetShowDelay(std::chrono::milliseconds delay);
    // Shows the lines still waiting for their group now.
    void ShowPending();

signals:
    // The selection moved to row (-1: none); a view scrolls to it.
    void CurrentRowChanged(int row);

private:
    void SetCurrentRow(int row);
    void Appended();

    std::vector<std::string> FLines;
    int FCurrentRow = -1;
    // The lines the views have been told of: the first FShown.
    std::size_t FShown = 0;
    std::chrono::milliseconds FShowDelay{0};
    // FCurrentRow is a line not shown yet: the views hear of it when it is.
    bool FSelectionWaits = false;
    // The shown lines replaced since the views last heard, as one range.
    int FChangedFirst = std::numeric_limits<int>::max();
    int FChangedLast = -1;
    QTimer FShowTimer;
};

// Writes lines to path as they are, each followed by CR LF, replacing an
// existing file only once the new content is whole on disk (a device or a
// pipe is written directly). False with the system's reason in error when the
// file cannot be created or written; the old file is then as it was.
bool SaveLinesCrLf(const std::string& path, const std::vector<std::string>& lines,
                   std::string& error);
