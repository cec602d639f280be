// Rule files: the XML format and the line format.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "collector/strings.h"
#include "module/com.h"
#include "rules/event_rules.h"
#include "trace/trace.h"
#include "xml/xml.h"

namespace brisel {

namespace {

void Trace(const char* text) {
  if (tvDebugLevel > 0) tvDebugPrint(1, text);
}

// Trace lines are 8-bit.
std::string Narrow(std::wstring_view text) {
  if (text.empty()) return std::string();
  int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

void TraceText(const char* format, std::wstring_view text) {
  if (tvDebugLevel > 0) tvDebugPrint(1, format, Narrow(text).c_str());
}

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

enum class Encoding { Ansi, Utf8, Utf16LE, Utf16BE };

// The raw bytes of a file; false when it cannot be opened.
bool ReadBytes(const std::wstring& path, std::string* bytes) {
  UniqueStdFile file(_wfopen(path.c_str(), L"rb"));
  if (!file) return false;
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof(block), file.get())) > 0) bytes->append(block, n);
  return !std::ferror(file.get());
}

// Strips a byte-order mark and says which encoding it names.
Encoding TakeByteOrderMark(std::string* bytes) {
  auto starts = [&](const char* mark, size_t n) { return bytes->size() >= n && bytes->compare(0, n, mark, n) == 0; };
  Encoding encoding = Encoding::Ansi;
  size_t skip = 0;
  if (starts("\xEF\xBB\xBF", 3)) {
    encoding = Encoding::Utf8;
    skip = 3;
  } else if (starts("\xFF\xFE", 2)) {
    encoding = Encoding::Utf16LE;
    skip = 2;
  } else if (starts("\xFE\xFF", 2)) {
    encoding = Encoding::Utf16BE;
    skip = 2;
  }
  bytes->erase(0, skip);
  return encoding;
}

// What a text-mode read delivers: CR LF pairs become LF, Ctrl-Z ends the text.
std::string TextModeBytes(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\x1A') break;
    if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += c;
  }
  return out;
}

std::wstring FromCodePage(UINT code_page, const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::wstring FromUtf16(const std::string& bytes, bool big_endian) {
  std::wstring out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto lo = static_cast<unsigned char>(bytes[big_endian ? i + 1 : i]);
    auto hi = static_cast<unsigned char>(bytes[big_endian ? i : i + 1]);
    wchar_t c = static_cast<wchar_t>(lo | (hi << 8));
    if (c == L'\n' && !out.empty() && out.back() == L'\r') out.back() = L'\n';
    else out += c;
  }
  return out;
}

// A rule file's text for the line loader; false when it cannot be opened.
bool ReadLinesText(const std::wstring& path, std::wstring* text) {
  std::string bytes;
  if (!ReadBytes(path, &bytes)) return false;
  switch (TakeByteOrderMark(&bytes)) {
    case Encoding::Utf16LE: *text = FromUtf16(bytes, false); break;
    case Encoding::Utf16BE: *text = FromUtf16(bytes, true); break;
    case Encoding::Utf8: *text = FromCodePage(CP_UTF8, TextModeBytes(bytes)); break;
    case Encoding::Ansi: *text = FromCodePage(CP_ACP, TextModeBytes(bytes)); break;
  }
  return true;
}

// Lines as a line reader with a 900-character buffer sees them: at most 899
// characters each, the line feed included, cut at an embedded zero.
std::vector<std::wstring> SplitLines(const std::wstring& text) {
  constexpr size_t kMaxLine = 899;
  std::vector<std::wstring> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    end = end == std::wstring::npos ? text.size() : end + 1;
    if (end - pos > kMaxLine) end = pos + kMaxLine;
    std::wstring line = text.substr(pos, end - pos);
    size_t zero = line.find(L'\0');
    if (zero != std::wstring::npos) line.resize(zero);
    lines.push_back(std::move(line));
    pos = end;
  }
  return lines;
}

std::wstring Upper(std::wstring text) {
  FoldCase(&text);
  return text;
}

std::wstring TrimRight(std::wstring_view text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n' || text[end - 1] == L' ' || text[end - 1] == L'\t'))
    --end;
  return std::wstring(text.substr(0, end));
}

void Append(std::wstring* errors, const wchar_t* format, const std::wstring& text) {
  std::wstring message;
  if (errors && FormatW(&message, format, text.c_str())) *errors += message;
}

