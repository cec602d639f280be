// Failure state shared by sources, readers, records, filters and connections.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace brisel {

class ErrorState {
 public:
  virtual ~ErrorState() = default;

  bool Status() const noexcept { return status_; }
  void SetStatus(bool status) noexcept { status_ = status; }
  LONG ErrorCode() const noexcept { return code_; }
  void SetErrorCode(LONG code) noexcept { code_ = code; }
  const std::wstring& ErrorMessage() const noexcept { return message_; }
  // A null text sets the empty string.
  void SetErrorMessage(const wchar_t* text);
  void SetErrorMessage(std::wstring_view text) { message_.assign(text); }
  // Message becomes the system's text for the code, which is stored.
  void SetErrorFromSystemCode(DWORD code);

  // Appends the own message, or a given text, to the module's debug file.
  bool WriteToDebugFile() const { return WriteToDebugFile(message_); }
  static bool WriteToDebugFile(std::wstring_view text);
  // "<InstallPath>\Temp\Talvane_Debug", or "c:\temp\velka.txt" without an install path.
  static std::wstring DebugFilePath();

 private:
  bool status_ = false;
  LONG code_ = 0;
  std::wstring message_;
};

// Reads a string value under HKEY_LOCAL_MACHINE (read and write access, as
// every key of the module is opened); false when the key or value is missing.
bool ReadMachineString(const wchar_t* key_path, const wchar_t* value, size_t max_chars, std::wstring* out);

}  // namespace brisel
