// Compile + search time of CRegex against PCRE2's interpreter and std::wregex on
// filter-like patterns and event-message-like subjects (the rules compile each
// item afresh for every test), and CRegex alone on pathological patterns.
// Prints nanoseconds per compile + search and the ratios, all from this run.
#include "rules/regex/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Nanoseconds per call of work, over at least minMs of repetitions.
double TimeIt(const std::function<void()>& work, double minMs = 60) {
    for (int i = 0; i < 3; ++i) work();  // warm up
    std::size_t iterations = 1;
    for (;;) {
        auto begin = Clock::now();
        for (std::size_t i = 0; i < iterations; ++i) work();
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        if (ms >= minMs) return ms * 1e6 / double(iterations);
        iterations *= ms < minMs / 10 ? 10 : 2;
    }
}

// Event messages: words of the kind the event log holds, with numbers, paths and
// the occasional word the filters look for.
std::vector<std::u16string> Subjects(std::size_t length, unsigned seed) {
    static const char* const kWords[] = {
        "The", "service", "entered", "the", "running", "state.", "Disk", "\\Device\\Harddisk0\\DR0", "has",
        "a", "bad", "block.", "NTFS", "WARNING", "ERROR", "driver", "detected", "an", "internal", "error",
        "on", "C:", "Windows", "Update", "started", "downloading", "an", "update.", "wrote", "bytes",
        "connection", "to", "server", "was", "reset", "timeout", "after", "seconds", "Application",
        "popup:", "svchost.exe", "-", "System", "Error", "0x8007000E", "{6B29FC40-CA47-1067-B31D-00DD010662DA}",
    };
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> word(0, int(std::size(kWords)) - 1);
    std::uniform_int_distribution<int> number(0, 99999);
    std::vector<std::u16string> out;
    for (int k = 0; k < 8; ++k) {
        std::u16string s;
        while (s.size() < length) {
            std::string w = (number(rng) % 7 == 0) ? std::to_string(number(rng)) : kWords[word(rng)];
            for (char c : w) s += char16_t(c);
            s += u' ';
        }
        s.resize(length);
        out.push_back(s);
    }
    return out;
}

struct Pcre2 {
    pcre2_code* code = nullptr;
    pcre2_match_data* data = nullptr;
    explicit Pcre2(std::u16string_view pattern) {
        int error;
        PCRE2_SIZE offset;
        code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                             PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
        if (!code) {
            std::fprintf(stderr, "PCRE2 refused a pattern\n");
            std::exit(1);
        }
        data = pcre2_match_data_create_from_pattern(code, nullptr);
    }
    ~Pcre2() {
        pcre2_match_data_free(data);
        pcre2_code_free(code);
    }
    int32_t Search(std::u16string_view subject) {
        int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, data, nullptr);
        if (rc == PCRE2_ERROR_NOMATCH) return -1;
        if (rc < 0) return -2;  // a limit
        return int32_t(pcre2_get_ovector_pointer(data)[0]);
    }
};

std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

int32_t WregexSearch(const std::wregex& re, const std::wstring& subject) {
    std::wsmatch m;
    if (!std::regex_search(subject, m, re)) return -1;
    return int32_t(m.position(0));
}

volatile int64_t g_sink;

}  // namespace