// XML element names are matched without regard to case.
bool IsElement(const XmlNode* node, const char* upper) {
  if (node->Type() != XmlType::Element) return false;
  const std::u16string& name = node->Name();
  size_t i = 0;
  for (; i < name.size() && upper[i]; ++i) {
    char16_t c = name[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != static_cast<char16_t>(upper[i])) return false;
  }
  return i == name.size() && upper[i] == '\0';
}

template <class Visit>
void ForEachChild(const XmlNode* node, Visit visit) {
  size_t pos = 0;
  XmlNode* child = nullptr;
  if (!node->GetFirstChild(pos)) return;
  while (node->GetNextChild(pos, child)) visit(child);
}

void WalkEvents(const XmlNode* events, int32_t kind, std::vector<RuleElement>* out) {
  static const char* const kFields[] = {"LOG", "TYPE", "SOURCE", "CATEGORY", "EVENTID", "USER", "COMPUTER", "DESCRIPTION", "CASESENSITIVE"};
  ForEachChild(events, [&](const XmlNode* child) {
    if (IsElement(child, "AND")) {
      out->push_back({L"", L"", 0});
      return;
    }
    for (const char* field : kFields) {
      if (!IsElement(child, field)) continue;
      std::wstring text = Wide(child->Text());
      while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.pop_back();
      if (text.empty()) return;
      std::wstring name = std::string_view(field) == "EVENTID" ? L"ID" : std::wstring(field, field + std::strlen(field));
      out->push_back({std::move(name), std::move(text), kind});
      return;
    }
  });
}

void WalkRuleList(const XmlNode* list, int32_t kind, std::vector<RuleElement>* out) {
  ForEachChild(list, [&](const XmlNode* child) {
    if (IsElement(child, "EVENTS")) {
      out->push_back({L"EVENTS", L"", kind});
      WalkEvents(child, kind, out);
    } else if (IsElement(child, "OR")) {
      out->push_back({L"", L"", 1});
    }
  });
}

// Depth is bounded by the parser's own nesting limit.
void WalkRuleNode(const XmlNode* node, std::vector<RuleElement>* out) {
  if (IsElement(node, "INCLUDE")) {
    out->push_back({L"INCLUDE", L"", kRuleInclude});
    WalkRuleList(node, kRuleInclude, out);
  } else if (IsElement(node, "EXCLUDE")) {
    out->push_back({L"EXCLUDE", L"", kRuleExclude});
    WalkRuleList(node, kRuleExclude, out);
  } else if (IsElement(node, "EVENTS")) {
    out->push_back({L"EVENTS", L"", -1});
    WalkEvents(node, -1, out);
  } else {
    ForEachChild(node, [&](const XmlNode* child) { WalkRuleNode(child, out); });
  }
}

bool OpensRule(const std::wstring& name) { return name == L"EVENTS" || name == L"INCLUDE" || name == L"EXCLUDE"; }

// A field value of "*" or nothing leaves the field as it is.
void SetField(std::wstring* field, const std::wstring& value) {
  if (!value.empty() && value != L"*") *field = value;
}

bool SetCase(CEventRuleFilter* rule, const std::wstring& value) {
  if (value == L"y" || value == L"Y") {
    rule->CaseSensitive = true;
  } else if (value == L"n" || value == L"N") {
    rule->CaseSensitive = false;
  } else {
    return false;
  }
  return true;
}

void ApplyElement(const RuleElement& element, RuleKind kind, CEventRuleFilter* rule) {
  PatternSet& p = kind == kRuleInclude ? rule->IncludePatterns : rule->ExcludePatterns;
  const std::wstring& name = element.Name;
  const std::wstring& value = element.Value;
  if (name == L"LOG") {
    SetField(&p.Log, value);
  } else if (name == L"TYPE") {
    SetField(&p.Type, value);
  } else if (name == L"ID") {
    TraceText("EventID Value is %s", value);
    SetField(&p.EventID, value);
  } else if (name == L"DESCRIPTION") {
    SetField(&p.Description, value);
  } else if (name == L"SOURCE") {
    SetField(&p.Source, value);
  } else if (name == L"COMPUTER") {
    SetField(&p.Computer, value);
  } else if (name == L"USER") {
    SetField(&p.User, value);
  } else if (name == L"CATEGORY") {
    SetField(&p.Category, value);
  } else if (name == L"CASESENSITIVE") {
    SetCase(rule, value);
  }
}

}  // namespace

