#include "trace/registry.h"

#include <cstdio>
#include <cstring>
#include <algorithm>

#include "module/com.h"

namespace brisel {

namespace {

std::string FirstComponent(const char* path) {
  const char* slash = std::strchr(path, '\\');
  return slash ? std::string(path, slash) : std::string(path);
}

std::string ReadPath(const char* path) {
  std::string first = FirstComponent(path);
  if (first == "SYSTEM" || _stricmp(first.c_str(), "SOFTWARE") == 0) return path;
  return std::string("SOFTWARE\\") + path;
}

std::string WritePath(const char* path) {
  if (_stricmp(FirstComponent(path).c_str(), "SOFTWARE") == 0) return path;
  return std::string("SOFTWARE\\") + path;
}

bool OpenKey(const std::string& path, REGSAM access, UniqueRegKey* key) {
  LSTATUS rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key->Put());
  if (rc != ERROR_SUCCESS) {
    std::printf("tvRegOpenKey: cannot open HKLM\\%s with access 0x%lx: %ld\n", path.c_str(),
                static_cast<unsigned long>(access), static_cast<long>(rc));
    return false;
  }
  return true;
}

int ModuleType(DWORD reg_type) {
  switch (reg_type) {
    case REG_BINARY: return kRegBinary;
    case REG_DWORD: return kRegNumber;
    case REG_SZ: return kRegString;
    case REG_EXPAND_SZ: return kRegExpandString;
    default: return kRegOther;
  }
}

DWORD RegistryType(int type) {
  switch (type) {
    case kRegNumber: return REG_DWORD;
    case kRegString: return REG_SZ;
    case kRegExpandString: return REG_EXPAND_SZ;
    default: return REG_BINARY;
  }
}

// Reads one value of an open key, growing the buffer as the registry asks.
bool ReadKeyValue(HKEY key, const char* name, int* type, std::vector<BYTE>* data, DWORD* size) {
  std::vector<BYTE> buf;
  DWORD reg_type = 0;
  DWORD bytes = 4;
  LSTATUS rc;
  for (;;) {
    try {
      buf.assign(bytes, 0);
    } catch (...) {
      std::printf("doReadKeyValue: failed to malloc\n");
      return false;
    }
    rc = ::RegQueryValueExA(key, name, nullptr, &reg_type, buf.data(), &bytes);
    if (rc != ERROR_MORE_DATA) break;
  }
  if (rc != ERROR_SUCCESS) return false;
  buf.resize(bytes);
  if (reg_type == REG_EXPAND_SZ) {
    std::string raw(reinterpret_cast<const char*>(buf.data()), buf.size());
    raw.resize(std::strlen(raw.c_str()));
    std::vector<char> out(256, '\0');
    DWORD n = ::ExpandEnvironmentStringsA(raw.c_str(), out.data(), static_cast<DWORD>(out.size()));
    if (n > out.size()) {
      out.assign(n, '\0');
      n = ::ExpandEnvironmentStringsA(raw.c_str(), out.data(), static_cast<DWORD>(out.size()));
    }
    std::string text = (n == 0 || n > out.size()) ? raw : std::string(out.data());
    data->assign(text.begin(), text.end());
    data->push_back(0);
    *type = kRegString;
    *size = static_cast<DWORD>(text.size());
    return true;
  }
  *type = ModuleType(reg_type);
  *size = bytes;
  *data = std::move(buf);
  return true;
}

}  // namespace

void tvRegReadValues(const char* key_path, std::vector<RegValueRecord>* records) {
  for (auto& r : *records) {
    r.data.clear();
    r.size = 0;
  }
  UniqueRegKey key;
  if (!key_path || !OpenKey(ReadPath(key_path), KEY_QUERY_VALUE, &key)) return;
  for (auto& r : *records) {
    int type = 0;
    std::vector<BYTE> data;
    DWORD size = 0;
    if (ReadKeyValue(key.Get(), r.name.c_str(), &type, &data, &size)) {
      r.found = true;
      r.type = type;
      r.data = std::move(data);
      r.size = size;
    }
  }
}

bool tvRegReadValue(const char* key_path, const char* name, int* type, std::vector<BYTE>* data, DWORD* size) {
  if (!key_path) return false;
  std::string path = std::strstr(key_path, "SOFTWARE\\") ? std::string(key_path) : std::string("SOFTWARE\\") + key_path;
  UniqueRegKey key;
  if (!OpenKey(path, KEY_READ, &key)) return false;
  int t = 0;
  std::vector<BYTE> d;
  DWORD s = 0;
  if (!ReadKeyValue(key.Get(), name, &t, &d, &s)) return false;
  *type = t;
  *data = std::move(d);
  *size = s;
  return true;
}

bool tvRegWriteValues(const char* key_path, std::vector<RegValueRecord>* records, bool overwrite) {
  UniqueRegKey key;
  if (!key_path || !OpenKey(WritePath(key_path), 0x2001F, &key)) return false;
  for (auto& r : *records) {
    if (!overwrite && ::RegQueryValueExA(key.Get(), r.name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      continue;
    if (!r.write) continue;
    bool text = r.type == kRegString || r.type == kRegExpandString;
    if (text && r.data.empty()) return false;
    const BYTE zero = 0;
    const BYTE* bytes = r.data.data();
    DWORD size = std::min<DWORD>(r.size, static_cast<DWORD>(r.data.size()));
    if (text && r.size == 0) {
      bytes = &zero;
      size = 1;
    }
    if (::RegSetValueExA(key.Get(), r.name.c_str(), 0, RegistryType(r.type), bytes, size) != ERROR_SUCCESS)
      return false;
  }
  return true;
}

}  // namespace brisel
