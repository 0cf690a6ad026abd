#include "ui/ResultListModel.h"

#include "batch/BatchJournal.h"
#include "batch/GbkQt.h"
#include "engine/QueryDomain.h"
#include "ui/FieldMarkDisplay.h"

#include <QBrush>
#include <QColor>

namespace {

// "未知："
constexpr const char* UnknownLabel = "\xCE\xB4\xD6\xAA\xA3\xBA";

struct TReasonText {
    TVerdictReason Reason;
    const char* Text;
};
constexpr TReasonText ReasonTexts[] = {
    // "服务器限制了查询次数，稍后再查"
    {TVerdictReason::Throttled, "\xB7\xFE\xCE\xF1\xC6\xF7\xCF\xDE\xD6\xC6\xC1\xCB\xB2\xE9\xD1\xAF"
                                "\xB4\xCE\xCA\xFD\xA3\xAC\xC9\xD4\xBA\xF3\xD4\xD9\xB2\xE9"},
    // "服务器暂时无法回答"
    {TVerdictReason::Unavailable, "\xB7\xFE\xCE\xF1\xC6\xF7\xD4\xDD\xCA\xB1\xCE\xDE\xB7\xA8\xBB"
                                  "\xD8\xB4\xF0"},
    // "没有得到回答（连接失败或超时）"
    {TVerdictReason::Failed, "\xC3\xBB\xD3\xD0\xB5\xC3\xB5\xBD\xBB\xD8\xB4\xF0\xA3\xA8\xC1\xAC"
                             "\xBD\xD3\xCA\xA7\xB0\xDC\xBB\xF2\xB3\xAC\xCA\xB1\xA3\xA9"},
    // "回答不完整（被截断或连接被重置）"
    {TVerdictReason::Cut, "\xBB\xD8\xB4\xF0\xB2\xBB\xCD\xEA\xD5\xFB\xA3\xA8\xB1\xBB\xBD\xD8\xB6"
                          "\xCF\xBB\xF2\xC1\xAC\xBD\xD3\xB1\xBB\xD6\xD8\xD6\xC3\xA3\xA9"},
    // "域名无效"
    {TVerdictReason::InvalidName, "\xD3\xF2\xC3\xFB\xCE\xDE\xD0\xA7"},
    // "不支持的后缀：没有可查询的服务器"
    {TVerdictReason::UnsupportedSuffix, "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xC4\xBA\xF3\xD7\xBA\xA3\xBA"
                                        "\xC3\xBB\xD3\xD0\xBF\xC9\xB2\xE9\xD1\xAF\xB5\xC4\xB7\xFE"
                                        "\xCE\xF1\xC6\xF7"},
};

// Free stands out, registered recedes, unknown warns.
const QColor FreeColour(0, 128, 0);
const QColor RegisteredColour(96, 96, 96);
const QColor UnknownColour(192, 96, 0);

QColor ColourOf(TVerdictKind kind) {
    switch (kind) {
    case TVerdictKind::Free:
        return FreeColour;
    case TVerdictKind::Registered:
        return RegisteredColour;
    case TVerdictKind::Unknown:
        break;
    }
    return UnknownColour;
}

} // namespace

std::string UnknownReasonText(TVerdictReason reason) {
    for (const TReasonText& entry : ReasonTexts) {
        if (entry.Reason == reason)
            return std::string(UnknownLabel) + entry.Text;
    }
    return std::string(UnknownLabel) + std::string(ReasonWord(reason));
}

TResultListModel::TResultListModel(TGbkListModel& lines, QObject* parent)
    : QIdentityProxyModel(parent), FLines(lines) {
    setSourceModel(&lines);
    // Lines are only appended or replaced all at once; a reset brings lines
    // whose verdicts are noted anew.
    connect(&lines, &QAbstractItemModel::modelReset, this, [this] {
        FVerdicts.clear();
        FVerdicts.shrink_to_fit();
    });
}

QVariant TResultListModel::data(const QModelIndex& index, int role) const {
    switch (role) {
    case Qt::DisplayRole:
        return WithVisibleFieldMarks(QIdentityProxyModel::data(index, role).toString());
    case Qt::ForegroundRole:
        if (const TLineVerdict* verdict = VerdictOf(index.row()))
            return QBrush(ColourOf(verdict->Kind));
        return {};
    case Qt::ToolTipRole:
        if (const TLineVerdict* verdict = VerdictOf(index.row());
            verdict && verdict->Kind == TVerdictKind::Unknown)
            return GbkToQString(UnknownReasonText(verdict->Reason));
        return {};
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

void TResultListModel::NoteVerdict(int row, TVerdictKind kind, TVerdictReason reason,
                                   std::string domain) {
    if (row < 0 || row >= FLines.Count())
        return;
    const auto at = static_cast<std::size_t>(row);
    if (FVerdicts.size() <= at)
        FVerdicts.resize(at + 1);
    FVerdicts[at] = TLineVerdict{true, kind, reason, std::move(domain)};
    if (row >= rowCount())
        return; // not shown yet: its colour is read when it is
    const QModelIndex changed = index(row, 0);
    emit dataChanged(changed, changed, {Qt::ForegroundRole, Qt::ToolTipRole});
}

void TResultListModel::NoteLastResult(const TQueryDomain* job) {
    NoteVerdict(FLines.Count() - 1, job->Verdict.Kind, job->Verdict.Reason, job->Domain);
}

void TResultListModel::NoteKept(const TBatchJournal& journal) {
    int row = 0;
    for (const TBatchResult& result : journal.Kept()) {
        if (HasVerdict(result))
            NoteVerdict(row++, result.Kind, TVerdictReason::None, result.Domain);
    }
}

const TResultListModel::TLineVerdict* TResultListModel::VerdictOf(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= FVerdicts.size())
        return nullptr;
    const TLineVerdict& verdict = FVerdicts[static_cast<std::size_t>(row)];
    return verdict.Known ? &verdict : nullptr;
}

std::string TResultListModel::DomainOf(int row) const {
    if (const TLineVerdict* verdict = VerdictOf(row); verdict && !verdict->Domain.empty())
        return verdict->Domain;
    if (row < 0 || row >= FLines.Count())
        return "";
    const std::string& line = FLines.At(row);
    return line.substr(0, line.find_first_of(" \t\xA4"));
}
