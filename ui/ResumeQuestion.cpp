#include "ui/ResumeQuestion.h"

#include "batch/BatchJournal.h"
#include "batch/GbkQt.h"

#include <QMessageBox>

namespace {

// "上次的查询尚未完成，是否继续？"
constexpr const char* ContinueQuestion =
    "\xC9\xCF\xB4\xCE\xB5\xC4\xB2\xE9\xD1\xAF\xC9\xD0\xCE\xB4\xCD\xEA\xB3\xC9\xA3\xAC\xCA\xC7\xB7"
    "\xF1\xBC\xCC\xD0\xF8\xA3\xBF";
// "已查 " and "，未注册 "
constexpr const char* DoneLabel = "\xD2\xD1\xB2\xE9 ";
constexpr const char* FreeLabel = "\xA3\xAC\xCE\xB4\xD7\xA2\xB2\xE1 ";
// "上次的查询已有 " and " 个结果，放弃后无法找回。确定要放弃吗？"
constexpr const char* DiscardStart = "\xC9\xCF\xB4\xCE\xB5\xC4\xB2\xE9\xD1\xAF\xD2\xD1\xD3\xD0 ";
constexpr const char* DiscardEnd =
    " \xB8\xF6\xBD\xE1\xB9\xFB\xA3\xAC\xB7\xC5\xC6\xFA\xBA\xF3\xCE\xDE\xB7\xA8\xD5\xD2\xBB\xD8\xA1"
    "\xA3\xC8\xB7\xB6\xA8\xD2\xAA\xB7\xC5\xC6\xFA\xC2\xF0\xA3\xBF";
// "查询尚未完成，确定要退出吗？" and "下次启动时可以继续这次查询。"
constexpr const char* CloseQuestion =
    "\xB2\xE9\xD1\xAF\xC9\xD0\xCE\xB4\xCD\xEA\xB3\xC9\xA3\xAC\xC8\xB7\xB6\xA8\xD2\xAA\xCD\xCB\xB3"
    "\xF6\xC2\xF0\xA3\xBF";
constexpr const char* CloseNote =
    "\xCF\xC2\xB4\xCE\xC6\xF4\xB6\xAF\xCA\xB1\xBF\xC9\xD2\xD4\xBC\xCC\xD0\xF8\xD5\xE2\xB4\xCE\xB2"
    "\xE9\xD1\xAF\xA1\xA3";

} // namespace

TKeptFigures KeptFigures(const TBatchJournal& journal) {
    TKeptFigures figures;
    figures.Total = static_cast<int>(journal.Candidates().size());
    for (const TBatchResult& result : journal.Kept()) {
        if (result.Kind == TVerdictKind::Free)
            ++figures.Free;
        else if (result.Kind == TVerdictKind::Registered)
            ++figures.Registered;
    }
    return figures;
}

TBatchCounts CarriedCounts(const TKeptFigures& figures) {
    TBatchCounts counts;
    counts.Free = figures.Free;
    counts.Registered = figures.Registered;
    return counts;
}

std::string ResumeQuestion(const TKeptFigures& figures) {
    return ContinueQuestion + std::string("\n") + DoneLabel + std::to_string(figures.Done()) +
           " / " + std::to_string(figures.Total) + FreeLabel + std::to_string(figures.Free);
}

std::string DiscardQuestion(const TKeptFigures& figures) {
    return DiscardStart + std::to_string(figures.Done()) + DiscardEnd;
}

std::string CloseDuringBatchQuestion() {
    return CloseQuestion + std::string("\n") + CloseNote;
}

TLastBatchChoice AskAboutLastBatch(const TKeptFigures& figures,
                                   const std::function<bool(const QString&)>& askYesNo) {
    if (askYesNo(GbkToQString(ResumeQuestion(figures))))
        return TLastBatchChoice::Continue;
    if (figures.Done() == 0 || askYesNo(GbkToQString(DiscardQuestion(figures))))
        return TLastBatchChoice::Discard;
    return TLastBatchChoice::Keep;
}

QMessageBox* CreateQuestionBox(QWidget* parent, const QString& question) {
    auto* box = new QMessageBox(QMessageBox::Question, parent ? parent->windowTitle() : QString(),
                                question, QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::Yes);
    return box;
}
