// 8-bit registry helpers of the trace facility, on HKEY_LOCAL_MACHINE only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace brisel {

// The module's own value type codes.
enum : int {
  kRegBinary = 0,
  kRegNumber = 1,     // REG_DWORD
  kRegString = 2,     // REG_SZ (and expanded REG_EXPAND_SZ)
  kRegExpandString = 3,
  kRegOther = -1,
};

struct RegValueRecord {
  bool write = false;  // written by tvRegWriteValues only when set
  bool found = false;  // set by a successful read
  std::string name;
  int type = kRegBinary;
  std::vector<BYTE> data;  // the value's bytes
  DWORD size = 0;          // bytes; for an expanded string its length without terminator
};

// Reads every record from the key. The path is used as given when its first
// component is "SYSTEM"; otherwise "SOFTWARE\" goes in front unless the first
// component already is "SOFTWARE" (any case).
void tvRegReadValues(const char* key_path, std::vector<RegValueRecord>* records);

// Reads one value; "SOFTWARE\" goes in front unless the path contains it.
// The outputs are written only on success.
bool tvRegReadValue(const char* key_path, const char* name, int* type, std::vector<BYTE>* data, DWORD* size);

// Writes the records with a set write flag into an existing key (never
// created). With overwrite 0 an existing value is left as it is.
bool tvRegWriteValues(const char* key_path, std::vector<RegValueRecord>* records, bool overwrite);

}  // namespace brisel
