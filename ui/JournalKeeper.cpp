#include "ui/JournalKeeper.h"

#include "engine/QueryDomain.h"

#include <QMetaObject>
#include <QObject>

namespace {

// "查询记录无法保存："
constexpr const char* JournalFailedPrefix =
    "\xB2\xE9\xD1\xAF\xBC\xC7\xC2\xBC\xCE\xDE\xB7\xA8\xB1\xA3\xB4\xE6\xA3\xBA";

} // namespace

TJournalKeeper::TJournalKeeper(QObject* context, std::function<void(const std::string&)> say)
    : FContext(context), FSay(std::move(say)) {}

void TJournalKeeper::Begin(const std::vector<std::string>& candidates,
                           const TBatchSettings& settings) {
    FJournal.reset();
    std::string error;
    FJournal = TBatchJournal::Replace(UserJournalPath(), candidates, "", error);
    if (!FJournal) {
        FSay(JournalFailedPrefix + error);
        return;
    }
    Watch();
    // Read when the batch is taken up again, so that it goes on as it started.
    FJournal->KeepSettings(settings);
}

void TJournalKeeper::TakeUp(std::unique_ptr<TBatchJournal> journal) {
    FJournal = std::move(journal);
    Watch();
}

void TJournalKeeper::Watch() {
    FJournal->OnFailure = [this](const std::string& failure) {
        QMetaObject::invokeMethod(
            FContext, [say = FSay, failure] { say(JournalFailedPrefix + failure); },
            Qt::QueuedConnection);
    };
}

void TJournalKeeper::Record(const TQueryDomain& job) {
    if (FJournal)
        FJournal->Record(BatchResultOfJob(job));
}

void TJournalKeeper::End() {
    if (!FJournal)
        return;
    FJournal->MarkFinished();
    FJournal.reset();
}

void TJournalKeeper::Commit() {
    if (FJournal)
        FJournal->Commit();
}
