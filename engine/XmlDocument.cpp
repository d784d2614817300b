// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/XmlDocument.h"

#include "engine/Text.h"

#include <expat.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

namespace corvane {
namespace xmltree {

// Where a document keeps its nodes and texts: blocks that only grow while the document lives and are
// freed with it, so building a tree costs a few allocations however many nodes it has, and removing a
// subtree is unlinking it.
struct Arena {
    std::vector<std::unique_ptr<char[]>> blocks;
    char* next = nullptr;
    size_t left = 0;
    size_t nextBlockSize;

    explicit Arena(size_t firstBlockSize) : nextBlockSize(std::max<size_t>(firstBlockSize, 1024)) {}

    void* allocate(size_t size, size_t alignment) {
        size_t padding = (alignment - reinterpret_cast<uintptr_t>(next) % alignment) % alignment;
        if (padding + size > left) {
            const size_t blockSize = std::max(nextBlockSize, size + alignment);
            blocks.push_back(std::unique_ptr<char[]>(new char[blockSize]));  // not zeroed: every byte is written before it is read
            next = blocks.back().get();
            left = blockSize;
            nextBlockSize = std::min<size_t>(blockSize * 2, 1 << 20);
            padding = (alignment - reinterpret_cast<uintptr_t>(next) % alignment) % alignment;
        }
        char* at = next + padding;
        next = at + size;
        left -= padding + size;
        return at;
    }

    template <typename T>
    T* make() {
        return new (allocate(sizeof(T), alignof(T))) T{};
    }

    std::string_view copy(std::string_view text) {
        if (text.empty()) return {};
        char* at = static_cast<char*>(allocate(text.size(), 1));
        std::memcpy(at, text.data(), text.size());
        return {at, text.size()};
    }
};

struct AttributeData {
    std::string_view name;
    std::string_view value;
    AttributeData* next = nullptr;
};

struct NodeData {
    XmlNodeKind kind = XmlNodeKind::document;
    std::string_view name;
    std::string_view value;
    NodeData* parent = nullptr;
    NodeData* firstChild = nullptr;
    NodeData* lastChild = nullptr;
    NodeData* previousSibling = nullptr;
    NodeData* nextSibling = nullptr;
    AttributeData* firstAttribute = nullptr;
    AttributeData* lastAttribute = nullptr;

    void append(NodeData* child) {
        child->parent = this;
        child->previousSibling = lastChild;
        if (lastChild) lastChild->nextSibling = child;
        else firstChild = child;
        lastChild = child;
    }

