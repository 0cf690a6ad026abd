#include "ui/SourcesSetting.h"

#include "batch/BatchController.h"
#include "batch/GbkQt.h"
#include "engine/GbkCodec.h"
#include "engine/dns/DnsFirstRule.h"
#include "ui/ObjectNames.h"
#include "ui/RememberedSettings.h"
#include "ui/ZoneOpening.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

// "先查DNS（已解析的域名直接判为已注册，更快）"
constexpr const char* DnsFirstCaption =
    "\xCF\xC8\xB2\xE9"
    "DNS\xA3\xA8\xD2\xD1\xBD\xE2\xCE\xF6\xB5\xC4\xD3\xF2\xC3\xFB\xD6\xB1\xBD\xD3\xC5\xD0\xCE\xAA"
    "\xD2\xD1\xD7\xA2\xB2\xE1\xA3\xAC\xB8\xFC\xBF\xEC\xA3\xA9";
// "已设置代理：DNS查询不经代理，此项不生效"
constexpr const char* DnsNoteText =
    "\xD2\xD1\xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xA3\xBA"
    "DNS\xB2\xE9\xD1\xAF\xB2\xBB\xBE\xAD\xB4\xFA\xC0\xED\xA3\xAC\xB4\xCB\xCF\xEE\xB2\xBB\xC9\xFA"
    "\xD0\xA7";
// "区域文件："
constexpr const char* ZoneFilesCaption = "\xC7\xF8\xD3\xF2\xCE\xC4\xBC\xFE\xA3\xBA";
// "多个文件以分号隔开"
constexpr const char* ZoneFilesHint =
    "\xB6\xE0\xB8\xF6\xCE\xC4\xBC\xFE\xD2\xD4\xB7\xD6\xBA\xC5\xB8\xF4\xBF\xAA";
// "确认未注册（再查一次）"
constexpr const char* ConfirmFreeCaption =
    "\xC8\xB7\xC8\xCF\xCE\xB4\xD7\xA2\xB2\xE1\xA3\xA8\xD4\xD9\xB2\xE9\xD2\xBB\xB4\xCE\xA3\xA9";
// "区域文件打不开："
constexpr const char* ZoneFailedText =
    "\xC7\xF8\xD3\xF2\xCE\xC4\xBC\xFE\xB4\xF2\xB2\xBB\xBF\xAA\xA3\xBA";

} // namespace

TSourcesSetting::TSourcesSetting(QWidget* tab, QBoxLayout* layout) {
    auto* dnsRow = new QHBoxLayout;
    DnsFirst = Named(new QCheckBox(GbkToQString(DnsFirstCaption), tab), "cbDnsFirst");
    DnsFirst->setChecked(true);
    DnsNote = Named(new QLabel(GbkToQString(DnsNoteText), tab), "labDnsNote");
    DnsNote->setVisible(false);
    dnsRow->addWidget(DnsFirst);
    dnsRow->addWidget(DnsNote);
    dnsRow->addStretch(1);
    layout->addLayout(dnsRow);

    auto* zoneRow = new QHBoxLayout;
    ZoneFilesLabel = Named(new QLabel(GbkToQString(ZoneFilesCaption), tab), "labZoneFiles");
    ZoneFiles = Named(new QLineEdit(tab), "txtZoneFiles");
    ZoneFiles->setPlaceholderText(GbkToQString(ZoneFilesHint));
    zoneRow->addWidget(ZoneFilesLabel);
    zoneRow->addWidget(ZoneFiles, 1);
    layout->addLayout(zoneRow);

    ConfirmFree = Named(new QCheckBox(GbkToQString(ConfirmFreeCaption), tab), "cbConfirmFree");
    ConfirmFree->setChecked(true);
    layout->addWidget(ConfirmFree);
}

void TSourcesSetting::Register(TSettingFields& fields) const {
    fields.AddCheckBox("DnsFirst", DnsFirst);
    fields.AddLineEdit("ZoneFiles", ZoneFiles);
    fields.AddCheckBox("ConfirmFree", ConfirmFree);
}

void TSourcesSetting::NoteProxies(bool proxiesSet) const {
    DnsNote->setVisible(proxiesSet);
}

bool TSourcesSetting::ApplyTo(TBatchController& batch, bool proxiesSet,
                              std::string& message) const {
    std::string error;
    std::optional<TZoneIndexes> zones = OpenZonesShowingWork(
        ZoneFiles->text().split(u';', Qt::SkipEmptyParts), ZoneFiles->window(), error);
    if (!zones) {
        message = ZoneFailedText + Utf8ToGbk(error);
        return false;
    }
    const TDnsChoice choice = DnsFirst->isChecked() ? TDnsChoice::Default : TDnsChoice::Off;
    batch.SetDnsFirst(DecideDnsFirst(choice, proxiesSet).On);
    batch.SetZones(std::move(*zones));
    batch.SetConfirmFree(ConfirmFree->isChecked());
    return true;
}
