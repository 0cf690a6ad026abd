#pragma once

// The questions asked before a batch's results could be lost: at start-up,
// whether to go on with the batch that did not run to its end (with its
// figures, and once more before its results are thrown away), and when the
// main window is closed while a batch runs.

#include "batch/BatchController.h"

#include <QString>

#include <functional>
#include <string>

class QMessageBox;
class QWidget;
class TBatchJournal;

// What a journal holds of its batch.
struct TKeptFigures {
    int Total = 0;      // candidates
    int Free = 0;       // names found free
    int Registered = 0; // names found registered
    int Done() const { return Free + Registered; }
};
TKeptFigures KeptFigures(const TBatchJournal& journal);
// What the batch taken up again counts from.
TBatchCounts CarriedCounts(const TKeptFigures& figures);

// "上次的查询尚未完成，是否继续？" and, on a line of its own, "已查 N / M，未注册 F"
std::string ResumeQuestion(const TKeptFigures& figures);
// Asked after no, when results would go.
std::string DiscardQuestion(const TKeptFigures& figures);
// Asked when the window is closed during a batch.
std::string CloseDuringBatchQuestion();

enum class TLastBatchChoice {
    Continue, // take the batch up again
    Discard,  // throw its journal away
    Keep,     // leave it for the next start
};
// Asks through askYesNo (true for yes): yes continues; no discards a journal
// without results at once, and one with results only when asked again.
TLastBatchChoice AskAboutLastBatch(const TKeptFigures& figures,
                                   const std::function<bool(const QString&)>& askYesNo);

// The yes/no box the window asks its questions in, yes the default.
QMessageBox* CreateQuestionBox(QWidget* parent, const QString& question);
