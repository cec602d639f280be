// Records per second through CNtEventRules::FilterNTEvent and through
// RegexEventFilter's test, for 50 rules over a few thousand varied records,
// compiling every item at every test and reusing compiled items.
#include <windows.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "rules/event_filter.h"
#include "rules/event_rules.h"

namespace {

using brisel::CNtEventRules;
using brisel::EventRecord;
using brisel::RegexEventFilter;

constexpr int kRules = 50;
constexpr int kRecords = 3000;

const wchar_t* const kLogs[] = {L"Application", L"System", L"Security", L"Setup"};
const wchar_t* const kTypes[] = {L"ERROR", L"WARNING", L"INFORMATION", L"AUDIT_SUCCESS", L"AUDIT_FAILURE"};
const wchar_t* const kSources[] = {L"Disk", L"Srv", L"Service Control Manager", L"MsiInstaller", L"Tcpip",
                                   L"EventLog", L"Userenv", L"W32Time", L"Dhcp", L"Ntfs"};
const wchar_t* const kWords[] = {L"disk", L"full", L"failed", L"service", L"started", L"stopped", L"timeout",
                                 L"network", L"adapter", L"error", L"warning", L"user", L"logon", L"volume"};

template <class T, size_t N>
const T& Pick(std::mt19937& random, const T (&options)[N]) {
  return options[std::uniform_int_distribution<size_t>(0, N - 1)(random)];
}

// 50 rules: 35 include and 15 exclude, each testing two to four fields.
std::wstring RuleDocument(std::mt19937& random) {
  std::wstring xml = L"<?xml version=\"1.0\"?>\n<rules>\n";
  for (int kind = 0; kind < 2; ++kind) {
    int count = kind == 0 ? 35 : 15;
    xml += kind == 0 ? L"<INCLUDE>\n" : L"<EXCLUDE>\n";
    for (int i = 0; i < count; ++i) {
      xml += L" <EVENTS>";
      xml += L"<LOG>^" + std::wstring(Pick(random, kLogs)) + L"$," + Pick(random, kLogs) + L"</LOG>";
      xml += L"<SOURCE>" + std::wstring(Pick(random, kSources)) + L"," + Pick(random, kSources) + L"</SOURCE>";
      if (i % 2 == 0) xml += L"<TYPE>^" + std::wstring(Pick(random, kTypes)) + L"$</TYPE>";
      if (i % 3 == 0)
        xml += L"<DESCRIPTION>" + std::wstring(Pick(random, kWords)) + L".*" + Pick(random, kWords) + L"</DESCRIPTION>";
      if (i % 4 == 0) xml += L"<EVENTID>^" + std::to_wstring(1000 + i) + L"$|^7[0-9]$</EVENTID>";
      if (i % 5 == 0) xml += L"<CASESENSITIVE>y</CASESENSITIVE>";
      xml += L"</EVENTS>\n";
    }
    xml += kind == 0 ? L"</INCLUDE>\n" : L"</EXCLUDE>\n";
  }
  return xml + L"</rules>\n";
}

std::vector<EventRecord> Records(std::mt19937& random) {
  std::vector<EventRecord> records(kRecords);
  for (EventRecord& r : records) {
    r.Logfile = Pick(random, kLogs);
    r.Type = Pick(random, kTypes);
    r.SourceName = Pick(random, kSources);
    r.EventCode = std::to_wstring(std::uniform_int_distribution<int>(1, 1100)(random));
    r.ComputerName = L"HOST" + std::to_wstring(random() % 8);
    r.UserName = L"DOMAIN\\user" + std::to_wstring(random() % 20);
    r.Category = L"None";
    for (int w = 0; w < 25; ++w) r.Message += std::wstring(Pick(random, kWords)) + L" ";
  }
  return records;
}

struct Run {
  double seconds = 0;
  int rejected = 0;
};

template <class Test>
Run TimeOnce(const std::vector<EventRecord>& records, Test test) {
  Run run;
  auto start = std::chrono::steady_clock::now();
  for (const EventRecord& r : records) run.rejected += test(r) ? 1 : 0;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return run;
}

// Best of three rounds, the two variants taking turns, so that a busy
// machine slows both alike.
template <class Slow, class Fast>
void Compare(const char* what, const std::vector<EventRecord>& records, Slow slow, Fast fast);

void Report(const char* what, const Run& uncached, const Run& cached);

template <class Slow, class Fast>
void Compare(const char* what, const std::vector<EventRecord>& records, Slow slow, Fast fast) {
  Run best_slow;
  Run best_fast;
  for (int round = 0; round < 3; ++round) {
    Run a = TimeOnce(records, slow);
    Run b = TimeOnce(records, fast);
    if (round == 0 || a.seconds < best_slow.seconds) best_slow = a;
    if (round == 0 || b.seconds < best_fast.seconds) best_fast = b;
  }
  Report(what, best_slow, best_fast);
}

void Report(const char* what, const Run& uncached, const Run& cached) {
  double slow = kRecords / uncached.seconds;
  double fast = kRecords / cached.seconds;
  std::printf("%-34s uncached %10.0f rec/s   cached %10.0f rec/s   x%.1f   (rejected %d / %d%s)\n", what, slow, fast,
              fast / slow, cached.rejected, kRecords, cached.rejected == uncached.rejected ? "" : " MISMATCH");
}

}  // namespace

