// Non-validating XML 1.0 parser: a byte buffer in, a tree of XmlNode out.
// Pure component: standard library only, text in UTF-16 code units.
//
// Reading a rule file:
//
//     XmlDocument doc;
//     doc.ApplyRuleFileSettings();            // options 0x1A, numbers 1, 0, 2, format 0x80
//     if (!doc.Parse(utf16le, bytes)) {        // bytes include the terminating zero unit
//         std::u16string tag, message;
//         uint32_t column, line;
//         doc.GetParseError(tag, column, line, message);
//         ...
//     }
//     const XmlNode* root = doc.Root();        // the XML declaration (or the default one)
//     std::size_t pos;
//     XmlNode* child;
//     if (root->GetFirstChild(pos))
//         while (root->GetNextChild(pos, child))
//             if (child->Type() == XmlType::Element)
//                 Use(child->Name(), child->Text());   // Text(): all character data inside
//
// Nodes are owned by their parent and live as long as the document (or until the
// next Parse). A document belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class XmlDocument;
class XmlParser;

// Node types.
namespace XmlType {
inline constexpr uint32_t Undetermined = 0;
inline constexpr uint32_t ProcessingInstruction = 1;  // also the XML declaration
inline constexpr uint32_t Comment = 2;
inline constexpr uint32_t CData = 3;
inline constexpr uint32_t Element = 4;
inline constexpr uint32_t Text = 5;
inline constexpr uint32_t Declaration = 6;  // DOCTYPE, ENTITY and the other DTD declarations
}  // namespace XmlType

// Bits of XmlDocument::Options().
namespace XmlOption {
inline constexpr uint32_t AnyCaseDeclaration = 0x01;  // accept "<?XML" and other case mixes
inline constexpr uint32_t ResolveEntities = 0x02;     // declared entities are recognised, not only the five predefined
inline constexpr uint32_t DropWhiteSpaceText = 0x08;  // drop white-space-only text even when 0x80 is set
inline constexpr uint32_t DeclarationOptional = 0x10;
inline constexpr uint32_t SingleElement = 0x20;       // at most one top-level element
inline constexpr uint32_t CommentFlag = 0x40;         // accepted, no effect
inline constexpr uint32_t KeepWhiteSpaceText = 0x80;  // keep white-space-only text (unless 0x08)
}  // namespace XmlOption

// Bits of XmlDocument::FormatOptions().
namespace XmlFormat {
inline constexpr uint32_t Utf16 = 0x04;      // document reports its encoding as "UTF-16"
inline constexpr uint32_t BigEndian = 0x08;  // FE FF byte order mark when written as UTF-16
inline constexpr uint32_t Default = 0x80;
}  // namespace XmlFormat

// The settings rule files are parsed with.
inline constexpr uint32_t kXmlRuleFileOptions = 0x1A;
inline constexpr uint32_t kXmlRuleFileFormatOptions = 0x80;
inline constexpr uint32_t kXmlRuleFileNumbers[3] = {1, 0, 2};

struct XmlAttribute {
    std::u16string name;
    std::u16string value;  // as written, references unresolved
};

struct XmlEntity {
    std::u16string text;       // replacement text
    std::u16string reference;  // "&name;" for general, "%name;" for parameter entities
    bool external = false;     // declared with SYSTEM or PUBLIC: never resolved
};

class XmlNode {
public:
    explicit XmlNode(XmlDocument* document = nullptr, uint32_t type = XmlType::Undetermined,
                     std::u16string name = {});
    ~XmlNode();
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    // Enumeration: GetFirstChild sets pos to 0 and says whether there are children;
    // GetNextChild hands out the child at pos and advances pos, or gives nullptr and false.
    bool GetFirstChild(std::size_t& pos) const;
    bool GetNextChild(std::size_t& pos, XmlNode*& child) const;
    bool GetFirstAttribute(std::size_t& pos) const;
    bool GetNextAttribute(std::size_t& pos, const XmlAttribute*& attribute) const;

    // Name: the tag of an element, the target of a processing instruction, the keyword
    // of a declaration ("DOCTYPE", "ENTITY", "ELEMENT", ...), empty for text, comments
    // and CDATA sections. Value: the text as written (references unresolved) of a text
    // node, the content of a comment or CDATA section, the data of a processing
    // instruction, the body of a declaration; empty for elements.
    const std::u16string& Name() const { return name_; }
    void SetName(std::u16string name) { name_ = std::move(name); }
    const std::u16string& Value() const { return value_; }
    void SetValue(std::u16string value) { value_ = std::move(value); }
    uint32_t Type() const { return type_; }
    void SetType(uint32_t type) { type_ = type >= 7 ? XmlType::Undetermined : type; }

