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
#include <thread>
#include <vector>

class QObject;
class TQueryDomain;

class TJournalKeeper {
public:
    // say shows a message (GBK); a failure is said from a call of its own on
    // context's thread, since it may come in the middle of a job's end, which
    // a modal box must not interrupt. The batch goes on.
    TJournalKeeper(QObject* context, std::function<void(const std::string&)> say);
    // Waits for a journal still being written.
    ~TJournalKeeper();
    TJournalKeeper(const TJournalKeeper&) = delete;
    TJournalKeeper& operator=(const TJournalKeeper&) = delete;

    // A new journal of candidates in place of the last one, finished or not.
    // It is written on a thread of its own (a million candidates take a
    // second to store, which the window must not wait for); the results and
    // the end that come meanwhile are kept and written once it is there.
    void Begin(const std::vector<std::string>& candidates, const TBatchSettings& settings);
    // Goes on writing the journal of a batch taken up again.
    void TakeUp(std::unique_ptr<TBatchJournal> journal);
    void Record(const TQueryDomain& job);
    // The batch has run to its end.
    void End();
    // Commits what is pending, as the process may end without tearing down.
    void Commit();

private:
    // What the writing thread leaves for the window's thread.
    struct TWritten {
        std::unique_ptr<TBatchJournal> Journal;
        std::string Error;
    };

    void Watch();
    void WaitForWriter();
    void TakeWritten();

    QObject* FContext;
    std::function<void(const std::string&)> FSay;
    std::unique_ptr<TBatchJournal> FJournal;
    // The journal being written, and what came for it meanwhile. The
    // receiver is the writer's way back: calls queued to it are dropped
    // with it.
    std::unique_ptr<QObject> FReceiver;
    std::thread FWriter;
    TWritten FWritten;
    bool FWriting = false;
    TBatchSettings FSettings;
    std::vector<TBatchResult> FPending;
    bool FEndPending = false;
};