    void appendAttribute(AttributeData* attribute) {
        if (lastAttribute) lastAttribute->next = attribute;
        else firstAttribute = attribute;
        lastAttribute = attribute;
    }
};

}  // namespace xmltree

using xmltree::Arena;
using xmltree::AttributeData;
using xmltree::NodeData;

// ---- Handles ----

std::string_view XmlAttribute::name() const { return attribute_ ? attribute_->name : std::string_view(); }
std::string_view XmlAttribute::value() const { return attribute_ ? attribute_->value : std::string_view(); }
XmlAttribute XmlAttribute::next() const { return attribute_ ? XmlAttribute(attribute_->next, arena_) : XmlAttribute(); }
void XmlAttribute::setValue(std::string_view value) const {
    if (attribute_) attribute_->value = arena_->copy(value);
}

XmlNodeKind XmlNode::kind() const { return node_ ? node_->kind : XmlNodeKind::document; }
bool XmlNode::isElement() const { return node_ && node_->kind == XmlNodeKind::element; }
bool XmlNode::isText() const { return node_ && (node_->kind == XmlNodeKind::text || node_->kind == XmlNodeKind::cdata); }
std::string_view XmlNode::name() const { return node_ ? node_->name : std::string_view(); }
std::string_view XmlNode::value() const { return node_ ? node_->value : std::string_view(); }
XmlNode XmlNode::parent() const { return node_ ? XmlNode(node_->parent, arena_) : XmlNode(); }
XmlNode XmlNode::firstChild() const { return node_ ? XmlNode(node_->firstChild, arena_) : XmlNode(); }
XmlNode XmlNode::lastChild() const { return node_ ? XmlNode(node_->lastChild, arena_) : XmlNode(); }
XmlNode XmlNode::nextSibling() const { return node_ ? XmlNode(node_->nextSibling, arena_) : XmlNode(); }
XmlNode XmlNode::previousSibling() const { return node_ ? XmlNode(node_->previousSibling, arena_) : XmlNode(); }
XmlAttribute XmlNode::firstAttribute() const { return node_ ? XmlAttribute(node_->firstAttribute, arena_) : XmlAttribute(); }

XmlAttribute XmlNode::attribute(std::string_view name) const {
    for (XmlAttribute attribute = firstAttribute(); attribute; attribute = attribute.next())
        if (attribute.name() == name) return attribute;
    return {};
}

XmlAttribute XmlNode::appendAttribute(std::string_view name, std::string_view value) const {
    if (!node_) return {};
    AttributeData* attribute = arena_->make<AttributeData>();
    attribute->name = arena_->copy(name);
    attribute->value = arena_->copy(value);
    node_->appendAttribute(attribute);
    return {attribute, arena_};
}

XmlNode XmlNode::appendElement(std::string_view name) const {
    if (!node_) return {};
    NodeData* element = arena_->make<NodeData>();
    element->kind = XmlNodeKind::element;
    element->name = arena_->copy(name);
    node_->append(element);
    return {element, arena_};
}

void XmlNode::setText(std::string_view text) const {
    if (!node_) return;
    // The old subtree stays in the arena, unreachable, until the document goes: no walk over it.
    for (NodeData* child = node_->firstChild; child; child = child->nextSibling) child->parent = nullptr;
    node_->firstChild = node_->lastChild = nullptr;
    if (text.empty()) return;
    NodeData* node = arena_->make<NodeData>();
    node->kind = XmlNodeKind::text;
    node->value = arena_->copy(text);
    node_->append(node);
}

// ---- Parsing ----

namespace {

// What the builder learnt while expat ran: the refusal that stopped it, if any.
struct Refusal {
    int code;
    std::string cause;
    XML_Size line;
    XML_Size column;
};

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isAllSpace(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isXmlSpace);
}

// Text in `encoding` as UTF-8; the text unchanged when it cannot be converted.
std::string convertToUtf8(std::string_view text, const std::string& encoding) {
    const iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPointer = out.data();
    size_t outLeft = out.size();
    const size_t result = iconv(converter, &in, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1)) return std::string(text);
    out.resize(out.size() - outLeft);
    return out;
}

// How ASCII characters stand in the bytes: one byte each, or two (UTF-16, recognised by its byte-order
// mark or by its first character "<"), so that raw markup can be found in them.
struct RawForm {
    size_t width = 1;
    bool bigEndian = false;
    std::string iconvName;  // the encoding to convert raw text from; empty for UTF-8 and ASCII

    static RawForm of(std::string_view bytes) {
        RawForm form;
        if (bytes.size() >= 2) {
            const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
            if ((b0 == 0xFF && b1 == 0xFE) || (b0 == '<' && b1 == 0)) form = {2, false, "UTF-16LE"};
            if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0 && b1 == '<')) form = {2, true, "UTF-16BE"};
        }
        return form;
    }

    // Whether the ASCII text stands in the bytes at `index`.
    bool matches(std::string_view bytes, size_t index, std::string_view ascii) const {
        if (index + ascii.size() * width > bytes.size()) return false;
        for (size_t i = 0; i < ascii.size(); ++i) {
            const size_t at = index + i * width;
            if (width == 1 && bytes[at] != ascii[i]) return false;
            if (width == 2 && (bytes[at + (bigEndian ? 1 : 0)] != ascii[i] || bytes[at + (bigEndian ? 0 : 1)] != 0)) return false;
        }
        return true;
    }

    // The last place before `end` where the ASCII text stands; npos when there is none.
    size_t findBackwards(std::string_view bytes, size_t end, std::string_view ascii) const {
        for (size_t index = std::min(end, bytes.size()); index-- > 0;)
            if (matches(bytes, index, ascii)) return index;
        return std::string_view::npos;
    }
};

