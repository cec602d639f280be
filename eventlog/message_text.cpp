#include "eventlog/message_text.h"

#include <string>

#include "collector/error_state.h"
#include "collector/strings.h"
#include "trace/trace.h"

namespace brisel {

namespace {

constexpr DWORD kSystemDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT);
constexpr size_t kInitialOutputBytes = 4096;

// The output of the insertion pass: grows by doubling, as the module always has.
class Output {
 public:
  Output() { text_.reserve(capacity_bytes_ / sizeof(wchar_t)); }

  void Append(std::wstring_view piece) {
    size_t k = piece.size();
    if (k == 0) return;
    // Keeps one zero character behind the text.
    if ((text_.size() + k) * sizeof(wchar_t) >= capacity_bytes_) Grow(k);
    text_.append(piece);
  }
  std::wstring Take() { return std::move(text_); }

 private:
  void Grow(size_t k) {
    if (tvDebugLevel != 0) tvDebugPrint(2, "CopyChars: before alloc more\n");
    size_t bytes = capacity_bytes_;
    // One doubling is not always enough for a long piece behind a long
    // text: grow until it fits.
    do {
      bytes = k > bytes ? 4 * k : 2 * bytes;
    } while ((text_.size() + k) * sizeof(wchar_t) >= bytes);
    text_.reserve(bytes / sizeof(wchar_t));
    capacity_bytes_ = bytes;
    if (tvDebugLevel != 0) tvDebugPrint(2, "CopyChars: after alloc more\n");
  }

