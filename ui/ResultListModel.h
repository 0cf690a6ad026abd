#pragma once

// The results list as the run page shows it: the lines of the result list,
// each coloured by its verdict (free, registered, unknown) and with its field
// marks made visible; an unknown line's tooltip says why in Chinese. The
// lines themselves stay the GBK bytes of the list. Each line's verdict and
// domain are kept beside it, noted as the line arrives.

#include "batch/GbkListModel.h"
#include "engine/Verdict.h"

#include <QIdentityProxyModel>

class TBatchJournal;
class TQueryDomain;

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// "未知：" and why, for an unknown verdict's reason.
std::string UnknownReasonText(TVerdictReason reason);

class TResultListModel : public QIdentityProxyModel {
    Q_OBJECT

public:
    explicit TResultListModel(TGbkListModel& lines, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // What line row tells of; a row outside the list is passed over.
    void NoteVerdict(int row, TVerdictKind kind, TVerdictReason reason, std::string domain);
    // The job's result line is the last line.
    void NoteLastResult(const TQueryDomain* job);
    // The lines PutBackKept gave back, in the order it gave them.
    void NoteKept(const TBatchJournal& journal);
    // The domain of line row: the one noted, else the line's first word.
    std::string DomainOf(int row) const;

private:
    struct TLineVerdict {
        bool Known = false;
        TVerdictKind Kind = TVerdictKind::Unknown;
        TVerdictReason Reason = TVerdictReason::None;
        std::string Domain;
    };
    const TLineVerdict* VerdictOf(int row) const;

    TGbkListModel& FLines;
    std::vector<TLineVerdict> FVerdicts;
};