struct Builder {
    XML_Parser parser = nullptr;
    std::string_view bytes;
    Arena* arena = nullptr;
    NodeData* current = nullptr;  // the element (or the document) that receives children
    size_t maxDepth = 0;
    size_t depth = 0;
    std::string pendingText;  // text since the last piece of markup; becomes a node when markup follows
    bool pendingIsWritten = false;  // it holds a character reference: written on purpose, not layout
    RawForm raw;
    bool inCdata = false;
    std::optional<Refusal> refusal;
    std::string declaredEncoding;
    NodeData* declaration = nullptr;
    XML_Index doctypeStart = -1;
    NodeData* doctype = nullptr;

    NodeData* append(XmlNodeKind kind) {
        NodeData* node = arena->make<NodeData>();
        node->kind = kind;
        current->append(node);
        return node;
    }

    // Text between two pieces of markup becomes one node, unless it is only white space there to lay
    // the document out (the serialised form lays it out anew); a blank written as "&#32;" is content.
    void flushText() {
        if (pendingText.empty()) return;
        if (pendingIsWritten || !isAllSpace(pendingText)) append(XmlNodeKind::text)->value = arena->copy(pendingText);
        pendingText.clear();
        pendingIsWritten = false;
    }

    void refuse(int code, std::string cause) {
        if (refusal) return;
        refusal = Refusal{code, std::move(cause), XML_GetCurrentLineNumber(parser), XML_GetCurrentColumnNumber(parser)};
        XML_StopParser(parser, XML_FALSE);
    }
};

Builder& builderOf(void* data) { return *static_cast<Builder*>(data); }

void XMLCALL onStartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    Builder& b = builderOf(data);
    if (++b.depth > b.maxDepth) {
        b.refuse(XmlDocument::nestingTooDeepCode, "elements nested deeper than " + std::to_string(b.maxDepth) + " levels");
        return;
    }
    b.flushText();
    NodeData* element = b.append(XmlNodeKind::element);
    element->name = b.arena->copy(name);
    // Only the attributes written in the document: none that a document type's defaults would add.
    const int specified = XML_GetSpecifiedAttributeCount(b.parser);
    for (int i = 0; i + 1 < specified && attributes[i]; i += 2) {
        AttributeData* attribute = b.arena->make<AttributeData>();
        attribute->name = b.arena->copy(attributes[i]);
        attribute->value = b.arena->copy(attributes[i + 1]);
        element->appendAttribute(attribute);
    }
    b.current = element;
}

void XMLCALL onEndElement(void* data, const XML_Char*) {
    Builder& b = builderOf(data);
    b.flushText();
    --b.depth;
    b.current = b.current->parent;
}

void XMLCALL onCharacterData(void* data, const XML_Char* text, int length) {
    Builder& b = builderOf(data);
    b.pendingText.append(text, static_cast<size_t>(length));
    const XML_Index at = XML_GetCurrentByteIndex(b.parser);
    if (!b.pendingIsWritten && at >= 0 && b.raw.matches(b.bytes, static_cast<size_t>(at), "&")) b.pendingIsWritten = true;
}

void XMLCALL onStartCdata(void* data) {
    Builder& b = builderOf(data);
    b.flushText();
    b.inCdata = true;
}

void XMLCALL onEndCdata(void* data) {
    Builder& b = builderOf(data);
    b.append(XmlNodeKind::cdata)->value = b.arena->copy(b.pendingText);
    b.pendingText.clear();
    b.inCdata = false;
}

void XMLCALL onComment(void* data, const XML_Char* text) {
    Builder& b = builderOf(data);
    b.flushText();
    b.append(XmlNodeKind::comment)->value = b.arena->copy(text);
}

