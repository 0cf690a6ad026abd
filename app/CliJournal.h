#pragma once

// The journal of `check --journal FILE`, and the `journal` command that
// prints what a journal holds.

#include "batch/BatchJournal.h"
#include "engine/QueryDomain.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TGbkListModel;

// The --show items as a journal keeps them: the shown ones in one fixed
// order, so "regtime,domain" and "domain,regtime" are the same.
std::string ShowListOf(const TDisplayFlags& flags);

// The journal check keeps at path for candidates and flags, opened or started;
// nothing, with the message in error, when it is refused: not a journal, a
// journal of another list or of another --show, in use, or also one of the
// files the command reads or writes (others, the paths given for them).
// A failure to store later is said on standard error at once; the batch goes
// on without the journal.
std::unique_ptr<TBatchJournal> OpenCheckJournal(const std::string& path,
                                                const std::vector<std::string>& candidates,
                                                const TDisplayFlags& flags,
                                                const std::vector<std::string>& others,
                                                std::string& error);

// What the journal kept from earlier runs goes first, as if this run had
// made it: each result with a verdict is handed to report, and the free names
// and result lines are put back into noReg and domainInfo. Standard error
// gets one note of how many results were kept and how many names are left.
void ReplayCheckJournal(const TBatchJournal& journal, TGbkListModel& noReg,
                        TGbkListModel& domainInfo,
                        const std::function<void(const TBatchResult&)>& report);

// The end of check's batch: the journal is marked as run to its end. False
// when storing failed at any time, which makes check end with status 1.
bool EndCheckJournal(TBatchJournal& journal);