int main() {
  std::setlocale(LC_ALL, ".ACP");
  std::mt19937 random(2026);
  const std::wstring document = RuleDocument(random);
  const std::vector<EventRecord> records = Records(random);

  // The rule set alone.
  CNtEventRules uncached_rules;
  CNtEventRules cached_rules;
  std::wstring errors;
  uncached_rules.ParseRuleXML(document, L"INCLUDE", &errors);
  cached_rules.ParseRuleXML(document, L"INCLUDE", &errors);
  if (!errors.empty() || cached_rules.IncludeRules.size() + cached_rules.ExcludeRules.size() != kRules) {
    std::printf("rule document did not load: %ls\n", errors.c_str());
    return 1;
  }
  uncached_rules.SetCompiledCache(false);
  Compare("CNtEventRules::FilterNTEvent", records,
          [&](const EventRecord& r) { return uncached_rules.FilterNTEvent(r); },
          [&](const EventRecord& r) { return cached_rules.FilterNTEvent(r); });

  // The filter: per-field settings plus the loaded rules.
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + L"rules_bench_" + std::to_wstring(::GetCurrentProcessId()) + L".xml";
  if (FILE* f = _wfopen(path.c_str(), L"wb")) {
    for (wchar_t c : document) std::fputc(static_cast<char>(c), f);
    std::fclose(f);
  }
  auto make_filter = [&](RegexEventFilter* filter, bool cache) {
    std::wstring e;
    filter->SetFilterRX(L"COMPUTERS", L"HOST[0-6]:HOST5", &e);
    filter->SetFilterRX(L"USERS", L"user,admin", &e);
    filter->SetFilterRX(L"TYPES", L"ERROR,WARNING,INFORMATION,AUDIT", &e);
    int result = filter->SetFilterFile(L"INCLUDE", path, &e);
    filter->WithRules([&](CNtEventRules* r) {
      if (r) r->SetCompiledCache(cache);
    });
    return result;
  };
  RegexEventFilter uncached_filter;
  RegexEventFilter cached_filter;
  int loaded = make_filter(&uncached_filter, false) | make_filter(&cached_filter, true);
  ::DeleteFileW(path.c_str());
  if (loaded != 0) {
    std::printf("rule file did not load\n");
    return 1;
  }
  Compare("RegexEventFilter::Test", records, [&](const EventRecord& r) { return uncached_filter.Test(r); },
          [&](const EventRecord& r) { return cached_filter.Test(r); });
  return 0;
}
