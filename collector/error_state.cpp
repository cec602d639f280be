#include "collector/error_state.h"

#include <cstdio>
#include <vector>

#include "collector/strings.h"
#include "module/com.h"

namespace brisel {

void ErrorState::SetErrorMessage(const wchar_t* text) { message_ = text ? text : L""; }

void ErrorState::SetErrorFromSystemCode(DWORD code) {
  wchar_t buf[261] = {};
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf, 260,
                             nullptr);
  if (n == 0) {
    DWORD err = ::GetLastError();
    if (!FormatW(&message_, L"FormatMessage failed: %d", static_cast<int>(err))) message_.clear();
  } else {
    message_.assign(buf, n);
  }
  code_ = static_cast<LONG>(code);
}

bool ReadMachineString(const wchar_t* key_path, const wchar_t* value, size_t max_chars, std::wstring* out) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ | KEY_WRITE, key.Put()) != ERROR_SUCCESS) return false;
  std::vector<wchar_t> buf(max_chars + 1, L'\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(max_chars * sizeof(wchar_t));
  if (::RegQueryValueExW(key.Get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &bytes) !=
      ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  out->assign(buf.data());  // stops at the first zero, terminated or not
  return true;
}

std::wstring ErrorState::DebugFilePath() {
  std::wstring install;
  std::wstring path;
  if (ReadMachineString(L"SOFTWARE\\Talvane\\Vigilor", L"InstallPath", 261, &install) &&
      FormatW(&path, L"%s\\Temp\\Talvane_Debug", install.c_str()))
    return path;
  return L"c:\\temp\\velka.txt";
}

bool ErrorState::WriteToDebugFile(std::wstring_view text) {
  try {
    UniqueStdFile file(::_wfopen(DebugFilePath().c_str(), L"a+"));
    if (!file) return false;
    std::fwprintf(file.get(), L"%ls", std::wstring(text).c_str());
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace brisel
