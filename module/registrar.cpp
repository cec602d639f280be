#include "module/registrar.h"

#include <cwctype>

#include "module/com.h"

namespace brisel {

namespace {

constexpr HRESULT kSyntaxError = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
constexpr int kMaxDepth = 32;

bool IEquals(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

class Parser {
 public:
  explicit Parser(std::wstring_view text) : text_(text) {}

  HRESULT Script(std::vector<RegRoot>* out) {
    for (;;) {
      Token t;
      HRESULT hr = Next(&t);
      if (FAILED(hr)) return hr;
      if (t.kind == Token::kEnd) return S_OK;
      if (t.kind != Token::kWord) return kSyntaxError;
      RegRoot root;
      root.root = RootKey(t.text);
      if (!root.root) return kSyntaxError;
      hr = Expect(Token::kOpen);
      if (FAILED(hr)) return hr;
      hr = Keys(&root.keys, 1, /*allow_values=*/false);
      if (FAILED(hr)) return hr;
      out->push_back(std::move(root));
    }
  }

 private:
  struct Token {
    enum Kind { kEnd, kWord, kString, kOpen, kClose, kEquals } kind = kEnd;
    std::wstring text;
  };

  static HKEY RootKey(std::wstring_view name) {
    if (IEquals(name, L"HKCR") || IEquals(name, L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
    if (IEquals(name, L"HKLM") || IEquals(name, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    if (IEquals(name, L"HKCU") || IEquals(name, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
    if (IEquals(name, L"HKU") || IEquals(name, L"HKEY_USERS")) return HKEY_USERS;
    return nullptr;
  }

  // Body of a key block, up to and including its closing brace.
  HRESULT Keys(std::vector<RegKeyNode>* keys, int depth, bool allow_values,
               std::vector<std::pair<std::wstring, RegValue>>* values = nullptr) {
    if (depth > kMaxDepth) return kSyntaxError;
    for (;;) {
      Token t;
      HRESULT hr = Next(&t);
      if (FAILED(hr)) return hr;
      if (t.kind == Token::kClose) return S_OK;
      if (t.kind != Token::kWord && t.kind != Token::kString) return kSyntaxError;
      if (allow_values && t.kind == Token::kWord && IEquals(t.text, L"val")) {
        Token name;
        hr = Next(&name);
        if (FAILED(hr)) return hr;
        if (name.kind != Token::kWord && name.kind != Token::kString) return kSyntaxError;
        hr = Expect(Token::kEquals);
        if (FAILED(hr)) return hr;
        RegValue v;
        hr = Value(&v);
        if (FAILED(hr)) return hr;
        values->emplace_back(std::move(name.text), std::move(v));
        continue;
      }
      RegKeyNode key;
      if (t.kind == Token::kWord && (IEquals(t.text, L"NoRemove") || IEquals(t.text, L"ForceRemove"))) {
        (IEquals(t.text, L"NoRemove") ? key.no_remove : key.force_remove) = true;
        hr = Next(&t);
        if (FAILED(hr)) return hr;
        if (t.kind != Token::kWord && t.kind != Token::kString) return kSyntaxError;
      }
      if (t.text.empty() || t.text.find(L'\\') != std::wstring::npos) return kSyntaxError;
      key.name = std::move(t.text);
      // Optional default value, then optional block.
      size_t mark = pos_;
      hr = Next(&t);
      if (FAILED(hr)) return hr;
      if (t.kind == Token::kEquals) {
        key.has_default = true;
        hr = Value(&key.default_value);
        if (FAILED(hr)) return hr;
        mark = pos_;
        hr = Next(&t);
        if (FAILED(hr)) return hr;
      }
      if (t.kind == Token::kOpen) {
        hr = Keys(&key.children, depth + 1, true, &key.values);
        if (FAILED(hr)) return hr;
      } else {
        pos_ = mark;
      }
      keys->push_back(std::move(key));
    }
  }

  HRESULT Value(RegValue* v) {
    Token type;
    HRESULT hr = Next(&type);
    if (FAILED(hr)) return hr;
    Token data;
    hr = Next(&data);
    if (FAILED(hr)) return hr;
    if (data.kind != Token::kString && data.kind != Token::kWord) return kSyntaxError;
    if (type.kind == Token::kWord && IEquals(type.text, L"s")) {
      v->kind = RegValue::Kind::kString;
      v->text = std::move(data.text);
      return S_OK;
    }
    if (type.kind == Token::kWord && IEquals(type.text, L"d")) {
      v->kind = RegValue::Kind::kDword;
      wchar_t* end = nullptr;
      unsigned long n = std::wcstoul(data.text.c_str(), &end, 0);
      if (data.text.empty() || *end != L'\0') return kSyntaxError;
      v->number = static_cast<DWORD>(n);
      return S_OK;
    }
    return kSyntaxError;
  }

  HRESULT Expect(Token::Kind kind) {
    Token t;
    HRESULT hr = Next(&t);
    if (FAILED(hr)) return hr;
    return t.kind == kind ? S_OK : kSyntaxError;
  }

  HRESULT Next(Token* t) {
    while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
    t->text.clear();
    if (pos_ >= text_.size()) {
      t->kind = Token::kEnd;
      return S_OK;
    }
    wchar_t c = text_[pos_];
    // Tokens are separated by white space: "{" alone opens a block, while
    // "{GUID}" is a key name.
    bool alone = pos_ + 1 >= text_.size() || std::iswspace(text_[pos_ + 1]);
    if ((c == L'{' || c == L'}' || c == L'=') && alone) {
      ++pos_;
      t->kind = c == L'{' ? Token::kOpen : c == L'}' ? Token::kClose : Token::kEquals;
      return S_OK;
    }
    if (c == L'\'') {
      t->kind = Token::kString;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) return kSyntaxError;  // unterminated
        if (text_[pos_] == L'\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {
            t->text += L'\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          return S_OK;
        }
        t->text += text_[pos_++];
      }
    }
    t->kind = Token::kWord;
    while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'\'') t->text += text_[pos_++];
    return S_OK;
  }

  std::wstring_view text_;
  size_t pos_ = 0;
};

// %NAME% becomes its replacement, %% a single percent sign.
HRESULT Substitute(std::wstring_view raw, const RegReplacements& repl, std::wstring* out) {
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != L'%') {
      *out += raw[i];
      continue;
    }
    size_t end = raw.find(L'%', i + 1);
    if (end == std::wstring_view::npos) return kSyntaxError;
    std::wstring_view name = raw.substr(i + 1, end - i - 1);
    if (name.empty()) {
      *out += L'%';
    } else {
      const std::wstring* value = nullptr;
      for (const auto& [k, v] : repl)
        if (IEquals(k, name)) value = &v;
      if (!value) return kSyntaxError;
      *out += *value;
    }
    i = end;
  }
  return S_OK;
}

HRESULT SetValue(HKEY key, const wchar_t* name, const RegValue& v) {
  LSTATUS rc;
  if (v.kind == RegValue::Kind::kString) {
    rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                          static_cast<DWORD>((v.text.size() + 1) * sizeof(wchar_t)));
  } else {
    rc = ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number), sizeof(DWORD));
  }
  return HRESULT_FROM_WIN32(rc);
}

HRESULT RegisterKey(HKEY parent, const RegKeyNode& node) {
  if (node.force_remove) {
    LSTATUS rc = ::RegDeleteTreeW(parent, node.name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
  }
  UniqueRegKey key;
  LSTATUS rc = ::RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.Put(),
                                 nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr = S_OK;
  if (node.has_default) hr = SetValue(key.Get(), nullptr, node.default_value);
  for (size_t i = 0; SUCCEEDED(hr) && i < node.values.size(); ++i)
    hr = SetValue(key.Get(), node.values[i].first.c_str(), node.values[i].second);
  for (size_t i = 0; SUCCEEDED(hr) && i < node.children.size(); ++i) hr = RegisterKey(key.Get(), node.children[i]);
  return hr;
}

HRESULT UnregisterKey(HKEY parent, const RegKeyNode& node) {
  if (node.force_remove) {
    LSTATUS rc = ::RegDeleteTreeW(parent, node.name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
  }
  UniqueRegKey key;
  LSTATUS rc = ::RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_READ | KEY_WRITE, key.Put());
  if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  for (const auto& child : node.children) {
    HRESULT hr = UnregisterKey(key.Get(), child);
    if (FAILED(hr)) return hr;
  }
  if (node.no_remove) {
    for (const auto& [name, value] : node.values) ::RegDeleteValueW(key.Get(), name.c_str());
    return S_OK;
  }
  // A key that others filled as well is left with their content.
  DWORD subkeys = 0;
  rc = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
  key.Reset();
  if (rc == ERROR_SUCCESS && subkeys == 0) {
    rc = ::RegDeleteKeyW(parent, node.name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
  }
  return S_OK;
}

}  // namespace

HRESULT ParseRegistrationScript(std::wstring_view script, const RegReplacements& replacements,
                                std::vector<RegRoot>* out) {
  try {
    // Replacements go in before tokenising, so a replacement text must carry
    // its apostrophes doubled when it lands inside a quoted string.
    std::wstring text;
    HRESULT hr = Substitute(script, replacements, &text);
    if (FAILED(hr)) return hr;
    Parser parser(text);
    return parser.Script(out);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RunRegistrationScript(std::wstring_view script, const RegReplacements& replacements, bool do_register) {
  std::vector<RegRoot> roots;
  HRESULT hr = ParseRegistrationScript(script, replacements, &roots);
  if (FAILED(hr)) return hr;
  for (const auto& root : roots) {
    for (const auto& key : root.keys) {
      hr = do_register ? RegisterKey(root.root, key) : UnregisterKey(root.root, key);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT LoadRegistrationScript(HMODULE module, UINT id, std::wstring* out) {
  HRSRC res = ::FindResourceExW(module, L"REGISTRY", MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (!res) return HRESULT_FROM_WIN32(::GetLastError());
  HGLOBAL data = ::LoadResource(module, res);
  DWORD size = ::SizeofResource(module, res);
  const char* bytes = data ? static_cast<const char*>(::LockResource(data)) : nullptr;
  if (!bytes) return HRESULT_FROM_WIN32(::GetLastError());
  if (size == 0) {
    out->clear();
    return S_OK;
  }
  int n = ::MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
  if (n <= 0) return HRESULT_FROM_WIN32(::GetLastError());
  try {
    out->assign(static_cast<size_t>(n), L'\0');
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  ::MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(size), out->data(), n);
  // Resource compilers may pad with zeros.
  while (!out->empty() && out->back() == L'\0') out->pop_back();
  return S_OK;
}

}  // namespace brisel
