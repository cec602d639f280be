// libFuzzer target: every engine of CRegex and PCRE2 agree on any pattern and subject, within the step bound.
// Input: pattern, 0x01, subject; each byte is the code unit of its value, except 0x02 hi lo for hi * 256 + lo.
#include "tests/regex/regex_peer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::u16string Decode(const uint8_t* data, std::size_t size) {
    std::u16string out;
    for (std::size_t i = 0; i < size; ++i) {
        const bool wide = data[i] == 0x02 && i + 2 < size;
        out += wide ? char16_t(data[i + 1] << 8 | data[i + 2]) : char16_t(data[i]);
        i += wide ? 2 : 0;
    }
    return out;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::size_t split = std::find(data, data + size, 0x01) - data;
    const std::u16string pattern = Decode(data, split);
    const std::u16string subject = split < size ? Decode(data + split + 1, size - split - 1) : std::u16string();
    CRegex re;
    const bool compiled = re.Compile(pattern);
    if (compiled == (re.Error() != RegexError::None) || compiled != re.IsCompiled()) Fail("compile state");
    if (!compiled && (re.ErrorOffset() > pattern.size() || re.Search(subject) != -1)) Fail("after a failed compile");
    if (std::string report = CrossCheck(pattern, subject); !report.empty()) Fail(report);
    // Program size x subject length, with a constant for the few steps of each state.
    RegexSearchStats stats;
    re.Search(subject, RegexSearchTuning(), &stats);
    const uint64_t bound = (16 * uint64_t(pattern.size()) + 64) * (uint64_t(subject.size()) + 1) + 1024;
    if (stats.gaveUp || stats.steps > bound) Fail("steps " + std::to_string(stats.steps) + " > " + std::to_string(bound));
    return 0;
}