  std::wstring text_;
  size_t capacity_bytes_ = kInitialOutputBytes;
};

// Decimal number at text[*pos]; 0 when there is none. Saturates instead of
// wrapping, so a huge number stays greater than any string count.
uint32_t ReadNumber(std::wstring_view text, size_t* pos) {
  uint64_t n = 0;
  while (*pos < text.size() && text[*pos] >= L'0' && text[*pos] <= L'9') {
    n = n * 10 + static_cast<uint64_t>(text[*pos] - L'0');
    if (n > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
    ++*pos;
  }
  return static_cast<uint32_t>(n);
}

// A message of a module (null: the main executable) in an allocated buffer.
bool LookupMessage(HMODULE module, DWORD id, std::wstring* text) {
  UniqueLocalMemory buffer;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                             module, id, kSystemDefaultLanguage, reinterpret_cast<LPWSTR>(buffer.Put()), 0, nullptr);
  if (n == 0 || !buffer) return false;
  text->assign(static_cast<const wchar_t*>(buffer.Get()), n);
  return true;
}

// A string value of an open key, of at most max_chars characters.
bool ReadString(HKEY key, const wchar_t* name, size_t max_chars, std::wstring* out) {
  std::wstring buf(max_chars + 1, L'\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>(max_chars * sizeof(wchar_t));
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &bytes) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  out->assign(buf.c_str());  // up to the first zero, terminated or not
  return true;
}

// The registry names modules in the native system folders: in a 32-bit
// process on 64-bit Windows, System32 would otherwise become SysWOW64 for
// these calls. Redirection is per thread, so it is off only around them.
template <class F>
auto WithoutRedirection(F call) {
  const MessageTextApi& api = MessageTexts();
  PVOID old_value = nullptr;
  bool off = api.DisableRedirection && api.RevertRedirection && api.DisableRedirection(&old_value);
  auto result = call(api);
  if (off) api.RevertRedirection(old_value);
  return result;
}

HMODULE LoadDataModule(const MessageTextApi& api, const std::wstring& path) {
  return api.LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

bool HasVariable(const wchar_t* name) {
  wchar_t buf[2];
  return ::GetEnvironmentVariableW(name, buf, 2) != 0;
}

template <class F>
F Lookup(HMODULE module, const char* name) {
  // Through void(*)(), the generic function pointer type.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

MessageTextApi PlatformTable() noexcept {
  MessageTextApi api = {&::LoadLibraryExW, nullptr, nullptr, &::GetSystemTimeAsFileTime, &::GetFileAttributesExW};
#ifndef _WIN64
  // Only a 32-bit process on 64-bit Windows is redirected. Looked up, as
  // systems without 64-bit support may lack the functions.
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto is_wow64 = Lookup<BOOL(WINAPI*)(HANDLE, PBOOL)>(kernel, "IsWow64Process");
  BOOL wow64 = FALSE;
  if (kernel && is_wow64 && is_wow64(::GetCurrentProcess(), &wow64) && wow64) {
    auto disable = Lookup<BOOL(WINAPI*)(PVOID*)>(kernel, "Wow64DisableWow64FsRedirection");
    auto revert = Lookup<BOOL(WINAPI*)(PVOID)>(kernel, "Wow64RevertWow64FsRedirection");
    if (disable && revert) {
      api.DisableRedirection = disable;
      api.RevertRedirection = revert;
    }
  }
#endif
  return api;
}

bool SameNameNoCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

namespace detail {
std::atomic<const MessageTextApi*> g_message_text_override{nullptr};
}  // namespace detail

const MessageTextApi& MessageTexts() noexcept {
  if (const MessageTextApi* api = detail::g_message_text_override.load()) return *api;
  static const MessageTextApi kPlatform = PlatformTable();
  return kPlatform;
}

std::wstring NativeFolderReferences(std::wstring_view path, bool has_program_w6432, bool has_common_w6432) {
  const struct {
    std::wstring_view name;
    const wchar_t* native;
    bool offered;
  } kFolders[] = {{L"ProgramFiles", L"%ProgramW6432%", has_program_w6432},
                  {L"CommonProgramFiles", L"%CommonProgramW6432%", has_common_w6432}};
  std::wstring out;
  size_t pos = 0;
  for (;;) {
    size_t open = path.find(L'%', pos);
    size_t close = open == std::wstring_view::npos ? open : path.find(L'%', open + 1);
    if (close == std::wstring_view::npos) {
      out.append(path.substr(pos));
      return out;
    }
    out.append(path.substr(pos, open - pos));
    std::wstring_view name = path.substr(open + 1, close - open - 1);
    const wchar_t* native = nullptr;
    for (const auto& f : kFolders)
      if (f.offered && SameNameNoCase(name, f.name)) native = f.native;
    if (native) out += native;
    else out.append(path.substr(open, close - open + 1));
    pos = close + 1;
  }
}

bool LookupAccount(const wchar_t* system, PSID sid, std::wstring* account) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_chars = 256;
  DWORD domain_chars = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(system, sid, name, &name_chars, domain, &domain_chars, &use)) return false;
  return FormatW(account, L"%s\\%s", domain, name);
}

bool ResolveSidText(std::wstring_view text, std::wstring* account) {
  // Narrowed character by character, as the pieces are plain digits.
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    size_t dash = narrow.find('-', start);
    pieces.push_back(narrow.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  // revision, authority, then the sub-authorities; a SID holds at most 15.
  if (pieces.size() < 2) return false;
  size_t sub_count = pieces.size() - 2;
  if (sub_count > SID_MAX_SUB_AUTHORITIES) return false;
  if (pieces[1].empty()) return false;
  char authority = pieces[1][0];
  if (authority != '0' && authority != '1' && authority != '2' && authority != '3' && authority != '5') return false;
  SID_IDENTIFIER_AUTHORITY id = {{0, 0, 0, 0, 0, static_cast<BYTE>(authority - '0')}};
  BYTE storage[SECURITY_MAX_SID_SIZE] = {};
  PSID sid = storage;
  if (!::InitializeSid(sid, &id, static_cast<BYTE>(sub_count))) return false;
  for (size_t i = 0; i < sub_count; ++i)
    *::GetSidSubAuthority(sid, static_cast<DWORD>(i)) = static_cast<DWORD>(std::strtoul(pieces[i + 2].c_str(), nullptr, 10));
  return LookupAccount(nullptr, sid, account);
}

std::optional<std::wstring> InsertStrings(std::wstring_view templ, const std::vector<std::wstring_view>& strings,
                                          HMODULE param_module) {
  try {
    Output out;
    size_t pos = 0;
    for (;;) {
      size_t percent = templ.find(L'%', pos);
      if (percent == std::wstring_view::npos) break;
      out.Append(templ.substr(pos, percent - pos));
      pos = percent;
      size_t cursor = percent + 1;
      uint32_t n = ReadNumber(templ, &cursor);
      std::wstring looked_up;
      std::wstring_view value;
      if (n != 0) {
        if (n > strings.size()) break;  // the rest is copied as it stands
        value = strings[n - 1];
      } else if (cursor >= templ.size() || templ[cursor] != L'%') {
        out.Append(L"%");
        pos = percent + 1;
        continue;
      } else {
        size_t run_end = cursor;
        while (run_end < templ.size() && templ[run_end] == L'%') ++run_end;
        cursor = run_end;
        n = ReadNumber(templ, &cursor);
        if (n == 0) break;
        if (!LookupMessage(param_module, n, &looked_up)) {
          out.Append(templ.substr(percent, run_end - percent));
          pos = run_end;
          continue;
        }
        value = looked_up;
      }
      std::wstring account;
      if (value.size() > 5 && value.substr(0, 4) == L"%{S-" &&
          ResolveSidText(value.substr(4, value.size() - 5), &account)) {
        out.Append(account);
      } else {
        out.Append(value);
      }
      pos = cursor;
    }
    if (pos < templ.size()) out.Append(templ.substr(pos));
    return out.Take();
  } catch (...) {  // no memory: no text from this path
    return std::nullopt;
  }
}

bool ExpandModulePath(std::wstring_view raw_path, std::wstring* out) {
  const std::wstring native =
      NativeFolderReferences(raw_path, HasVariable(L"ProgramW6432"), HasVariable(L"CommonProgramW6432"));
  std::wstring_view path = native;
  size_t first = path.find(L'%');
  size_t last = path.rfind(L'%');
  if (first == std::wstring_view::npos) {
    out->assign(path);
    return true;
  }
  std::wstring piece(path.substr(first, last - first + 1));
  if (piece.size() > 255) return false;
  wchar_t expanded[512];
  DWORD n = ::ExpandEnvironmentStringsW(piece.c_str(), expanded, 512);
  if (n == 0 || n > 512) return false;
  std::wstring result(path.substr(0, first));
  result += expanded;
  result.append(path.substr(last + 1));
  *out = std::move(result);
  return true;
}

// Seconds in 64 bits on both targets: the i686 C runtime's time() ends in
// January 2038.
MessageTextCache::MessageTextCache()
    : clock_([] {
        FILETIME now;
        MessageTexts().GetSystemTimeAsFileTime(&now);
        return trace::UnixSeconds((uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime);
      }) {}

int64_t MessageTextCache::Now() {
  if (!caching_) return clock_();
  if (pass_now_ == 0) pass_now_ = clock_();
  return pass_now_;
}

bool MessageTextCache::CachedCategory(const std::wstring& key, std::wstring* text) {
  int64_t now = Now();
  if (created_ == 0) {
    created_ = now;
  } else if (now - created_ > kCategoryLifeSeconds) {
    created_ = now;
    categories_.clear();
    return false;
  }
  auto it = categories_.find(key);
  if (it == categories_.end()) return false;
  *text = it->second;
  return true;
}

bool MessageTextCache::CategoryText(WORD category, const std::wstring& source, const std::wstring& log,
                                    std::wstring* text) {
  std::wstring key;
  if (!FormatW(&key, L"%s %s %d", log.c_str(), source.c_str(), static_cast<int>(category))) return false;
  if (CachedCategory(key, text)) return true;
  if (category == 0) {
    *text = L"None";
    return true;
  }
  FormatW(text, L"Category #%d", static_cast<int>(category));
  std::wstring key_path;
  std::wstring file;
  std::wstring path;
  if (!FormatW(&key_path, L"%s\\%s\\%s", kEventLogKey, log.c_str(), source.c_str()) ||
      !ReadMachineString(key_path.c_str(), L"CategoryMessageFile", 260, &file) || !ExpandModulePath(file, &path) ||
      path.size() >= 260)
    return false;
  UniqueModule holder;
  HMODULE module = Module(path, &holder);
  if (!module) return false;
  wchar_t buf[260];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module, category,
                             kSystemDefaultLanguage, buf, 260, nullptr);
  if (n == 0) return false;
  text->assign(buf, n);
  categories_[key] = *text;
  return true;
}

MessageTextCache::SourceValues& MessageTextCache::Values(const std::wstring& log, const std::wstring& source,
                                                         SourceValues* scratch) {
  std::wstring key;
  FormatW(&key, L"%s\\%s\\%s", kEventLogKey, log.c_str(), source.c_str());
  if (caching_) {
    auto it = values_.find(key);
    if (it != values_.end()) return it->second;
  }
  SourceValues v;
  UniqueRegKey source_key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WRITE, source_key.Put()) == ERROR_SUCCESS) {
    v.has_event_files = ReadString(source_key.Get(), L"EventMessageFile", 512, &v.event_files);
    v.has_parameter_file = ReadString(source_key.Get(), L"ParameterMessageFile", 512, &v.parameter_file);
  }
  if (!caching_) {
    *scratch = std::move(v);
    return *scratch;
  }
  return values_.emplace(std::move(key), std::move(v)).first->second;
}

