// A scratch directory of real files that a test creates, renames, grows,
// touches and changes attributes of; removed with everything in it.
#pragma once

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
    return ::MoveFileW(Path(from).c_str(), Path(to).c_str()) != FALSE;
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
  // A file of the given length with nothing written: sparse where the file system allows.
  bool SetLength(const std::wstring& name, LONGLONG length) const {
    UniqueFile file(::CreateFileW(Path(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
    LARGE_INTEGER to;
    to.QuadPart = length;
    return file && ::SetFilePointerEx(file.Get(), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
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

}  // namespace brisel::test
