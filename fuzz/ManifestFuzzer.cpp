// The update manifests, as the updater reads them: the run's manifest
// (details, change log, file entries) with the refusal of unsafe entries,
// and the start-up check's version, with the version numbers read from both.
//
// Input: the manifest's bytes. The last byte's lowest bit says whether
// digests are required.

#include "fuzz/FuzzInput.h"
#include "updater/UpdateManifest.h"

#include <QByteArray>
#include <QXmlStreamReader>

namespace {

// The run's reporter without a log, a window or progress.
class TQuietReporter : public TUpdateReporter {
public:
    void WriteLog(const std::string&) override {}
    void ReportError(int, const std::string&) override {}
    void SetProgress(int) override {}
};

void CheckKept(const std::vector<TUpListItem>& list, bool requireSha256) {
    for (const TUpListItem& item : list) {
        const TUpRec& entry = *item.Entry;
        FUZZ_EXPECT(webupdater::IsSafeRelativePath(item.ListedName));
        FUZZ_EXPECT(webupdater::IsSafeRelativePath(entry.Name));
        FUZZ_EXPECT(webupdater::IsSafeRelativePath(entry.Destination));
        FUZZ_EXPECT(!entry.Unsafe);
        FUZZ_EXPECT(entry.Destination.isEmpty() || entry.Destination.endsWith(QLatin1Char('/')));
        FUZZ_EXPECT(entry.Sha256 ? webupdater::IsSha256Text(*entry.Sha256) : !requireSha256);
    }
}

void ReadVersionNumber(const std::string& text) {
    try {
        webupdater::VersionToWholeNumber(webupdater::ParseVersionText(text));
    } catch (const TUpdateError&) {
        // not a number, or not one of thousandths: the documented refusal
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool requireSha256 = size > 0 && (data[size - 1] & 1) != 0;
    TQuietReporter report;

    TUpdateManifest manifest;
    try {
        webupdater::ReadUpdateManifestXml(xml, 1.0, report, manifest);
    } catch (const TUpdateError&) {
        // a version that is not a number ends the reading where it stands
    }
    if (manifest.PublishedVersion)
        ReadVersionNumber(manifest.PublishedVersionText);
    webupdater::RefuseUnsafeEntries(report, manifest, requireSha256);
    CheckKept(manifest.NormalFiles, requireSha256);
    CheckKept(manifest.RestartFiles, requireSha256);

    QXmlStreamReader parser(xml);
    try {
        if (const std::optional<std::string> version = webupdater::ReadPublishedVersion(parser))
            ReadVersionNumber(*version);
    } catch (const TUpdateError&) {
        // a document the scanner cannot read
    }
    return 0;
}
