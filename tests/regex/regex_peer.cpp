#include "tests/regex/regex_peer.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

std::string Hex(char16_t c) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\x{%x}", unsigned(c));
    return buffer;
}

void AppendLiteral(std::u16string& out, char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
        out += c;
    } else {
        for (char h : Hex(c)) out += char16_t(h);
    }
}

}  // namespace

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
            // A leading ] or - is a member, X-Y runs from the character written before the -
            // to the one after it, and a - before the ] is a member.
            out += u'[';
            if (p[++i] == u'^') out += p[i++];
            char16_t previous = p[i];
            AppendLiteral(out, p[i++]);
            while (p[i] != u']') {
                if (p[i] == u'-' && p[i + 1] != u']') {
                    out += u'-';
                    AppendLiteral(out, p[i + 1]);
                    AppendLiteral(out, previous = p[i + 1]);  // the end of a range may start the next
                    i += 2;
                } else {
                    AppendLiteral(out, previous = p[i++]);
                }
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

namespace {

struct Outcome {
    const char* engine;
    int32_t start, length;
};

// PCRE2 (16-bit, interpreter); nothing when it hits its match limit, and a start no engine
// gives when it refuses the pattern.
std::optional<Outcome> Pcre2Search(std::u16string_view pattern, std::u16string_view subject) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    const std::u16string translated = ToPcre2(pattern);
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                     PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
    if (!code) return Outcome{"pcre2 refusing the pattern", -2, 0};
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(context, 2000000);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, data, context);
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    std::optional<Outcome> result;
    if (rc >= 0) result = Outcome{"pcre2", int32_t(ovector[0]), int32_t(ovector[1] - ovector[0])};
    if (rc == PCRE2_ERROR_NOMATCH) result = Outcome{"pcre2", -1, 0};
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
    pcre2_code_free(code);
    return result;
}

}  // namespace

std::string CrossCheck(std::u16string_view pattern, std::u16string_view given) {
    CRegex re;
    if (!re.Compile(pattern)) return {};
    // Searched in a buffer of exactly its length: a read past the end is then a heap
    // overflow that the sanitizers stop, not a read of a terminator.
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
    if (const auto peer = Pcre2Search(pattern, subject)) outcomes.push_back(*peer);
    for (const Outcome& o : outcomes) {
        if (o.start != outcomes[0].start || o.length != outcomes[0].length) {
            report += std::string(outcomes[0].engine) + ": " + std::to_string(outcomes[0].start) + "+" +
                      std::to_string(outcomes[0].length) + ", " + o.engine + ": " + std::to_string(o.start) + "+" +
                      std::to_string(o.length) + "; ";
        }
    }
    return report.empty() ? report : "pattern " + Show(pattern) + " subject " + Show(subject) + ": " + report;
}
