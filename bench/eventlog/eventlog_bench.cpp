// Event-log entries per second through the whole collection path: read from
// the simulated log, decode, message and category texts from real message
// DLLs, a 20-rule filter and the published NtEvent items. Each round runs
// once with the module cache and once without, taking turns, and the texts
// of every entry must come out the same both ways.
//   wine eventlog_bench.exe [entries] [simple]
// (simple: one message with two insertions, no accounts)
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "eventlog/log_reader.h"
#include "rules/event_filter.h"
#include "tests/harness/dispatch.h"
#include "tests/win/eventlog/test_logs.h"

using namespace brisel;
using namespace brisel::test;

namespace {

bool SetValue(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// SrcA and SrcB of the log, with the same message modules.
bool RegisterSources(const std::wstring& log) {
  const std::wstring base = std::wstring(kEventLogKey) + L"\\" + log;
  for (const wchar_t* source : {L"SrcA", L"SrcB"}) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\" + source).c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                          nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
      return false;
    SetValue(key.Get(), L"EventMessageFile", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll;%BRISEL_EVMSG_DIR%\\evmsg_b.dll");
    SetValue(key.Get(), L"CategoryMessageFile", L"%BRISEL_EVMSG_DIR%\\evmsg_a.dll");
    SetValue(key.Get(), L"ParameterMessageFile", L"%BRISEL_EVMSG_DIR%\\evparam.dll");
  }
  return true;
}

// 20 rules: 14 include and 6 exclude, over several fields each.
std::wstring RuleDocument() {
  static const wchar_t* const kTypes[] = {L"ERROR", L"WARNING", L"INFORMATION"};
  static const wchar_t* const kWords[] = {L"Spooler", L"denied", L"second", L"state", L"volume", L"network"};
  std::wstring xml = L"<?xml version=\"1.0\"?>\n<rules>\n<INCLUDE>\n";
  for (int i = 0; i < 14; ++i) {
    xml += L" <EVENTS><LOG>^BriselBench_</LOG><SOURCE>Src</SOURCE>";
    xml += L"<TYPE>^" + std::wstring(kTypes[i % 3]) + L"$</TYPE>";
    if (i % 2 == 0) xml += L"<DESCRIPTION>" + std::wstring(kWords[i % 6]) + L".*</DESCRIPTION>";
    if (i % 3 == 0) xml += L"<EVENTID>^" + std::to_wstring(1000 + i) + L"$|^20[0-9][0-9]$</EVENTID>";
    xml += L"</EVENTS>\n";
  }
  xml += L"</INCLUDE>\n<EXCLUDE>\n";
  for (int i = 0; i < 6; ++i) {
    xml += L" <EVENTS><SOURCE>^Nothing" + std::to_wstring(i) + L"$</SOURCE><DESCRIPTION>never" +
           std::to_wstring(i) + L"</DESCRIPTION></EVENTS>\n";
  }
  return xml + L"</EXCLUDE>\n</rules>\n";
}

void FillLog(TestLog& log, int entries, bool simple) {
  log.Clear();
  std::vector<BYTE> system = SidBytes(L"S-1-5-18");
  for (int i = 0; i < entries; ++i) {
    SimEntry e;
    e.source = i % 4 == 3 ? L"SrcB" : L"SrcA";
    e.category = static_cast<WORD>(i % 3);
    e.type = i % 3 == 0 ? EVENTLOG_ERROR_TYPE : i % 3 == 1 ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE;
    switch (simple ? 0 : i % 5) {
      case 0: e.event_id = 0xC00003E8; e.strings = {L"Spooler", L"running"}; break;
      case 1: e.event_id = 1003; break;
      case 2: e.event_id = 2000; e.strings = {L"from the second module"}; break;
      case 3: e.event_id = 4242; e.strings = {L"no message", L"for this id", L"%%7"}; break;
      default: e.event_id = 1004; e.strings = {L"%{S-1-5-18}", L"a workstation"}; break;
    }
    if (!simple && i % 10 == 0) e.sid = system;
    log.Append(e);
  }
}

struct Run {
  double seconds = 0;
  size_t read = 0;
  long published = 0;
  std::vector<std::wstring> texts;  // per entry, in log order: every decoded field
};

std::wstring Texts(const EventRecord& r) {
  std::wstring t;
  for (const std::wstring* field :
       {&r.Category, &r.EventCode, &r.Type, &r.Logfile, &r.Message, &r.SourceName, &r.ComputerName, &r.UserName})
    t += *field + L'|';
  return t;
}

Run Collect(const std::wstring& log, bool module_cache, const std::wstring& rules_path) {
  auto items = std::make_shared<ItemCollection>();
  EventLogSource source(items);
  source.Texts().SetCaching(module_cache);
  std::wstring errors;
  if (source.SetFilterFile(L"INCLUDE", rules_path, &errors) != 0) std::printf("rules: %ls\n", errors.c_str());
  source.Exec();
  Run run;
  std::chrono::steady_clock::duration spent{};
  const LogReader* reader = source.Reader(log);
  do {
    auto start = std::chrono::steady_clock::now();
    source.GetData();
    source.Notify();  // the filter and the NtEvent items
    spent += std::chrono::steady_clock::now() - start;
    LONG count = 0;
    items->Count(&count);
    run.published += count;
    run.read = reader ? reader->NextRecord() : 0;
    for (const EventRecord& r : source.Records()) run.texts.push_back(Texts(r));  // outside the clock
  } while (reader && reader->MorePending());
  run.seconds = std::chrono::duration<double>(spent).count();
  return run;
}

// The cache may change the speed, never a text.
bool SameTexts(const std::vector<std::wstring>& first, const std::vector<std::wstring>& run, bool cached) {
  for (size_t i = 0; i < std::max(first.size(), run.size()); ++i) {
    if (i < first.size() && i < run.size() && first[i] == run[i]) continue;
    std::printf("entry %zu differs:\n  first run: %ls\n  %s: %ls\n", i, i < first.size() ? first[i].c_str() : L"-",
                cached ? "cached" : "uncached", i < run.size() ? run[i].c_str() : L"-");
    return false;
  }
  return true;
}

// What one load and unload of a message module costs here.
double ModuleLoadMicroseconds() {
  const std::wstring path = std::wstring(EVMSG_DIR) + L"\\evmsg_a.dll";
  const int rounds = 200;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) UniqueModule m(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / rounds;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, ".ACP");
  int entries = argc > 1 ? std::atoi(argv[1]) : 50000;
  ComScope com;
  TestLog log(L"BriselBench");  // the simulated service behind the reader
  if (!RegisterSources(log.Name())) {
    std::printf("cannot register the bench sources\n");
    return 1;
  }
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  std::wstring rules_path = std::wstring(dir) + L"brisel_eventlog_bench_rules.xml";
  {
    std::wstring doc = RuleDocument();
    UniqueStdFile file(::_wfopen(rules_path.c_str(), L"w"));
    if (!file) return 1;
    std::fputws(doc.c_str(), file.get());
  }
  SetRecentSeconds(24 * 3600);  // the entries are written before the source starts
  bool simple = argc > 2 && std::string(argv[2]) == "simple";
  FillLog(log, entries, simple);
  std::printf("%d entries, 20 rules, message DLLs from %ls\n", entries, EVMSG_DIR);
  Run best[2];
  bool same = true;
  std::vector<std::wstring> first;  // the texts of the first run
  for (int round = 0; round < 2; ++round) {
    for (int cache = 1; cache >= 0; --cache) {
      Run r = Collect(log.Name(), cache == 1, rules_path);
      if (first.empty()) {
        first = std::move(r.texts);
        if (first.size() != static_cast<size_t>(entries)) {
          std::printf("%zu entries decoded, %d in the log\n", first.size(), entries);
          same = false;
        }
      } else if (same) {
        same = SameTexts(first, r.texts, cache == 1);
      }
      r.texts.clear();
      if (round == 0 || r.seconds < best[cache].seconds) best[cache] = std::move(r);
    }
  }
  for (int cache = 1; cache >= 0; --cache) {
    const Run& r = best[cache];
    std::printf("%-22s %8.0f entries/s  (%zu read, %ld published, %.2f s)\n",
                cache ? "with module cache" : "without module cache", entries / r.seconds, r.read > 0 ? r.read - 1 : 0,
                r.published, r.seconds);
  }
  std::printf("speed-up x%.1f\n", best[0].seconds / best[1].seconds);
  std::printf("texts with and without the cache: %s\n", same ? "the same for every entry" : "DIFFERENT");
  std::printf("one message module load and unload: %.0f us\n", ModuleLoadMicroseconds());
  ::DeleteFileW(rules_path.c_str());
  return same ? 0 : 1;
}