std::optional<std::wstring> CNtEventRules::ReadRuleFile(const std::wstring& path) {
  std::string bytes;
  if (!ReadBytes(path, &bytes)) return std::nullopt;
  const size_t file_bytes = bytes.size();
  Encoding encoding = TakeByteOrderMark(&bytes);
  // A mark is bytes of the file: a file holding only a mark is not empty, and
  // goes on to fail in both formats.
  const bool marked = bytes.size() != file_bytes;
  if (bytes.empty()) return marked ? std::optional<std::wstring>(std::wstring()) : std::nullopt;
  if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE) return FromUtf16(bytes, encoding == Encoding::Utf16BE);

  // Read in blocks of 1024 bytes; a block holding a zero byte gives only the
  // bytes before it. The whole text is converted at once, so a character split
  // between two blocks survives.
  std::string text_bytes = TextModeBytes(bytes);
  if (text_bytes.empty()) return marked ? std::optional<std::wstring>(std::wstring()) : std::nullopt;
  std::string kept;
  kept.reserve(text_bytes.size());
  for (size_t block = 0; block < text_bytes.size(); block += 1024) {
    std::string_view part = std::string_view(text_bytes).substr(block, 1024);
    kept.append(part.substr(0, part.find('\0')));
  }
  return FromCodePage(encoding == Encoding::Utf8 ? CP_UTF8 : CP_THREAD_ACP, kept);
}

bool CNtEventRules::FlattenRuleXML(const std::wstring& text, std::vector<RuleElement>* elements, std::wstring* errors) {
  size_t start = text.find_first_not_of(L" \t\n\r");
  if (start == std::wstring::npos) start = text.size();
  // UTF-16LE bytes with the terminating zero unit.
  std::vector<unsigned char> bytes;
  bytes.reserve((text.size() - start + 1) * 2);
  for (size_t i = start; i <= text.size(); ++i) {
    wchar_t c = i < text.size() ? text[i] : L'\0';
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>((c >> 8) & 0xFF));
  }

  XmlDocument document;
  document.ApplyRuleFileSettings();
  if (!document.Parse(bytes.data(), bytes.size())) {
    std::u16string tag;
    std::u16string message;
    uint32_t position = 0;
    uint32_t line = 0;
    document.GetParseError(tag, position, line, message);
    std::wstring formatted;
    if (!FormatW(&formatted, L"Malformed XML. Parsing error at line %d, tag = <%s>, error = <%s>.", static_cast<int>(line),
                 Wide(tag).c_str(), Wide(message).c_str()))
      formatted.clear();
    constexpr size_t kMaxMessage = 10000 - 1;  // a buffer of 10000 with its terminating zero
    if (formatted.size() > kMaxMessage) formatted.resize(kMaxMessage);
    if (errors) *errors = std::move(formatted);
    return false;
  }
  WalkRuleNode(document.Root(), elements);
  return true;
}

bool CNtEventRules::ParseRuleXML(const std::wstring& text, std::wstring_view file_kind, std::wstring* errors) {
  Trace("Enter ParseRuleXML\n");
  std::vector<RuleElement> elements;
  if (!FlattenRuleXML(text, &elements, errors)) {
    Trace("Exit ParseRuleXML from Parse\n");
    return false;
  }
  if (!xmlToNTRule(elements, 0, file_kind == L"INCLUDE" ? kRuleInclude : kRuleExclude, errors)) {
    Trace("Exit ParseRuleXML from xmltoNTEventRule\n");
    return false;
  }
  Trace("Exit ParseRuleXML\n");
  return true;
}

bool CNtEventRules::xmlToNTRule(const std::vector<RuleElement>& elements, size_t start, RuleKind kind,
                                std::wstring* errors) {
  Trace("Entered xmlToNTRule");
  RuleKind current = kind;
  CEventRuleFilter rule;
  const size_t n = elements.size();
  size_t i = start;
  while (i < n) {
    const RuleElement& entry = elements[i];
    if (entry.Name == L"INCLUDE") {
      current = kRuleInclude;
      ++i;
      continue;
    }
    if (entry.Name == L"EXCLUDE") {
      current = kRuleExclude;
      ++i;
      continue;
    }
    if (entry.Name != L"EVENTS" || i + 1 >= n) {
      ++i;
      continue;
    }
    // An EVENTS entry opens a rule that takes every entry up to the next
    // rule opener, or up to an OR that stands right before another EVENTS.
    rule.Reset();
    size_t j = i + 1;
    for (; j < n; ++j) {
      const RuleElement& field = elements[j];
      if (OpensRule(field.Name)) break;
      if (field.Kind == 1 && j + 1 < n && elements[j + 1].Name == L"EVENTS") break;
      TraceText("Element Name is %s", field.Name);
      TraceText("Element Value is %s", field.Value);
      ApplyElement(field, current, &rule);
    }
    if (current == kRuleInclude || current == kRuleExclude) {
      AddRule(rule, current);
      CheckRule(rule, current, errors);
    }
    i = j < n && OpensRule(elements[j].Name) ? j : i + 1;
  }
  return true;
}

