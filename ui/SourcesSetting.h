#pragma once

// The settings page's rows for the sources a batch asks besides a
// registry's first answer: "先查DNS" (the TLDs' name servers first; ticked by
// default) with a note beside it while proxies are set up (DNS queries would
// leave from the user's own address, so the box does not apply then),
// "区域文件" (zone files, separated by semicolons), and "确认未注册（再查一次）"
// (a free answer confirmed over RDAP; ticked). All are batch settings like
// the thread count: kept in config.ini and in the journal.

#include <memory>
#include <string>

class QBoxLayout;
class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;
class TBatchController;
class TSettingFields;

class TSourcesSetting {
public:
    // Builds the controls into layout (their parent is tab).
    TSourcesSetting(QWidget* tab, QBoxLayout* layout);

    void Register(TSettingFields& fields) const;
    // Shows the note while the proxy field holds something.
    void NoteProxies(bool proxiesSet) const;

    // Hands the batch what it runs with; false with the message for the user
    // when a zone file cannot be used (the batch then does not start).
    bool ApplyTo(TBatchController& batch, bool proxiesSet, std::string& message) const;

    QCheckBox* DnsFirst = nullptr;    // cbDnsFirst
    QLabel* DnsNote = nullptr;        // labDnsNote
    QLabel* ZoneFilesLabel = nullptr; // labZoneFiles
    QLineEdit* ZoneFiles = nullptr;   // txtZoneFiles
    QCheckBox* ConfirmFree = nullptr; // cbConfirmFree
};
