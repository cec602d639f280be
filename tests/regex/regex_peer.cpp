#include "tests/regex/regex_peer.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::string Hex(char16_t c) {
    char buffer[16];
    return std::string(buffer, std::snprintf(buffer, sizeof buffer, "\\x{%x}", unsigned(c)));
}

void AppendLiteral(std::u16string& out, char16_t c) {
    for (char h : Hex(c)) out += char16_t(h);
}

// In PCRE2's syntax (with DOTALL and DOLLAR_ENDONLY): literals as \x{..}, lists as this dialect means them.
std::u16string ToPcre2(std::u16string_view p) {
    std::u16string out;
    for (std::size_t i = 0; i < p.size(); ++i) {
        switch (p[i]) {
        case u'\\': AppendLiteral(out, p[++i]); break;
        case u'(': out += u"(?:"; break;
        case u')': case u'|': case u'*': case u'+': case u'?': case u'.': out += p[i]; break;
        case u'^': out += u"(?:^)"; break;  // PCRE2 refuses a repetition sign right after an assertion
        case u'$': out += u"(?:$)"; break;
        case u'[': {
            // A leading ] or - is a member; X-Y runs from the character before the - and Y may start the next range.
            out += u'[';
            if (p[++i] == u'^') out += p[i++];
            AppendLiteral(out, p[i++]);
            for (; p[i] != u']'; ++i) {
                if (p[i] == u'-' && p[i + 1] != u']') {
                    out += u'-';
                    AppendLiteral(out, p[++i]);
                }
                AppendLiteral(out, p[i]);
            }
            out += u']';
            break;
        }
        default: AppendLiteral(out, p[i]); break;
        }
    }
    return out;
}

std::string Show(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c >= 0x20 && c < 0x7F && c != u'\\' ? std::string(1, char(c)) : Hex(c);
    return out;
}

struct Outcome { const char* engine; int32_t start, length; };

// PCRE2's outcome unless it hits its match limit; refusing the pattern is a start no engine gives.
void Pcre2Search(std::u16string_view pattern, std::u16string_view subject, std::vector<Outcome>& outcomes) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    const std::u16string translated = u"(*LIMIT_MATCH=2000000)" + ToPcre2(pattern);
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                     PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
    if (!code) return outcomes.push_back({"pcre2 refusing the pattern", -2, 0});
    pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, data, nullptr);
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    if (rc >= 0) outcomes.push_back({"pcre2", int32_t(ovector[0]), int32_t(ovector[1] - ovector[0])});
    if (rc == PCRE2_ERROR_NOMATCH) outcomes.push_back({"pcre2", -1, 0});
    pcre2_match_data_free(data);
    pcre2_code_free(code);
}

}  // namespace

std::string CrossCheck(std::u16string_view pattern, std::u16string_view given) {
    CRegex re;
    if (!re.Compile(pattern)) return {};
    // In a buffer of exactly its length: a read past the end is a heap overflow that the sanitizers stop.
    std::unique_ptr<char16_t[]> exact(new char16_t[given.size()]);
    std::copy(given.begin(), given.end(), exact.get());
    const std::u16string_view subject(exact.get(), given.size());
    using E = RegexSearchTuning::Engine;
    using M = RegexSearchTuning::Memo;
    const std::pair<const char*, RegexSearchTuning> runs[] = {
        {"automatic", {}},
        {"breadth", {.engine = E::Breadth}},
        {"memo", {.engine = E::Backtrack, .memo = M::Always}},
        {"plain", {.engine = E::Backtrack, .memo = M::Never, .stepLimit = 200000}},
        {"tight", {.memo = M::Always, .stackBudget = 2}},  // budgets so small that the engine changes midway
    };
    std::string report;
    std::vector<Outcome> outcomes;
    for (const auto& [name, tuning] : runs) {
        RegexSearchStats stats;
        const int32_t start = re.Search(subject, tuning, &stats);
        if (stats.gaveUp) continue;
        if (start >= 0 && re.MatchText() != subject.substr(start, re.MatchLength())) report += "match text; ";
        outcomes.push_back({name, start, re.MatchLength()});
    }
    Pcre2Search(pattern, subject, outcomes);
    auto text = [](const Outcome& o) { return std::string(o.engine) + " " + std::to_string(o.start) + "+" + std::to_string(o.length); };
    for (const Outcome& o : outcomes) {
        if (o.start != outcomes[0].start || o.length != outcomes[0].length) report += text(outcomes[0]) + " but " + text(o) + "; ";
    }
    return report.empty() ? report : "pattern " + Show(pattern) + " subject " + Show(subject) + ": " + report;
}
