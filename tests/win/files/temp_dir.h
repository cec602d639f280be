#pragma once

#include <windows.h>

#include <string>

#include "module/com.h"

namespace brisel::test {

class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    std::wstring path = std::wstring(base) + L"brisel_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                        std::to_wstring(::InterlockedIncrement(&counter));
    if (::CreateDirectoryW(path.c_str(), nullptr)) path_ = path;
  }
  ~TempDir() {
    WIN32_FIND_DATAW data;
    HANDLE find = path_.empty() ? INVALID_HANDLE_VALUE : ::FindFirstFileW(Path(L"*").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(find, &data))
      if (data.cFileName[0] != L'.') ::DeleteFileW(Path(data.cFileName).c_str());  // not "." and ".."
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
    ::RemoveDirectoryW(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool Valid() const { return !path_.empty(); }
  const std::wstring& Dir() const { return path_; }  // without a trailing backslash
  std::wstring Path(const std::wstring& name) const { return path_ + L"\\" + name; }

  bool Write(const std::wstring& name, std::string_view data) const { return Put(name, data, CREATE_ALWAYS); }
  bool Write(const std::wstring& name, size_t bytes) const { return Write(name, std::string(bytes, 'x')); }
  bool Append(const std::wstring& name, size_t bytes) const { return Put(name, std::string(bytes, 'x'), OPEN_EXISTING); }
  bool Remove(const std::wstring& name) const { return ::DeleteFileW(Path(name).c_str()) != FALSE; }

 private:
  bool Put(const std::wstring& name, std::string_view data, DWORD disposition) const {
    UniqueFile file(::CreateFileW(Path(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, 0, nullptr));
    DWORD written = 0;
    return file && ::SetFilePointer(file.Get(), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
           ::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
  }

  std::wstring path_;
};

}  // namespace brisel::test
