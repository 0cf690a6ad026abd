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

#include <memory>
#include <string>

namespace {

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

// Well-formed UTF-8: no stray continuation byte, no over-long form, no
// surrogate, nothing above U+10FFFF, no sequence cut short.
bool IsWellFormedUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t need = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + need >= text.size())
            return false;
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (second < low || second > high)
            return false;
        for (std::size_t k = 2; k <= need; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += need + 1;
    }
    return true;
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
