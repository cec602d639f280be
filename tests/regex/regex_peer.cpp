#include "tests/regex/regex_peer.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void AppendLiteral(std::u16string& out, char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
        out += c;
        return;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\x{%x}", unsigned(c));
    for (const char* p = buffer; *p; ++p) out += char16_t(*p);
}

}  // namespace

std::u16string ToPcre2(std::u16string_view p) {
    std::u16string out;
    for (std::size_t i = 0; i < p.size(); ++i) {
        char16_t c = p[i];
        switch (c) {
        case u'\\':
            AppendLiteral(out, p[++i]);
            break;
        case u'(':
            out += u"(?:";
            break;
        case u')': case u'|': case u'*': case u'+': case u'?': case u'.':
            out += c;
            break;
        case u'^':
            out += u"(?:^)";  // PCRE2 refuses a repetition sign right after an assertion
            break;
        case u'$':
            out += u"(?:$)";
            break;
        case u'[': {
            // Spelled out as this dialect reads it: a leading ] or - is a member, X-Y
            // runs from the character written before the - to the one after it, and
            // a - before the ] is a member.
            ++i;
            out += u'[';
            if (p[i] == u'^') {
                out += u'^';
                ++i;
            }
            char16_t previous = 0;
            std::vector<std::pair<char16_t, char16_t>> ranges;
            if (p[i] == u']' || p[i] == u'-') {
                previous = p[i++];
                ranges.emplace_back(previous, previous);
            }
            while (p[i] != u']') {
                if (p[i] == u'-' && p[i + 1] != u']') {
                    ranges.emplace_back(previous, p[i + 1]);
                    previous = p[i + 1];
                    i += 2;
                    continue;
                }
                previous = p[i++];
                ranges.emplace_back(previous, previous);
            }
            for (auto [lo, hi] : ranges) {
                AppendLiteral(out, lo);
                if (hi != lo) {
                    out += u'-';
                    AppendLiteral(out, hi);
                }
            }
            out += u']';
            break;
        }
        default:
            AppendLiteral(out, c);
            break;
        }
    }
    return out;
}

PeerMatch Pcre2Search(std::u16string_view translated, std::u16string_view subject) {
    PeerMatch result;
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                     PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
    if (!code) return result;
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(context, 2000000);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, data, context);
    if (rc >= 0) {
        PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        result = PeerMatch{true, int32_t(ovector[0]), int32_t(ovector[1] - ovector[0])};
    } else if (rc == PCRE2_ERROR_NOMATCH) {
        result.decided = true;
    }
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
    pcre2_code_free(code);
    return result;
}

std::string Show(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != u'\\') {
            out += char(c);
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\x{%x}", unsigned(c));
            out += buffer;
        }
    }
    return out;
}

std::string CrossCheck(std::u16string_view pattern, std::u16string_view given, bool withPcre2) {
    CRegex re;
    if (!re.Compile(pattern)) return {};
    // Searched in a buffer of exactly its length: a read past the end is then
    // a heap overflow that the sanitizers stop, not a read of a terminator.
    std::unique_ptr<char16_t[]> exact(new char16_t[given.size()]);
    std::copy(given.begin(), given.end(), exact.get());
    const std::u16string_view subject(exact.get(), given.size());
    struct Run {
        const char* name;
        RegexSearchTuning tuning;
    };
    RegexSearchTuning automatic;
    RegexSearchTuning breadth;
    breadth.engine = RegexSearchTuning::Engine::Breadth;
    RegexSearchTuning memo;
    memo.engine = RegexSearchTuning::Engine::Backtrack;
    memo.memo = RegexSearchTuning::Memo::Always;
    RegexSearchTuning plain;
    plain.engine = RegexSearchTuning::Engine::Backtrack;
    plain.memo = RegexSearchTuning::Memo::Never;
    plain.stepLimit = 200000;
    RegexSearchTuning tight;  // budgets so small that the search changes engine midway
    tight.memo = RegexSearchTuning::Memo::Always;
    tight.stackBudget = 2;
    const Run runs[] = {{"automatic", automatic}, {"breadth", breadth}, {"memo", memo}, {"plain", plain},
                        {"tight", tight}};
    int32_t refStart = -2, refLength = 0;
    const char* refName = nullptr;
    std::string report;
    auto compare = [&](const char* name, int32_t start, int32_t length) {
        if (!refName) {
            refName = name;
            refStart = start;
            refLength = length;
        } else if (start != refStart || (start >= 0 && length != refLength)) {
            char buffer[200];
            std::snprintf(buffer, sizeof buffer, "%s: %d+%d, %s: %d+%d; ", refName, refStart, refLength, name,
                          start, length);
            report += buffer;
        }
    };
    for (const Run& run : runs) {
        RegexSearchStats stats;
        int32_t start = re.Search(subject, run.tuning, &stats);
        if (stats.gaveUp) continue;
        if (start >= 0 && (re.MatchText() != subject.substr(start, re.MatchLength()))) report += "match text; ";
        compare(run.name, start, re.MatchLength());
    }
    if (withPcre2) {
        PeerMatch peer = Pcre2Search(ToPcre2(pattern), subject);
        if (peer.decided) compare("pcre2", peer.start, peer.length);
    }
    if (!report.empty()) report = "pattern " + Show(pattern) + " subject " + Show(subject) + ": " + report;
    return report;
}