void XMLCALL onProcessingInstruction(void* data, const XML_Char* target, const XML_Char* text) {
    Builder& b = builderOf(data);
    b.flushText();
    NodeData* node = b.append(XmlNodeKind::processingInstruction);
    node->name = b.arena->copy(target);
    node->value = b.arena->copy(text ? text : "");
}

void XMLCALL onXmlDeclaration(void* data, const XML_Char* version, const XML_Char* encoding, int standalone) {
    Builder& b = builderOf(data);
    NodeData* node = b.append(XmlNodeKind::declaration);
    node->name = "xml";
    const auto add = [&](std::string_view name, std::string_view value) {
        AttributeData* attribute = b.arena->make<AttributeData>();
        attribute->name = name;
        attribute->value = b.arena->copy(value);
        node->appendAttribute(attribute);
    };
    if (version) add("version", version);
    if (encoding) {
        b.declaredEncoding = encoding;
        // The tree holds UTF-8 whatever the bytes were, and serialize writes UTF-8: a declaration
        // still naming the old encoding would make every later reader decode the written bytes wrongly.
        add("encoding", equalsIgnoringAsciiCase(encoding, "UTF-8") ? std::string_view(encoding) : std::string_view("UTF-8"));
    }
    if (standalone >= 0) add("standalone", standalone ? "yes" : "no");
    b.declaration = node;
}

void XMLCALL onStartDoctype(void* data, const XML_Char*, const XML_Char* systemId, const XML_Char*, int) {
    Builder& b = builderOf(data);
    // An external definition may declare entities this pass cannot see; expat then lets undefined
    // entities in attribute values pass, and a rewrite would change them.
    if (systemId) {
        b.refuse(XmlDocument::externalDocumentTypeCode, "document type refers to an external definition");
        return;
    }
    b.flushText();
    // expat reports the document type once its name is read: its text starts at the "<!DOCTYPE" before.
    const XML_Index at = XML_GetCurrentByteIndex(b.parser);
    const size_t start = at < 0 ? std::string_view::npos : b.raw.findBackwards(b.bytes, static_cast<size_t>(at) + 1, "<!DOCTYPE");
    b.doctypeStart = start == std::string_view::npos ? -1 : static_cast<XML_Index>(start);
    b.doctype = b.append(XmlNodeKind::doctype);
}

void XMLCALL onEndDoctype(void* data) {
    Builder& b = builderOf(data);
    if (!b.doctype || b.doctypeStart < 0) return;
    const XML_Index end = XML_GetCurrentByteIndex(b.parser) + XML_GetCurrentByteCount(b.parser);
    if (end <= b.doctypeStart || static_cast<size_t>(end) > b.bytes.size()) return;
    // The document type as written, between "<!DOCTYPE" and its closing ">", in UTF-8.
    std::string text(b.bytes.substr(static_cast<size_t>(b.doctypeStart), static_cast<size_t>(end - b.doctypeStart)));
    const std::string& encoding = b.raw.iconvName.empty() ? b.declaredEncoding : b.raw.iconvName;
    if (!encoding.empty() && !equalsIgnoringAsciiCase(encoding, "UTF-8") && !equalsIgnoringAsciiCase(encoding, "US-ASCII"))
        text = convertToUtf8(text, encoding);
    std::string_view inside = text;
    if (inside.starts_with("<!DOCTYPE")) inside.remove_prefix(9);
    if (inside.ends_with(">")) inside.remove_suffix(1);
    while (!inside.empty() && isXmlSpace(inside.front())) inside.remove_prefix(1);
    b.doctype->value = b.arena->copy(inside);
}

// The tree keeps entity references as text, so a rewrite would turn "&me;" into "&amp;me;".
void XMLCALL onEntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*) {
    builderOf(data).refuse(XmlDocument::entityDeclaredCode, "document type declares an entity");
}

// Reported instead of an error when the document type has parameter entity references.
void XMLCALL onSkippedEntity(void* data, const XML_Char*, int) {
    builderOf(data).refuse(XML_ERROR_UNDEFINED_ENTITY, XML_ErrorString(XML_ERROR_UNDEFINED_ENTITY));
}

