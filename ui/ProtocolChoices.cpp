#include "ui/ProtocolChoices.h"

#include "batch/GbkQt.h"

#include <QComboBox>

#include <iterator>

namespace {

// "自动", "WHOIS", "RDAP"
constexpr const char* ProtocolChoices[] = {"\xD7\xD4\xB6\xAF", "WHOIS", "RDAP"};
// What each choice does, its tooltip:
// "自动：后缀有 WHOIS 服务器时用 WHOIS（端口 43），否则用 RDAP"
// "只用 WHOIS（端口 43）查询；没有 WHOIS 服务器的后缀无法查询"
// "只用 RDAP 查询；没有 RDAP 服务的后缀无法查询"
constexpr const char* ProtocolChoiceTips[] = {
    "\xD7\xD4\xB6\xAF\xA3\xBA\xBA\xF3\xD7\xBA\xD3\xD0 WHOIS \xB7\xFE\xCE\xF1\xC6\xF7\xCA\xB1"
    "\xD3\xC3 WHOIS\xA3\xA8\xB6\xCB\xBF\xDA 43\xA3\xA9\xA3\xAC\xB7\xF1\xD4\xF2\xD3\xC3 RDAP",
    "\xD6\xBB\xD3\xC3 WHOIS\xA3\xA8\xB6\xCB\xBF\xDA 43\xA3\xA9\xB2\xE9\xD1\xAF\xA3\xBB\xC3\xBB"
    "\xD3\xD0 WHOIS \xB7\xFE\xCE\xF1\xC6\xF7\xB5\xC4\xBA\xF3\xD7\xBA\xCE\xDE\xB7\xA8\xB2\xE9"
    "\xD1\xAF",
    "\xD6\xBB\xD3\xC3 RDAP \xB2\xE9\xD1\xAF\xA3\xBB\xC3\xBB\xD3\xD0 RDAP \xB7\xFE\xCE\xF1\xB5"
    "\xC4\xBA\xF3\xD7\xBA\xCE\xDE\xB7\xA8\xB2\xE9\xD1\xAF",
};
static_assert(std::size(ProtocolChoiceTips) == std::size(ProtocolChoices));

} // namespace

void AddProtocolChoices(QComboBox* box) {
    for (std::size_t i = 0; i < std::size(ProtocolChoices); ++i) {
        box->addItem(GbkToQString(ProtocolChoices[i]));
        box->setItemData(static_cast<int>(i), GbkToQString(ProtocolChoiceTips[i]), Qt::ToolTipRole);
    }
}