int main() {
    const std::u16string kPatterns[] = {
        u"ERR",
        u"^Disk",
        u"(DISK|NTFS) ERROR",
        u"[0-9]+ bytes",
        u".*timeout.*",
        u"DISK|NTFS|FTDISK|ATAPI|CDROM|SERIAL|PARPORT|TCPIP|DHCP|NETBT",
    };
    const std::size_t kLengths[] = {100, 500, 1000, 4000};

    std::printf("Compile + search, ns per call (mean over 8 subjects); ratio = CRegex / peer, below 1 is faster\n");
    std::printf("%-62s %6s %10s %10s %10s %8s %8s\n", "pattern", "length", "CRegex", "PCRE2", "wregex", "/PCRE2",
                "/wregex");
    double logSumPcre = 0, logSumStd = 0;
    int cases = 0;
    for (const std::u16string& pattern : kPatterns) {
        std::string narrow(pattern.begin(), pattern.end());
        std::wregex wre(Wide(pattern), std::regex::ECMAScript);
        for (std::size_t length : kLengths) {
            // Upper-cased copies as well, as the rules fold case by default.
            std::vector<std::u16string> subjects = Subjects(length, unsigned(length) * 31 + unsigned(cases));
            std::vector<std::u16string> upper = subjects;
            for (auto& s : upper)
                for (auto& c : s)
                    if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
            subjects.insert(subjects.end(), upper.begin(), upper.end());
            std::vector<std::wstring> wide;
            for (const auto& s : subjects) wide.push_back(Wide(s));
            // The three must agree before their times mean anything.
            for (std::size_t i = 0; i < subjects.size(); ++i) {
                CRegex re;
                re.Compile(pattern);
                Pcre2 p(pattern);
                int32_t a = re.Search(subjects[i]), b = p.Search(subjects[i]), c = WregexSearch(wre, wide[i]);
                if (a != b || a != c) {
                    std::fprintf(stderr, "disagreement on %s: %d %d %d\n", narrow.c_str(), a, b, c);
                    return 1;
                }
            }
            double ours = TimeIt([&] {
                int64_t sum = 0;
                for (const auto& s : subjects) {
                    CRegex re;
                    re.Compile(pattern);
                    sum += re.Search(s);
                }
                g_sink = sum;
            }) / double(subjects.size());
            double pcre = TimeIt([&] {
                int64_t sum = 0;
                for (const auto& s : subjects) {
                    Pcre2 p(pattern);
                    sum += p.Search(s);
                }
                g_sink = sum;
            }) / double(subjects.size());
            double stdre = TimeIt([&] {
                int64_t sum = 0;
                for (const auto& s : wide) {
                    std::wregex re(Wide(pattern), std::regex::ECMAScript);
                    sum += WregexSearch(re, s);
                }
                g_sink = sum;
            }) / double(subjects.size());
            std::printf("%-62s %6zu %10.0f %10.0f %10.0f %8.2f %8.3f\n", narrow.c_str(), length, ours, pcre, stdre,
                        ours / pcre, ours / stdre);
            logSumPcre += std::log(ours / pcre);
            logSumStd += std::log(ours / stdre);
            ++cases;
        }
    }
    std::printf("geometric mean ratio over %d filter cases: CRegex/PCRE2 %.2f, CRegex/wregex %.3f\n\n", cases,
                std::exp(logSumPcre / cases), std::exp(logSumStd / cases));

    std::printf("Pathological patterns, CRegex compile + search (PCRE2 interpreter for reference, default limits)\n");
    std::printf("%-10s %7s %12s %12s %14s\n", "pattern", "length", "CRegex us", "us per char", "PCRE2");
    struct Family {
        const char16_t* pattern;
        const char16_t* unit;
        const char16_t* tail;
    };
    const Family families[] = {{u"(a|aa)*c", u"a", u"bc"}, {u"(a|a)*b", u"a", u"cb"}};
    bool within = true;
    for (const Family& f : families) {
        std::string narrow(f.pattern, f.pattern + std::char_traits<char16_t>::length(f.pattern));
        for (std::size_t n : {10, 100, 1000, 10000}) {
            std::u16string subject(n, f.unit[0]);
            subject += f.tail;
            CRegex check;
            check.Compile(f.pattern);
            if (check.Search(subject) != int32_t(n + 1)) {
                std::fprintf(stderr, "wrong result on %s\n", narrow.c_str());
                return 1;
            }
            double ours = TimeIt([&] {
                CRegex re;
                re.Compile(f.pattern);
                g_sink = re.Search(subject);
            }, 30);
            char peer[64];
            if (n <= 1000) {
                Pcre2 p(f.pattern);
                auto begin = Clock::now();
                int32_t r = p.Search(subject);
                double us = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
                if (r == -2) std::snprintf(peer, sizeof peer, "limit, %.0f us", us);
                else std::snprintf(peer, sizeof peer, "%.1f us", us);
            } else {
                std::snprintf(peer, sizeof peer, "not run");
            }
            std::printf("%-10s %7zu %12.1f %12.4f %14s\n", narrow.c_str(), n, ours / 1000, ours / 1000 / double(n),
                        peer);
            if (n == 10000 && ours > 10e6) within = false;
        }
    }
    std::printf("pathological cases at 10,000 characters %s 10 ms\n", within ? "all below" : "NOT all below");
    return 0;
}