// Describes a declared encoding that takes one byte per character (windows-1252, ISO-8859-15, KOI8-R)
// through iconv, so such sidecars are read like any other. Multi-byte encodings, and encodings that do
// not keep ASCII where XML's markup needs it, stay unknown.
int XMLCALL describeSingleByteEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    const iconv_t converter = iconv_open("UTF-32LE", name);
    if (converter == reinterpret_cast<iconv_t>(-1)) return XML_STATUS_ERROR;
    const std::unique_ptr<void, int (*)(iconv_t)> closer(converter, iconv_close);
    for (int byte = 0; byte < 256; ++byte) {
        char in = static_cast<char>(byte);
        unsigned char out[8] = {};
        char* inPointer = &in;
        char* outPointer = reinterpret_cast<char*>(out);
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<size_t>(-1)) {
            if (errno == EINVAL) return XML_STATUS_ERROR;  // the first byte of a longer sequence
            info->map[byte] = -1;
            continue;
        }
        if (sizeof out - outLeft != 4) return XML_STATUS_ERROR;
        const uint32_t scalar = out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24;
        if (byte < 0x80 && scalar != static_cast<uint32_t>(byte)) return XML_STATUS_ERROR;
        if (scalar > 0xFFFF) return XML_STATUS_ERROR;
        info->map[byte] = static_cast<int>(scalar);
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

// expat salts its hash tables against crafted names that all collide; left to itself it asks the kernel
// for a fresh salt for every document, a system call per sidecar. One random salt per process protects
// as well: nobody outside the process learns it.
unsigned long hashSalt() {
    static const unsigned long salt = [] {
        std::random_device source;
        const unsigned long value = (static_cast<unsigned long>(source()) << 31) ^ source();
        return value == 0 ? 1UL : value;  // 0 would mean "no salt given"
    }();
    return salt;
}

std::string position(XML_Size line, XML_Size column) {
    // expat counts columns from 0; editors and xmllint count from 1.
    return " (line " + std::to_string(line) + ", column " + std::to_string(column + 1) + ")";
}

// One parser per thread, reset for every document: creating one costs more than the parse of a
// small sidecar.
XML_Parser threadParser() {
    struct Owner {
        XML_Parser parser = XML_ParserCreate(nullptr);
        ~Owner() {
            if (parser) XML_ParserFree(parser);
        }
    };
    thread_local Owner owner;
    if (owner.parser && XML_ParserReset(owner.parser, nullptr) != XML_TRUE) {
        XML_ParserFree(owner.parser);
        owner.parser = XML_ParserCreate(nullptr);
    }
    return owner.parser;
}

}  // namespace

XmlDocument::XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

XmlNode XmlDocument::root() const { return XmlNode(root_, arena_.get()); }

XmlNode XmlDocument::documentElement() const {
    for (XmlNode node = root().firstChild(); node; node = node.nextSibling())
        if (node.isElement()) return node;
    return {};
}