    // Character data: own value (references of text nodes resolved), then the text of
    // each text, CDATA and element child in order. Comments, processing instructions
    // and declarations contribute nothing to their parent's text.
    std::u16string Text() const;

    // Children and attributes in document order; Child and Attribute give nullptr
    // past the end, FindAttribute nullptr for a name not present.
    std::size_t ChildCount() const { return children_.size(); }
    std::size_t AttributeCount() const { return attributes_.size(); }
    XmlNode* Child(std::size_t index) const;
    const XmlAttribute* Attribute(std::size_t index) const;
    const std::u16string* FindAttribute(std::u16string_view name) const;
    // Attribute value as an application sees it: literal white space becomes a blank,
    // references are resolved (the raw value when one is unknown).
    std::u16string AttributeText(std::size_t index) const;
    XmlNode* Parent() const { return parent_; }
    XmlDocument* Document() const { return document_; }

    // Refuses duplicates, '<' and a '&' that starts no reference; the reason goes to
    // the document's error state.
    bool AddAttribute(std::u16string name, std::u16string value);
    // Takes ownership; the child joins this node's document when it has none.
    XmlNode* AddChild(std::unique_ptr<XmlNode> child);
    // Destroys the child and its subtree; false when it is not a child of this node.
    bool RemoveChild(XmlNode* child);
    std::size_t RemoveAttributes(std::u16string_view name);
    void RemoveAll();

    // Replaces &, ", <, > and ' with their references from the entity table.
    std::u16string Escape(std::u16string_view text) const;

    // Positions recorded by the parser: column (1-based, UTF-16 units) and line (1-based).
    uint32_t Position() const { return position_; }
    uint32_t Line() const { return line_; }
    void SetPositions(uint32_t position, uint32_t line) { position_ = position; line_ = line; }
    uint32_t Flags() const { return flags_; }
    void SetFlags(uint32_t flags) { flags_ = flags; }

private:
    friend class XmlDocument;
    friend class XmlParser;

    // Releases a node: nodes built by a parse live in their document's pool.
    struct Deleter {
        void operator()(XmlNode* node) const;
    };
    using Owned = std::unique_ptr<XmlNode, Deleter>;

    XmlDocument* document_;
    XmlNode* parent_ = nullptr;
    uint32_t type_;
    uint32_t position_ = 0;
    uint32_t line_ = 0;
    uint32_t flags_ = 0;
    bool pooled_ = false;
    std::u16string name_;
    std::u16string value_;
    std::vector<Owned> children_;
    std::vector<XmlAttribute> attributes_;
};

namespace xmldetail {

// Storage for the nodes of one parse, handed out in document order and released
// together: a tree is laid out contiguously and freed in a few blocks.
class NodePool {
public:
    void* Allocate();
    // Only when none of the nodes handed out is alive any more.
    void Reset() { used_ = 0; }

private:
    struct alignas(XmlNode) Slot {
        unsigned char bytes[sizeof(XmlNode)];
    };
    static constexpr std::size_t kBlockNodes = 512;
    std::vector<std::unique_ptr<Slot[]>> blocks_;
    std::size_t used_ = 0;  // slots handed out, across blocks
};

}  // namespace xmldetail

class XmlDocument {
public:
    static constexpr uint32_t kDefaultOptions = 0x10;
    static constexpr uint32_t kDefaultFormatOptions = 0x80;
    static constexpr uint32_t kDefaultCodePage = 65001;
    // Deepest element nesting a parse accepts; an element deeper than this fails the
    // parse with "Internal error: Could not create new element.".
    static constexpr std::size_t kMaxDepth = 1024;
    // Parameter entities may include each other this deep; deeper fails with
    // "Can't parse tricky element (Rule 69).".
    static constexpr std::size_t kMaxEntityNesting = 64;
    // Entity expansion budget of one parse, in UTF-16 units: 100 times the document,
    // at least 4 Mi and at most 16 Mi. Every replacement text copied while parsing
    // (entity values built from other entities, parameter entities read into the
    // DOCTYPE, declared entities referenced from text and attribute values) counts.
    // Beyond it the parse fails with "Ran out of memory allocating for a tricky element.".
    static constexpr std::size_t kExpansionFactor = 100;
    static constexpr std::size_t kMinExpansion = std::size_t{4} << 20;
    static constexpr std::size_t kMaxExpansion = std::size_t{16} << 20;

