#include "ui/JournalKeeper.h"

#include "engine/QueryDomain.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace {

// "查询记录无法保存："
constexpr const char* JournalFailedPrefix =
    "\xB2\xE9\xD1\xAF\xBC\xC7\xC2\xBC\xCE\xDE\xB7\xA8\xB1\xA3\xB4\xE6\xA3\xBA";

} // namespace

TJournalKeeper::TJournalKeeper(QObject* context, std::function<void(const std::string&)> say)
    : FContext(context), FSay(std::move(say)), FReceiver(std::make_unique<QObject>()) {}

// The writer's call back is queued to the receiver, which goes after it
// has ended: the call is dropped with it.
TJournalKeeper::~TJournalKeeper() {
    if (FWriter.joinable())
        FWriter.join();
    FReceiver.reset();
}

void TJournalKeeper::Begin(const std::vector<std::string>& candidates,
                           const TBatchSettings& settings) {
    WaitForWriter();
    FJournal.reset();
    FWriting = true;
    FSettings = settings;
    FPending.clear();
    FEndPending = false;
    QThread* window = FReceiver->thread();
    FWriter = std::thread([this, candidates, window] {
        TWritten written;
        written.Journal = TBatchJournal::Replace(UserJournalPath(), candidates, "", written.Error);
        if (written.Journal)
            written.Journal->HandTo(window);
        FWritten = std::move(written);
        QMetaObject::invokeMethod(
            FReceiver.get(), [this] { TakeWritten(); }, Qt::QueuedConnection);
    });
}

// Takes the journal the writer left, once: from its queued call, or at once
// when the window cannot wait for that.
void TJournalKeeper::TakeWritten() {
    if (!FWriting)
        return;
    if (FWriter.joinable())
        FWriter.join();
    FWriting = false;
    TWritten written = std::move(FWritten);
    if (!written.Journal) {
        FPending.clear();
        FSay(JournalFailedPrefix + written.Error);
        return;
    }
    FJournal = std::move(written.Journal);
    Watch();
    // Read when the batch is taken up again, so that it goes on as it started.
    FJournal->KeepSettings(FSettings);
    for (const TBatchResult& result : FPending)
        FJournal->Record(result);
    FPending.clear();
    if (FEndPending)
        End();
}

void TJournalKeeper::WaitForWriter() {
    if (FWriting)
        TakeWritten();
}

void TJournalKeeper::TakeUp(std::unique_ptr<TBatchJournal> journal) {
    WaitForWriter();
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
    if (FWriting)
        FPending.push_back(BatchResultOfJob(job));
    else if (FJournal)
        FJournal->Record(BatchResultOfJob(job));
}

void TJournalKeeper::End() {
    if (FWriting) {
        FEndPending = true;
        return;
    }
    if (!FJournal)
        return;
    FJournal->MarkFinished();
    FJournal.reset();
}

void TJournalKeeper::Commit() {
    WaitForWriter();
    if (FJournal)
        FJournal->Commit();
}