Expected<XmlDocument> XmlDocument::parse(std::string_view bytes, size_t maxDepth) {
    const XML_Parser parser = threadParser();
    if (!parser) return Error{"XML", XML_ERROR_NO_MEMORY, "XML parse error: out of memory"};
    XmlDocument document;
    // Nodes and texts of a sidecar take about as much as its bytes; one block usually holds them all.
    document.arena_ = std::make_unique<Arena>(bytes.size() * 3 + 4096);
    document.root_ = document.arena_->make<NodeData>();

    Builder builder;
    builder.parser = parser;
    builder.bytes = bytes;
    builder.arena = document.arena_.get();
    builder.current = document.root_;
    builder.maxDepth = maxDepth;
    builder.raw = RawForm::of(bytes);

    XML_SetHashSalt(parser, hashSalt());
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, onStartElement, onEndElement);
    XML_SetCharacterDataHandler(parser, onCharacterData);
    XML_SetCdataSectionHandler(parser, onStartCdata, onEndCdata);
    XML_SetCommentHandler(parser, onComment);
    XML_SetProcessingInstructionHandler(parser, onProcessingInstruction);
    XML_SetXmlDeclHandler(parser, onXmlDeclaration);
    XML_SetDoctypeDeclHandler(parser, onStartDoctype, onEndDoctype);
    XML_SetEntityDeclHandler(parser, onEntityDeclaration);
    XML_SetSkippedEntityHandler(parser, onSkippedEntity);
    XML_SetUnknownEncodingHandler(parser, describeSingleByteEncoding, nullptr);

    // XML_Parse takes an int length; sidecars are far smaller, but feed large inputs in pieces anyway.
    constexpr size_t piece = 1 << 24;
    XML_Status status = XML_STATUS_OK;
    size_t offset = 0;
    do {
        const size_t length = std::min(piece, bytes.size() - offset);
        const bool last = offset + length == bytes.size();
        status = XML_Parse(parser, bytes.data() + offset, static_cast<int>(length), last);
        offset += length;
    } while (status == XML_STATUS_OK && offset < bytes.size());

    if (builder.refusal) {
        if (builder.refusal->code == nestingTooDeepCode) return Error{"XML", nestingTooDeepCode, "XML parse error: " + builder.refusal->cause};
        return Error{"XML", builder.refusal->code,
                     "XML parse error: " + builder.refusal->cause + position(builder.refusal->line, builder.refusal->column)};
    }
    if (status != XML_STATUS_OK) {
        const XML_Error error = XML_GetErrorCode(parser);
        return Error{"XML", static_cast<int>(error),
                     std::string("XML parse error: ") + XML_ErrorString(error) +
                         position(XML_GetCurrentLineNumber(parser), XML_GetCurrentColumnNumber(parser))};
    }
    builder.flushText();
    return document;
}

// ---- Serialising ----

namespace {

// Collects the text up to a limit and only counts past it.
class BoundedOutput {
public:
    explicit BoundedOutput(uint64_t limit) : limit_(limit) {}

    void write(std::string_view piece) {
        size_ += piece.size();
        if (size_ <= limit_) {
            text_.append(piece);
        } else if (!text_.empty()) {
            std::string().swap(text_);  // over the limit: give the memory back at once
        }
    }
    void write(char c) { write(std::string_view(&c, 1)); }

    XmlDocument::BoundedText result() && {
        if (size_ > limit_) return {std::nullopt, size_};
        return {std::move(text_), size_};
    }

    void reserve(size_t size) { text_.reserve(std::min<uint64_t>(size, limit_)); }

private:
    uint64_t limit_;
    uint64_t size_ = 0;
    std::string text_;
};

// Escapes markup characters: in text "&", "<", ">" and a carriage return (written raw, it would read
// back as a line feed); in an attribute value "&", "<", the double quote and every control character (a
// raw line break there would read back as a blank). Text that is all white space is written as
// references, so that it reads back as content rather than as layout.
void writeEscaped(BoundedOutput& out, std::string_view text, bool inAttribute) {
    const bool allSpace = !inAttribute && isAllSpace(text);
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool special = inAttribute ? (c == '&' || c == '<' || c == '"' || c < 32)
                                         : (c == '&' || c == '<' || c == '>' || c == '\r' || (c < 32 && c != '\t' && c != '\n') ||
                                            allSpace);
        if (!special) continue;
        out.write(text.substr(start, i - start));
        start = i + 1;
        switch (c) {
            case '&': out.write("&amp;"); break;
            case '<': out.write("&lt;"); break;
            case '>': out.write("&gt;"); break;
            case '"': out.write("&quot;"); break;
            default: {
                const char reference[] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
                out.write(std::string_view(reference, sizeof reference));
            }
        }
    }
    out.write(text.substr(start));
}

void writeAttributes(BoundedOutput& out, const NodeData& node) {
    for (const AttributeData* attribute = node.firstAttribute; attribute; attribute = attribute->next) {
        out.write(' ');
        out.write(attribute->name);
        out.write("=\"");
        writeEscaped(out, attribute->value, true);
        out.write('"');
    }
}