MessageTextCache::FileStamp MessageTextCache::StampOf(const MessageTextApi& api, const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!api.GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
  return {true, (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime,
          (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow};
}

HMODULE MessageTextCache::Module(const std::wstring& path, UniqueModule* holder) {
  if (!caching_) {
    holder->Reset(WithoutRedirection([&](const MessageTextApi& api) { return LoadDataModule(api, path); }));
    return holder->Get();
  }
  auto it = modules_.find(path);
  if (it != modules_.end()) {
    ModuleList::iterator kept = it->second;
    // Checked at its first use in a pass: a file replaced since is loaded again.
    if (kept->pass != pass_ &&
        !WithoutRedirection([&](const MessageTextApi& api) { return StampOf(api, path); }).Same(kept->stamp)) {
      modules_.erase(it);
      lru_.erase(kept);
    } else {
      lru_.splice(lru_.begin(), lru_, kept);
      kept->pass = pass_;
      return kept->module.Get();
    }
  } else if (failed_.count(path)) {
    return nullptr;  // it will not load later in this pass
  }
  FileStamp stamp;
  UniqueModule module(WithoutRedirection([&](const MessageTextApi& api) {
    // The stamp first: a file replaced between the two is then loaded again at the next pass.
    stamp = StampOf(api, path);
    return LoadDataModule(api, path);
  }));
  if (!module) {
    failed_.insert(path);
    return nullptr;
  }
  while (!lru_.empty() && lru_.size() >= module_limit_) {
    modules_.erase(lru_.back().path);
    lru_.pop_back();
  }
  lru_.push_front(KeptModule{path, std::move(module), stamp, pass_, 0});
  try {
    modules_.emplace(lru_.front().path, lru_.begin());
  } catch (...) {
    lru_.pop_front();  // no memory: the list and its index stay one
    throw;
  }
  return lru_.front().module.Get();
}

const std::vector<std::wstring>& MessageTextCache::EventPaths(SourceValues* values) {
  if (values->event_paths_made) return values->event_paths;
  std::wstring_view files = values->event_files;
  size_t start = 0;
  while (start <= files.size()) {
    size_t end = files.find(L';', start);
    if (end == std::wstring_view::npos) end = files.size();
    std::wstring path;
    if (!ExpandModulePath(files.substr(start, end - start), &path)) break;  // the search ends there
    values->event_paths.push_back(std::move(path));
    start = end + 1;
  }
  values->event_paths_made = true;
  return values->event_paths;
}

bool MessageTextCache::MessageText(DWORD event_id, const std::wstring& source,
                                   const std::vector<std::wstring_view>& strings, const std::wstring& log,
                                   std::wstring* text) {
  SourceValues scratch;
  SourceValues& values = Values(log, source, &scratch);
  std::optional<std::wstring> result;
  if (values.has_event_files) {
    for (const std::wstring& path : EventPaths(&values)) {
      UniqueModule holder;
      HMODULE module = Module(path, &holder);
      if (!module) break;
      std::wstring templ;
      if (LookupMessage(module, event_id, &templ)) result = InsertStrings(templ, strings, nullptr);
      if (result) break;
    }
  }
  if (!result) {
    try {
      std::wstring joined;
      for (size_t i = 0; i < strings.size(); ++i) {
        if (i) joined += L',';
        joined.append(strings[i]);
      }
      joined += L'\n';
      result = std::move(joined);
    } catch (...) {
      result.reset();
    }
  }
  // Only a run of '%' before digits can change in the parameter pass: a
  // text without "%%" would come back as it is, so its module is not loaded.
  if (result && values.has_parameter_file && result->find(L"%%") != std::wstring::npos) {
    if (!values.parameter_path_made) {
      std::wstring_view files = values.parameter_file;
      size_t semicolon = files.rfind(L';');
      std::wstring path;
      if (ExpandModulePath(semicolon == std::wstring_view::npos ? files : files.substr(semicolon + 1), &path))
        values.parameter_path = std::move(path);
      values.parameter_path_made = true;
    }
    if (values.parameter_path) {
      UniqueModule holder;
      if (HMODULE module = Module(*values.parameter_path, &holder)) {
        if (auto replaced = InsertStrings(*result, {}, module)) result = std::move(replaced);
      }
    }
  }
  *text = result ? std::move(*result) : std::wstring(L"None");
  return true;
}

bool MessageTextCache::Account(const std::wstring& computer, PSID sid, std::wstring* account) {
  if (!caching_) return LookupAccount(computer.c_str(), sid, account);
  std::wstring key = computer;
  key += L'|';
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  for (DWORD i = 0, n = ::GetLengthSid(sid); i < n; ++i) key += static_cast<wchar_t>(bytes[i]);
  auto it = accounts_.find(key);
  if (it == accounts_.end()) {
    std::optional<std::wstring> found;
    std::wstring text;
    if (LookupAccount(computer.c_str(), sid, &text)) found = std::move(text);
    it = accounts_.emplace(std::move(key), std::move(found)).first;
  }
  if (!it->second) return false;
  *account = *it->second;
  return true;
}

void MessageTextCache::EndPass() noexcept {
  pass_now_ = 0;
  accounts_.clear();
  values_.clear();
  failed_.clear();
  if (!lru_.empty()) {
    // Use order is time order: the idle ones are at the back.
    const int64_t now = clock_();
    for (KeptModule& m : lru_)
      if (m.pass == pass_) m.last_used = now;
    while (!lru_.empty()) {
      // A clock set back counts as idle, or the modules would stay until it caught up.
      const int64_t idle = now - lru_.back().last_used;
      if (idle >= 0 && idle * 1000 < static_cast<int64_t>(idle_release_ms_)) break;
      modules_.erase(lru_.back().path);
      lru_.pop_back();
    }
  }
  ++pass_;
}

void MessageTextCache::ReleaseModules() noexcept {
  modules_.clear();
  lru_.clear();
  failed_.clear();
}

void MessageTextCache::SetCaching(bool on) noexcept {
  caching_ = on;
  if (!on) ReleaseModules();
}

}  // namespace brisel
