#pragma once

// The journal of the main window's batch, in the user's data folder, so that
// a crash loses next to nothing of it: begun with each batch with the
// settings it runs with, fed each name's last result, marked finished at the
// batch's end. A batch the program leaves unfinished keeps its journal for
// the next start to offer.

#include "batch/BatchJournal.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;
class TQueryDomain;

class TJournalKeeper {
public:
    // say shows a message (GBK); a failure is said from a call of its own on
    // context's thread, since it may come in the middle of a job's end, which
    // a modal box must not interrupt. The batch goes on.
    TJournalKeeper(QObject* context, std::function<void(const std::string&)> say);

    // A new journal of candidates in place of the last one, finished or not.
    void Begin(const std::vector<std::string>& candidates, const TBatchSettings& settings);
    // Goes on writing the journal of a batch taken up again.
    void TakeUp(std::unique_ptr<TBatchJournal> journal);
    void Record(const TQueryDomain& job);
    // The batch has run to its end.
    void End();
    // Commits what is pending, as the process may end without tearing down.
    void Commit();

private:
    void Watch();

    QObject* FContext;
    std::function<void(const std::string&)> FSay;
    std::unique_ptr<TBatchJournal> FJournal;
};
