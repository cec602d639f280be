#include "xml/xml.h"

#include <utility>

#include "xml/xml_chars.h"
#include "xml/xml_internal.h"

namespace {

// Resolution for nodes that belong to no document: the predefined entities only.
const XmlDocument& DetachedDocument() {
    static const XmlDocument document;
    return document;
}

const XmlDocument& DocumentOf(const XmlNode& node) {
    return node.Document() ? *node.Document() : DetachedDocument();
}

bool ContributesText(uint32_t type) {
    return type == XmlType::Text || type == XmlType::CData || type == XmlType::Element;
}

}  // namespace

namespace xmlinternal {

std::size_t ReferenceLength(const char16_t* p, const char16_t* e) {
    const char16_t* q = p + 1;
    if (q >= e) return 0;
    if (*q == u'#') {
        ++q;
        bool hex = q < e && *q == u'x';
        if (hex) ++q;
        const char16_t* digits = q;
        while (q < e && (hex ? xmlchars::IsHexDigit(*q) : xmlchars::IsDigit(*q))) ++q;
        if (q == digits) return 0;
    } else {
        if (!xmlchars::IsNameStart(*q)) return 0;
        while (q < e && xmlchars::IsNameChar(*q)) ++q;
    }
    if (q >= e || *q != u';') return 0;
    return static_cast<std::size_t>(q + 1 - p);
}

std::u16string RepeatedAttributeMessage(std::u16string_view name) {
    return xmlchars::Format(u"Attributes must be unique (Rule 40). An attribute named \"%s\" was repeated.", {name});
}

std::u16string CheckAttribute(const XmlNode& node, std::u16string_view name, std::u16string_view value) {
    if (node.FindAttribute(name)) return RepeatedAttributeMessage(name);
    return CheckAttributeValue(name, value);
}

std::u16string CheckAttributeValue(std::u16string_view name, std::u16string_view value) {
    const char16_t* e = value.data() + value.size();
    for (const char16_t* p = value.data(); p < e; ++p) {
        if (*p == u'<')
            return xmlchars::Format(
                u"Attribute values cannot contain a '<' (Rule 41). Offending attribute is named named \"%s\"",
                {name});
        if (*p == u'&' && ReferenceLength(p, e) == 0)
            return xmlchars::Format(
                u"Attribute values cannot contain a '&' (Rule 41). Offending attribute is named named \"%s\"",
                {name});
    }
    return {};
}

}  // namespace xmlinternal

void XmlNode::Deleter::operator()(XmlNode* node) const {
    if (node->pooled_)
        node->~XmlNode();
    else
        delete node;
}

void* xmldetail::NodePool::Allocate() {
    std::size_t block = used_ / kBlockNodes;
    if (block == blocks_.size()) blocks_.push_back(std::unique_ptr<Slot[]>(new Slot[kBlockNodes]));  // not zeroed
    return &blocks_[block][used_++ % kBlockNodes];
}

XmlNode::XmlNode(XmlDocument* document, uint32_t type, std::u16string name)
    : document_(document), type_(type >= 7 ? XmlType::Undetermined : type), name_(std::move(name)) {}

XmlNode::~XmlNode() {
    if (children_.empty()) return;
    // Release the subtree without recursion: a deep tree must not exhaust the stack.
    std::vector<Owned> pending;
    for (auto& child : children_) pending.push_back(std::move(child));
    children_.clear();
    while (!pending.empty()) {
        Owned node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_) pending.push_back(std::move(child));
        node->children_.clear();
    }
}

bool XmlNode::GetFirstChild(std::size_t& pos) const {
    pos = 0;
    return !children_.empty();
}

bool XmlNode::GetNextChild(std::size_t& pos, XmlNode*& child) const {
    if (pos >= children_.size()) {
        child = nullptr;
        return false;
    }
    child = children_[pos++].get();
    return true;
}

bool XmlNode::GetFirstAttribute(std::size_t& pos) const {
    pos = 0;
    return !attributes_.empty();
}

