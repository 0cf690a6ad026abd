// The conversions at the program's edges and the name rule behind them:
// GBK to UTF-8 and back, and each line checked as a name the user gave
// (its internationalised labels converted to A-labels by libidn2).
//
// Input: the text; every line of it is also a name.

#include "engine/DomainName.h"
#include "engine/GbkCodec.h"
#include "engine/RegistryData.h"
#include "engine/Unit_Functions.h"
#include "fuzz/FuzzInput.h"

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <string>

namespace {

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

// Well-formed UTF-8 (no stray continuation byte, over-long form, surrogate,
// code above U+10FFFF or cut sequence), as glibc's strict decoder judges it:
// a judge of its own, not the converter under test.
bool IsWellFormedUtf8(std::string_view text) {
    const iconv_t decoder = ::iconv_open("UTF-32LE", "UTF-8");
    FUZZ_EXPECT(decoder != reinterpret_cast<iconv_t>(-1));
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    bool wellFormed = true;
    while (inLeft > 0 && wellFormed) {
        char chunk[4096];
        char* out = chunk;
        std::size_t outLeft = sizeof chunk;
        wellFormed =
            ::iconv(decoder, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) ||
            errno == E2BIG;
    }
    ::iconv_close(decoder);
    return wellFormed;
}

const TRegistryData& ShippedData() {
    static const std::shared_ptr<const TRegistryData> data = [] {
        TRegistryDataSources sources;
        sources.ShippedFolder = TAVIREL_SOURCE_DIR "/data";
        return LoadRegistryData(sources).Data;
    }();
    return *data;
}

void CheckName(std::string_view name) {
    const TCheckedName checked = CheckDomainName(name, ShippedData());
    FUZZ_EXPECT(checked.IsValid() == checked.Reason.empty());
    if (checked.IsValid()) {
        // What is sent: lower-case ASCII of two labels the suffix of which
        // the data holds.
        FUZZ_EXPECT(checked.QueryName.size() <= 253);
        for (unsigned char c : checked.QueryName)
            FUZZ_EXPECT(c < 0x80 && !(c >= 'A' && c <= 'Z'));
        FUZZ_EXPECT(checked.QueryName.ends_with("." + checked.Suffix));
        FUZZ_EXPECT(ShippedData().Find(checked.Suffix) != nullptr);
        FUZZ_EXPECT(IsHostName(checked.QueryName));
    }
    std::string ascii, reason;
    if (ToAsciiName(name, ascii, reason)) {
        for (unsigned char c : ascii)
            FUZZ_EXPECT(c < 0x80);
    } else {
        FUZZ_EXPECT(!reason.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ShippedData();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzzinput::Text(data, size);

    const std::string utf8 = GbkToUtf8(text);
    FUZZ_EXPECT(IsWellFormedUtf8(utf8));
    const std::string gbk = Utf8ToGbk(text);
    FUZZ_EXPECT(gbk.size() <= text.size());
    // What the program makes of UTF-8 is GBK that decodes whole: nothing
    // undecodable unless the text held the replacement character itself.
    if (text.find(ReplacementCharacter) == std::string_view::npos)
        FUZZ_EXPECT(GbkToUtf8(gbk).find(ReplacementCharacter) == std::string::npos);

    for (std::string_view line : SplitText(text, '\n'))
        CheckName(line);
    return 0;
}
