// libFuzzer target: compile any pattern, search any subject, and require every
// engine of CRegex, plain backtracking and PCRE2 to agree, within the step bound.
//
// Input: pattern bytes, a byte 0x01, subject bytes. Each byte is the code unit of
// the same value, except 0x02 hi lo, which is the code unit hi * 256 + lo.
#include "tests/regex/regex_peer.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::u16string Decode(const uint8_t* data, std::size_t size) {
    std::u16string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0x02 && i + 2 < size) {
            out += char16_t(data[i + 1] << 8 | data[i + 2]);
            i += 2;
        } else {
            out += char16_t(data[i]);
        }
    }
    return out;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::size_t split = 0;
    while (split < size && data[split] != 0x01) ++split;
    const std::u16string pattern = Decode(data, split);
    const std::u16string subject = split < size ? Decode(data + split + 1, size - split - 1) : std::u16string();

    CRegex re;
    bool compiled = re.Compile(pattern);
    if (compiled == (re.Error() != RegexError::None) || compiled != re.IsCompiled()) Fail("compile state");
    if (!compiled) {
        if (re.ErrorOffset() > pattern.size()) Fail("error offset");
        if (re.Search(subject) != -1) Fail("search after a failed compile");
        return 0;
    }
    // Every engine, plain backtracking and PCRE2 give the same match.
    std::string report = CrossCheck(pattern, subject);
    if (!report.empty()) Fail(report);

    // Program size x subject length, with a constant for the few steps of each state.
    RegexSearchStats stats;
    re.Search(subject, RegexSearchTuning(), &stats);
    uint64_t bound = (16 * uint64_t(pattern.size()) + 64) * (uint64_t(subject.size()) + 1) + 1024;
    if (stats.gaveUp || stats.steps > bound) Fail("steps " + std::to_string(stats.steps) + " > " + std::to_string(bound));
    return 0;
}
