// One GetData pass of the file watcher (listing plus comparison) over
// directories of 1,000, 10,000 and 100,000 files with a handful of changes.
// Windows program; run under Wine: wine files_bench.exe [max entries [keep]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/file_watch.h"

using namespace brisel;

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Touch(const std::wstring& path, DWORD disposition, DWORD bytes) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr));
  if (!file) return false;
  ::SetFilePointer(file.Get(), 0, nullptr, FILE_END);
  char data[64] = {};
  DWORD written = 0;
  return ::WriteFile(file.Get(), data, std::min<DWORD>(bytes, sizeof data), &written, nullptr) != FALSE;
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do ::DeleteFileW((dir + L"\\" + data.cFileName).c_str());
    while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(dir.c_str());
}

void Measure(size_t entries, bool keep) {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + L"files_bench_" + std::to_wstring(entries);
  auto name = [&](size_t i) {
    wchar_t n[32];
    _snwprintf(n, 32, L"\\f%07u.log", static_cast<unsigned>((i * 7919) % entries));  // created out of order
    return dir + n;
  };
  FileMap existing;
  DWORD error = 0;
  // Creating files is slow under Wine: with "keep", a directory left by an
  // earlier run (or filled by the host) is measured as it is.
  if (!keep || !ListPattern(dir + L"\\f*.log", &existing, &error) || existing.size() < entries) {
    RemoveTree(dir);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    for (size_t i = 0; i < entries; ++i) Touch(name(i), CREATE_NEW, 16);
  }

  FileFilter filter;
  std::wstring text;
  filter.SetFilter(L"SIZE", L"TRUE", &text);
  filter.SetFilter(L"LAST WRITE TIME", L"TRUE", &text);
  filter.SetFilter(L"ATTRIBUTES", L"TRUE", &text);
  std::wstring pattern = dir + L"\\*";
  FileMap previous, current;
  ListPattern(pattern, &previous, &error);

  double best_list = 1e9, best_compare = 1e9;
  size_t changes = 0;
  for (int round = 0; round < 3; ++round) {
    // A handful of changes: two grown, one read-only, two created, two deleted.
    Touch(name(round * 10 + 1), OPEN_EXISTING, 8);
    Touch(name(round * 10 + 2), OPEN_EXISTING, 8);
    ::SetFileAttributesW(name(round * 10 + 3).c_str(), FILE_ATTRIBUTE_READONLY);
    Touch(dir + L"\\new" + std::to_wstring(round) + L"a", CREATE_NEW, 1);
    Touch(dir + L"\\new" + std::to_wstring(round) + L"b", CREATE_NEW, 1);
    ::DeleteFileW(name(round * 10 + 4).c_str());
    ::DeleteFileW(name(round * 10 + 5).c_str());

    double t0 = Now();
    ListPattern(pattern, &current, &error);
    double t1 = Now();
    filter.Filter(current, previous);
    double t2 = Now();
    changes = filter.TakePending().size();
    std::swap(current, previous);
    best_list = std::min(best_list, t1 - t0);
    best_compare = std::min(best_compare, t2 - t1);
  }
  std::printf("%7u entries: listing %9.3f ms, comparison %8.3f ms (%5.1f%% of the pass, %.2f of the listing), %u changes\n",
              static_cast<unsigned>(entries), best_list * 1e3, best_compare * 1e3,
              100.0 * best_compare / (best_list + best_compare), best_compare / best_list,
              static_cast<unsigned>(changes));
  std::fflush(stdout);
  if (keep) return;
  for (size_t i = 0; i < entries; ++i) ::SetFileAttributesW(name(i).c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveTree(dir);
}

}  // namespace

int main(int argc, char** argv) {
  size_t max = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  bool keep = argc > 2 && std::string(argv[2]) == "keep";
  for (size_t n = 1000; n <= max; n *= 10) Measure(n, keep);
  return 0;
}
