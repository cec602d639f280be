// Registration scripts: the registrar syntax of key blocks in braces, "s" and
// "d" values, "val" named values, and the NoRemove / ForceRemove flags.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brisel {

struct RegValue {
  enum class Kind { kString, kDword } kind = Kind::kString;
  std::wstring text;
  DWORD number = 0;
};

struct RegKeyNode {
  std::wstring name;
  bool no_remove = false;
  bool force_remove = false;
  bool has_default = false;
  RegValue default_value;
  std::vector<std::pair<std::wstring, RegValue>> values;
  std::vector<RegKeyNode> children;
};

struct RegRoot {
  HKEY root = nullptr;
  std::vector<RegKeyNode> keys;
};

// Replacement names are matched without regard to case, as %MODULE%.
using RegReplacements = std::map<std::wstring, std::wstring>;

// Parses a whole script; any syntax error, unknown replacement or nesting
// deeper than the registry needs fails without touching the registry.
HRESULT ParseRegistrationScript(std::wstring_view script, const RegReplacements& replacements,
                                std::vector<RegRoot>* out);

// Runs a script in register or unregister mode; the first failure is returned.
HRESULT RunRegistrationScript(std::wstring_view script, const RegReplacements& replacements, bool do_register);

// Loads a "REGISTRY" resource (language 1033) of the module as text.
HRESULT LoadRegistrationScript(HMODULE module, UINT id, std::wstring* out);

}  // namespace brisel