bool XmlNode::GetNextAttribute(std::size_t& pos, const XmlAttribute*& attribute) const {
    if (pos >= attributes_.size()) {
        attribute = nullptr;
        return false;
    }
    attribute = &attributes_[pos++];
    return true;
}

XmlNode* XmlNode::Child(std::size_t index) const {
    return index < children_.size() ? children_[index].get() : nullptr;
}

const XmlAttribute* XmlNode::Attribute(std::size_t index) const {
    return index < attributes_.size() ? &attributes_[index] : nullptr;
}

const std::u16string* XmlNode::FindAttribute(std::u16string_view name) const {
    for (const auto& a : attributes_)
        if (a.name == name) return &a.value;
    return nullptr;
}

std::u16string XmlNode::Text() const {
    std::u16string out;
    auto appendOwn = [&out](const XmlNode& node) {
        if (node.type_ == XmlType::Text)
            out += DocumentOf(node).ResolveReferences(node.value_);
        else
            out += node.value_;
    };
    appendOwn(*this);
    if (children_.empty()) return out;
    // Depth-first walk with an explicit stack.
    std::vector<std::pair<const XmlNode*, std::size_t>> stack;
    stack.emplace_back(this, 0);
    while (!stack.empty()) {
        const XmlNode* node = stack.back().first;
        std::size_t index = stack.back().second;
        if (index >= node->children_.size()) {
            stack.pop_back();
            continue;
        }
        stack.back().second = index + 1;
        const XmlNode* child = node->children_[index].get();
        if (!ContributesText(child->type_)) continue;
        appendOwn(*child);
        if (!child->children_.empty()) stack.emplace_back(child, 0);
    }
    return out;
}

std::u16string XmlNode::AttributeText(std::size_t index) const {
    if (index >= attributes_.size()) return {};
    std::u16string normalised = attributes_[index].value;
    for (char16_t& c : normalised)
        if (c == u'\t' || c == u'\n' || c == u'\r') c = u' ';
    return DocumentOf(*this).ResolveReferences(normalised);
}

bool XmlNode::AddAttribute(std::u16string name, std::u16string value) {
    std::u16string refusal = xmlinternal::CheckAttribute(*this, name, value);
    if (!refusal.empty()) {
        if (document_) document_->SetError(std::move(refusal), name_, position_, line_);
        return false;
    }
    attributes_.push_back(XmlAttribute{std::move(name), std::move(value)});
    return true;
}

XmlNode* XmlNode::AddChild(std::unique_ptr<XmlNode> child) {
    if (!child) return nullptr;
    child->parent_ = this;
    if (!child->document_) child->document_ = document_;
    children_.push_back(Owned(child.release()));
    return children_.back().get();
}

bool XmlNode::RemoveChild(XmlNode* child) {
    for (auto it = children_.begin(); it != children_.end(); ++it) {
        if (it->get() == child) {
            children_.erase(it);
            return true;
        }
    }
    return false;
}

std::size_t XmlNode::RemoveAttributes(std::u16string_view name) {
    std::size_t before = attributes_.size();
    std::erase_if(attributes_, [name](const XmlAttribute& a) { return a.name == name; });
    return before - attributes_.size();
}

void XmlNode::RemoveAll() {
    attributes_.clear();
    std::vector<Owned> doomed = std::move(children_);
    children_.clear();
    // each child's destructor releases its own subtree iteratively
}

std::u16string XmlNode::Escape(std::u16string_view text) const {
    const auto& entities = DocumentOf(*this).Entities();
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        const std::u16string* reference = nullptr;
        if (c == u'&' || c == u'"' || c == u'<' || c == u'>' || c == u'\'') {
            for (const auto& entity : entities) {
                if (!entity.external && entity.text.size() == 1 && entity.text[0] == c &&
                    entity.reference[0] == u'&') {
                    reference = &entity.reference;
                    break;
                }
            }
        }
        if (reference)
            out += *reference;
        else
            out.push_back(c);
    }
    return out;
}