bool CNtEventRules::ParseRuleLine(const std::wstring& line, CEventRuleFilter* rule, RuleKind kind, std::wstring*) {
  struct Keyword {
    const wchar_t* text;
    std::wstring PatternSet::*field;
  };
  static const Keyword kKeywords[] = {
      {L"LOG:", &PatternSet::Log},
      {L"TYPE:", &PatternSet::Type},
      {L"COMPUTER:", &PatternSet::Computer},
      {L"EVENTID:", &PatternSet::EventID},
      {L"DESCRIPTION:", &PatternSet::Description},
      {L"SOURCE:", &PatternSet::Source},
      {L"CATEGORY:", &PatternSet::Category},
      {L"USER:", &PatternSet::User},
  };
  const std::wstring upper = Upper(line);
  PatternSet& patterns = kind == kRuleInclude ? rule->IncludePatterns : rule->ExcludePatterns;
  bool recognised = false;
  for (const Keyword& keyword : kKeywords) {
    size_t length = std::wcslen(keyword.text);
    if (upper.compare(0, length, keyword.text) != 0) continue;
    // The character after the colon (normally a blank) is dropped whatever it is.
    std::wstring value = line.size() > length + 1 ? Trim(std::wstring_view(line).substr(length + 1)) : std::wstring();
    SetField(&(patterns.*keyword.field), value);
    recognised = true;
  }
  constexpr std::wstring_view kCase = L"CASESENSITIVE:";
  if (upper.compare(0, kCase.size(), kCase) == 0) {
    if (SetCase(rule, Trim(std::wstring_view(line).substr(kCase.size())))) recognised = true;
  }
  if (upper.find(L"EVENTSTART") != std::wstring::npos || upper.find(L"EVENTEND") != std::wstring::npos) recognised = true;
  return recognised;
}

bool CNtEventRules::LoadRuleLines(std::wstring_view file_kind, const std::wstring& path, std::wstring* errors) {
  const RuleKind kind = file_kind == L"INCLUDE" ? kRuleInclude : kRuleExclude;
  std::wstring text;
  if (!ReadLinesText(path, &text)) {
    if (errors && !FormatW(errors, L"Cannot open file %s\n", path.c_str())) errors->clear();
    return false;
  }
  const std::vector<std::wstring> lines = SplitLines(text);

  // First pass: refuse XML, and find out whether rules come in blocks.
  bool blocks = false;
  for (const std::wstring& line : lines) {
    std::wstring upper = Upper(Trim(line));
    if (upper.compare(0, 5, L"<?XML") == 0) return false;
    if (upper.find(L"EVENTSTART") != std::wstring::npos || upper.find(L"EVENTEND") != std::wstring::npos) blocks = true;
  }

  CEventRuleFilter rule;
  bool recognised = false;
  bool in_block = false;
  for (const std::wstring& raw : lines) {
    std::wstring line = Trim(raw);
    if (line.empty()) continue;
    if (ParseRuleLine(line, &rule, kind, errors)) {
      recognised = true;
    } else {
      Append(errors, L"Cannot parse line %s\n", TrimRight(raw));
    }
    if (!blocks) continue;
    std::wstring upper = Upper(line);
    if (upper.find(L"EVENTSTART") != std::wstring::npos) in_block = true;
    if (upper.find(L"EVENTEND") != std::wstring::npos) {
      if (!in_block && errors) *errors += L"EventEnd does not match with EventStart\n";
      AddRule(rule, kind);
      CheckRule(rule, kind, errors);
      rule.Reset();
      in_block = false;
    }
  }
  if (!blocks) {
    AddRule(rule, kind);
    CheckRule(rule, kind, errors);
  }
  if (!recognised) Append(errors, L"Cannot parse file %s\n", path);
  return recognised;
}

}  // namespace brisel
