// A scratch directory of real files that a test creates, renames, grows,
// touches and changes attributes of; removed with everything in it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "module/com.h"

namespace brisel::test {

class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::wstring candidate = std::wstring(base) + L"ntfiles_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                               std::to_wstring(::InterlockedIncrement(&counter));
      if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
        path_ = candidate;
        break;
      }
    }
  }
  ~TempDir() {
    if (path_.empty()) return;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((path_ + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        ::SetFileAttributesW(Path(name).c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(Path(name).c_str());
      } while (::FindNextFileW(find, &data));
      ::FindClose(find);
    }
    ::RemoveDirectoryW(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool Valid() const { return !path_.empty(); }
  // Without a trailing backslash.
  const std::wstring& Dir() const { return path_; }
  std::wstring Path(const std::wstring& name) const { return path_ + L"\\" + name; }

  bool Write(const std::wstring& name, size_t bytes) const { return Put(name, bytes, CREATE_ALWAYS); }
  bool Append(const std::wstring& name, size_t bytes) const { return Put(name, bytes, OPEN_EXISTING); }
  bool Rename(const std::wstring& from, const std::wstring& to) const {
    return ::MoveFileExW(Path(from).c_str(), Path(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  }
  bool Remove(const std::wstring& name) const { return ::DeleteFileW(Path(name).c_str()) != FALSE; }
  bool SetAttributes(const std::wstring& name, DWORD attributes) const {
    return ::SetFileAttributesW(Path(name).c_str(), attributes) != FALSE;
  }
  bool SetLastWrite(const std::wstring& name, const FILETIME& time) const {
    UniqueFile file(::CreateFileW(Path(name).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    return file && ::SetFileTime(file.Get(), nullptr, nullptr, &time);
  }

 private:
  bool Put(const std::wstring& name, size_t bytes, DWORD disposition) const {
    UniqueFile file(::CreateFileW(Path(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, 0, nullptr));
    if (!file) return false;
    if (disposition == OPEN_EXISTING) ::SetFilePointer(file.Get(), 0, nullptr, FILE_END);
    std::vector<char> data(bytes, 'x');
    DWORD written = 0;
    return bytes == 0 || (::WriteFile(file.Get(), data.data(), static_cast<DWORD>(bytes), &written, nullptr) &&
                          written == bytes);
  }

  std::wstring path_;
};

// A watcher reports only what changed after its first listing, and nothing
// outside shows when that listing has been taken. So the test pokes a probe
// until a batch comes: a new file "probeN<suffix>" each time when names are
// watched, else a byte appended to "probe<suffix>" (one byte long before the
// watcher starts) and its read-only attribute flipped. `batch` gives the
// published (name, size) pairs. Batches must show probes alone; they are read
// and reset until the last poke has been seen.
template <class Batch, class Reset>
::testing::AssertionResult AwaitBaseline(const TempDir& dir, HANDLE ready, bool names_watched, const std::wstring& suffix,
                                         Batch batch, Reset reset) {
  int pokes = 0;
  bool seen_any = false;
  for (;;) {
    if (!seen_any) {
      if (++pokes > 30) return ::testing::AssertionFailure() << "no batch in 30 pokes";
      if (names_watched) {
        dir.Write(L"probe" + std::to_wstring(pokes) + suffix, 1);
      } else {
        std::wstring probe = L"probe" + suffix;
        dir.SetAttributes(probe, FILE_ATTRIBUTE_NORMAL);
        dir.Append(probe, 1);
        if (pokes % 2) dir.SetAttributes(probe, FILE_ATTRIBUTE_READONLY);
      }
    }
    if (::WaitForSingleObject(ready, seen_any ? 10000 : 1000) != WAIT_OBJECT_0) {
      if (seen_any) return ::testing::AssertionFailure() << "the last poke never came";
      continue;
    }
    bool last = false;
    auto items = batch();
    reset();
    if (items.empty()) return ::testing::AssertionFailure() << "an empty batch";
    for (const auto& [name, size] : items) {
      if (name.rfind(L"probe", 0) != 0) return ::testing::AssertionFailure() << "a batch holds a file that is no probe";
      last = last || (names_watched ? name == L"probe" + std::to_wstring(pokes) + suffix : size == 1.0 + pokes);
    }
    seen_any = true;
    if (last) return ::testing::AssertionSuccess();
  }
}

}  // namespace brisel::test
