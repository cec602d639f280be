#include <new>

#include "xml/xml.h"
#include "xml/xml_chars.h"

namespace {

constexpr std::u16string_view kPredefined[5][2] = {
    {u"&", u"&amp;"}, {u"'", u"&apos;"}, {u">", u"&gt;"}, {u"<", u"&lt;"}, {u"\"", u"&quot;"}};

bool IsPredefined(std::u16string_view reference) {
    for (const auto& pair : kPredefined)
        if (pair[1] == reference) return true;
    return false;
}

}  // namespace

XmlDocument::XmlDocument() : root_(std::make_unique<XmlNode>(this, XmlType::ProcessingInstruction, u"xml")) {
    ResetEntities();
}

XmlDocument::~XmlDocument() = default;

uint32_t XmlDocument::SetOptions(uint32_t options) {
    uint32_t former = options_;
    options_ = options;
    return former;
}

uint32_t XmlDocument::SetFormatOptions(uint32_t options) {
    uint32_t former = formatOptions_;
    formatOptions_ = options;
    return former;
}

void XmlDocument::SetNumbers(uint32_t first, uint32_t second, uint32_t third) {
    numbers_[0] = first;
    numbers_[1] = second;
    numbers_[2] = third;
}

void XmlDocument::GetNumbers(uint32_t& first, uint32_t& second, uint32_t& third) const {
    first = numbers_[0];
    second = numbers_[1];
    third = numbers_[2];
}

void XmlDocument::ApplyRuleFileSettings() {
    SetOptions(kXmlRuleFileOptions);
    SetNumbers(kXmlRuleFileNumbers[0], kXmlRuleFileNumbers[1], kXmlRuleFileNumbers[2]);
    SetFormatOptions(kXmlRuleFileFormatOptions);
}

bool XmlDocument::GetParseError(std::u16string& tag, uint32_t& position, uint32_t& line,
                                std::u16string& message) const {
    tag = errorTag_;
    position = errorPosition_;
    line = errorLine_;
    message = errorMessage_;
    return error_;
}

std::u16string XmlDocument::Encoding() const {
    if (formatOptions_ & XmlFormat::Utf16) return u"UTF-16";
    return encoding_;
}

bool XmlDocument::SetSeparator(char16_t separator) {
    if (separator == 0) return false;
    separator_ = separator;
    return true;
}

void XmlDocument::ResetEntities() {
    entities_.clear();
    entityIndex_.clear();
    for (const auto& pair : kPredefined) AddEntity(std::u16string(pair[0]), std::u16string(pair[1]));
}

bool XmlDocument::AddEntity(std::u16string text, std::u16string reference, bool external) {
    if (entityIndex_.count(reference)) return false;
    entityIndex_.emplace(reference, entities_.size());
    entities_.push_back(XmlEntity{std::move(text), std::move(reference), external});
    return true;
}

const XmlEntity* XmlDocument::FindEntity(std::u16string_view reference) const {
    auto it = entityIndex_.find(std::u16string(reference));
    return it == entityIndex_.end() ? nullptr : &entities_[it->second];
}

const std::u16string* XmlDocument::LookupEntity(std::u16string_view reference) const {
    if (!(options_ & XmlOption::ResolveEntities) && !IsPredefined(reference)) return nullptr;
    const XmlEntity* entity = FindEntity(reference);
    if (!entity || entity->external) return nullptr;
    return &entity->text;
}

XmlDocument::RefResult XmlDocument::ResolveReference(std::u16string_view reference, std::u16string& out) const {
    if (reference.size() < 3 || reference.front() != u'&' || reference.back() != u';') return RefResult::Unknown;
    if (reference[1] == u'#') {
        uint32_t cp = xmlchars::CharReferenceValue(reference.substr(1, reference.size() - 2));
        if (cp == 0) return RefResult::Unknown;
        xmlchars::AppendCodePoint(out, cp);
        return RefResult::Resolved;
    }
    if (!(options_ & XmlOption::ResolveEntities) && !IsPredefined(reference)) return RefResult::Unknown;
    const XmlEntity* entity = FindEntity(reference);
    if (!entity) return RefResult::Unknown;
    if (entity->external) return RefResult::External;
    out += entity->text;
    return RefResult::Resolved;
}

std::u16string XmlDocument::ResolveReferences(std::u16string_view raw) const {
    std::size_t amp = raw.find(u'&');
    if (amp == std::u16string_view::npos) return std::u16string(raw);
    std::u16string out(raw.substr(0, amp));
    while (amp != std::u16string_view::npos) {
        std::size_t semi = raw.find(u';', amp + 1);
        if (semi == std::u16string_view::npos) return std::u16string(raw);
        if (ResolveReference(raw.substr(amp, semi + 1 - amp), out) != RefResult::Resolved)
            return std::u16string(raw);
        std::size_t next = raw.find(u'&', semi + 1);
        out.append(raw.substr(semi + 1, (next == std::u16string_view::npos ? raw.size() : next) - semi - 1));
        amp = next;
    }
    return out;
}

void XmlDocument::SetError(std::u16string message, std::u16string tag, uint32_t position, uint32_t line) {
    error_ = true;
    errorMessage_ = std::move(message);
    errorTag_ = std::move(tag);
    errorPosition_ = position;
    errorLine_ = line;
}

void XmlDocument::ClearError() {
    error_ = false;
    errorPosition_ = 0;
    errorLine_ = 0;
    errorTag_.clear();
    errorMessage_.clear();
}

void XmlDocument::SetDefaultDeclaration() {
    root_->RemoveAll();
    root_->type_ = XmlType::ProcessingInstruction;
    root_->name_ = u"xml";
    root_->attributes_.push_back(XmlAttribute{u"version", u"1.0"});
    root_->attributes_.push_back(XmlAttribute{u"standalone", u"yes"});
    version_ = u"1.0";
    encoding_.clear();
    standalone_ = true;
}