// A node that is not an element, text or the document: written on a line of its own.
void writeSimple(BoundedOutput& out, const NodeData& node) {
    switch (node.kind) {
        case XmlNodeKind::comment:
            out.write("<!--");
            out.write(node.value);
            out.write("-->");
            break;
        case XmlNodeKind::processingInstruction:
            out.write("<?");
            out.write(node.name);
            if (!node.value.empty()) {
                out.write(' ');
                out.write(node.value);
            }
            out.write("?>");
            break;
        case XmlNodeKind::declaration:
            out.write("<?xml");
            writeAttributes(out, node);
            out.write("?>");
            break;
        case XmlNodeKind::doctype:
            out.write("<!DOCTYPE");
            if (!node.value.empty()) {
                out.write(' ');
                out.write(node.value);
            }
            out.write('>');
            break;
        default: break;
    }
}

// The deepest nesting the indented layout is used for: a parsed document is never deeper.
constexpr size_t maxIndentedDepth = 256;

// True when some element lies more than `limit` levels below the document node (the root element is
// at level 1). Stops at the first one.
bool nestsDeeperThan(const NodeData* root, size_t limit) {
    size_t level = 1;
    for (const NodeData* node = root->firstChild; node;) {
        if (level > limit && node->kind == XmlNodeKind::element) return true;
        if (node->firstChild) {
            node = node->firstChild;
            ++level;
            continue;
        }
        while (node && !node->nextSibling) {
            node = node->parent;
            --level;
        }
        if (node) node = node->nextSibling;
    }
    return false;
}

}  // namespace

XmlDocument::BoundedText XmlDocument::serialize(uint64_t limit) const {
    BoundedOutput out(limit);
    // A tree built deeper in memory than any parsed document can be is written without layout, so that
    // its text stays proportional to it instead of growing with the square of its depth.
    const bool layout = !nestsDeeperThan(root_, maxIndentedDepth);
    constexpr std::string_view indent = "  ";
    // Before the next node: a line break, and the indentation of its level. Text cancels both, so an
    // element whose content starts with text keeps it on its line, and so does what follows the text.
    bool lineBreak = false, indentNext = true;
    size_t depth = 0;
    const auto startLine = [&] {
        if (!layout) return;
        if (lineBreak) out.write('\n');
        if (indentNext)
            for (size_t level = 0; level < depth; ++level) out.write(indent);
    };

    const NodeData* node = root_->firstChild;
    while (node) {
        bool descend = false;
        if (node->kind == XmlNodeKind::text) {
            writeEscaped(out, node->value, false);
            lineBreak = indentNext = false;
        } else if (node->kind == XmlNodeKind::cdata) {
            out.write("<![CDATA[");
            out.write(node->value);
            out.write("]]>");
            lineBreak = indentNext = false;
        } else {
            startLine();
            lineBreak = indentNext = true;
            if (node->kind == XmlNodeKind::element) {
                out.write('<');
                out.write(node->name);
                writeAttributes(out, *node);
                if (node->firstChild) {
                    out.write('>');
                    descend = true;
                } else {
                    out.write(layout ? " />" : "/>");
                }
            } else {
                writeSimple(out, *node);
            }
        }
        if (descend) {
            node = node->firstChild;
            ++depth;
            continue;
        }
        // On to the next node in document order, closing the elements left on the way up.
        while (node && !node->nextSibling) {
            node = node->parent;
            if (!node || node == root_) {
                node = nullptr;
                break;
            }
            --depth;
            startLine();
            out.write("</");
            out.write(node->name);
            out.write('>');
            lineBreak = indentNext = true;
        }
        if (node) node = node->nextSibling;
    }
    if (lineBreak && layout) out.write('\n');
    return std::move(out).result();
}

std::string XmlDocument::serialize() const { return *serialize(UINT64_MAX).text; }

}  // namespace corvane