    using Callback = std::function<bool(XmlNode& node)>;

    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    uint32_t SetOptions(uint32_t options);  // returns the former word
    uint32_t Options() const { return options_; }
    uint32_t SetFormatOptions(uint32_t options);  // returns the former word
    uint32_t FormatOptions() const { return formatOptions_; }
    // Three numbers kept for the caller; they do not change how a document is read.
    void SetNumbers(uint32_t first, uint32_t second, uint32_t third);
    void GetNumbers(uint32_t& first, uint32_t& second, uint32_t& third) const;
    // Options kXmlRuleFileOptions, numbers 1, 0, 2, format options 0x80: no declaration
    // needed, white-space-only text dropped, declared entities resolved.
    void ApplyRuleFileSettings();

    // Parses a whole document: UTF-8 (or the 8-bit code page), UTF-16 either byte
    // order, UTF-32; the text ends at the buffer's end or its first zero unit.
    // Replaces the previous tree and entity table. False on the first error; see
    // GetParseError. Never reads outside [bytes, bytes + count).
    bool Parse(const void* bytes, std::size_t count);

    // Returns the error flag; fills the tag of the node in error, its column,
    // its line and the message.
    bool GetParseError(std::u16string& tag, uint32_t& position, uint32_t& line,
                       std::u16string& message) const;
    bool HasError() const { return error_; }
    const std::u16string& ErrorMessage() const { return errorMessage_; }
    const std::u16string& ErrorTag() const { return errorTag_; }
    uint32_t ErrorPosition() const { return errorPosition_; }
    uint32_t ErrorLine() const { return errorLine_; }

    // The node of the XML declaration (type ProcessingInstruction, name "xml", attributes
    // "version", "encoding", "standalone" as declared); the document's top-level nodes
    // are its children. Without a declaration it carries version "1.0" and standalone
    // "yes". After a failed parse of a declared document it is that default, childless.
    XmlNode* Root() const { return root_.get(); }

    std::u16string Encoding() const;
    const std::u16string& Version() const { return version_; }
    bool Standalone() const { return standalone_; }
    char16_t Separator() const { return separator_; }
    bool SetSeparator(char16_t separator);  // 0 is refused
    uint32_t CodePage() const { return codePage_; }
    // 65001 UTF-8; 1252 and 0 (system ANSI) Windows-1252; 28591 Latin-1; 20127 ASCII.
    void SetCodePage(uint32_t codePage) { codePage_ = codePage; }
    // Called for every node once it is complete (an element after its end tag);
    // returning false aborts the parse.
    void SetCallback(Callback callback) { callback_ = std::move(callback); }

    // Entity table: ordered pairs of text and reference.
    const std::vector<XmlEntity>& Entities() const { return entities_; }
    void ResetEntities();
    // Adds a pair; an already declared reference keeps its first binding (false).
    bool AddEntity(std::u16string text, std::u16string reference, bool external = false);
    // Replacement text of a general reference such as u"&amp;" as text is read:
    // declared entities only with option 0x02. Character references are not in the table.
    const std::u16string* LookupEntity(std::u16string_view reference) const;
    // Replaces every reference of a text value; the raw value when one is unknown.
    std::u16string ResolveReferences(std::u16string_view raw) const;

private:
    friend class XmlNode;
    friend class XmlParser;

    enum class RefResult { Unknown, Resolved, External };
    // Resolves one "&...;" reference (character or general) into out.
    RefResult ResolveReference(std::u16string_view reference, std::u16string& out) const;
    const XmlEntity* FindEntity(std::u16string_view reference) const;
    void SetError(std::u16string message, std::u16string tag = {}, uint32_t position = 0,
                  uint32_t line = 0);
    void ClearError();
    void SetDefaultDeclaration();

    xmldetail::NodePool pool_;  // before root_: outlives every pooled node
    std::unique_ptr<XmlNode> root_;
    uint32_t options_ = kDefaultOptions;
    uint32_t formatOptions_ = kDefaultFormatOptions;
    uint32_t numbers_[3] = {0, 0, 0};
    std::u16string encoding_;
    std::u16string version_;
    bool standalone_ = true;
    char16_t separator_ = u'.';
    uint32_t codePage_ = kDefaultCodePage;

    bool error_ = false;
    uint32_t errorPosition_ = 0;
    uint32_t errorLine_ = 0;
    std::u16string errorTag_;
    std::u16string errorMessage_;

    std::vector<XmlEntity> entities_;
    std::unordered_map<std::u16string, std::size_t> entityIndex_;
    Callback callback_;
};
