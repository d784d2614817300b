// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// A sidecar's XML as a tree of nodes, built by one strict pass of expat over the bytes: a document is
// made only of bytes that are one well-formed XML 1.0 document, and the same pass that checks them
// builds the tree, so no byte is parsed twice.
//
// The tree keeps what a rewrite must not lose: elements with their qualified names exactly as written
// (namespaces are not resolved: "exif:GPSLatitude" is a name like any other) and their attributes in
// document order, text, CDATA sections, comments, processing instructions (the xpacket wrapper), the
// XML declaration and the document type. Text that is only white space between two pieces of markup is
// dropped; the serialised form indents the document anew. All texts are UTF-8, whatever encoding the
// bytes were in.
//
// Nodes and attributes are small handles into the document. A handle stays valid as long as its
// document lives and the node is not removed; a document is movable, not copyable. Documents are
// independent of each other: different threads may work on different documents at once.

enum class XmlNodeKind { document, element, text, cdata, comment, processingInstruction, declaration, doctype };

namespace xmltree {
struct NodeData;
struct AttributeData;
struct Arena;
}  // namespace xmltree

// One attribute of an element or of the XML declaration: its name as written and its value (entity
// and character references replaced, white space normalised as XML prescribes).
class XmlAttribute {
public:
    XmlAttribute() = default;
    explicit operator bool() const { return attribute_ != nullptr; }

    std::string_view name() const;
    std::string_view value() const;
    XmlAttribute next() const;

    // Gives the attribute a new value; its name and place stay.
    void setValue(std::string_view value) const;

    friend bool operator==(const XmlAttribute& a, const XmlAttribute& b) { return a.attribute_ == b.attribute_; }

private:
    friend class XmlNode;
    XmlAttribute(xmltree::AttributeData* attribute, xmltree::Arena* arena) : attribute_(attribute), arena_(arena) {}

    xmltree::AttributeData* attribute_ = nullptr;
    xmltree::Arena* arena_ = nullptr;
};

// One node of a document; a default-made handle is null and every question on it answers "nothing".
class XmlNode {
public:
    XmlNode() = default;
    explicit operator bool() const { return node_ != nullptr; }

    XmlNodeKind kind() const;
    bool isElement() const;
    // Text or CDATA.
    bool isText() const;

    // An element's qualified name, a processing instruction's target ("xpacket"), "xml" for the
    // declaration; empty for other nodes.
    std::string_view name() const;
    // The content of a text, CDATA section, comment or processing instruction (without its target),
    // the inside of a document type after "<!DOCTYPE "; empty for elements.
    std::string_view value() const;

    XmlNode parent() const;
    XmlNode firstChild() const;
    XmlNode lastChild() const;
    XmlNode nextSibling() const;
    XmlNode previousSibling() const;

    XmlAttribute firstAttribute() const;
    // The first attribute with exactly this name; null when there is none.
    XmlAttribute attribute(std::string_view name) const;

    // Appends an attribute after the element's others and returns it. The caller makes sure that the
    // name is not there yet.
    XmlAttribute appendAttribute(std::string_view name, std::string_view value) const;
    // Appends a new, empty element as the last child and returns it.
    XmlNode appendElement(std::string_view name) const;
    // Replaces everything below the element with one text node holding `text` (none when it is empty).
    void setText(std::string_view text) const;

    friend bool operator==(const XmlNode& a, const XmlNode& b) { return a.node_ == b.node_; }

private:
    friend class XmlDocument;
    XmlNode(xmltree::NodeData* node, xmltree::Arena* arena) : node_(node), arena_(arena) {}

    xmltree::NodeData* node_ = nullptr;
    xmltree::Arena* arena_ = nullptr;
};

class XmlDocument {
public:
    // Parses the bytes of one well-formed XML 1.0 document, in UTF-8, UTF-16, ISO-8859-1, US-ASCII or a
    // declared encoding of one byte per character (windows-1252, ISO-8859-15, ...). Refused as well, so
    // that nothing in a document is silently changed by a rewrite: a document type that declares an
    // entity or refers to an external definition, and elements nested deeper than `maxDepth` (the root
    // element is at depth 1). A declaration that names another encoding than UTF-8 names UTF-8 in the
    // document, the encoding serialize writes.
    // Fails with domain "XML" and "XML parse error: " + the cause + " (line L, column C)" (the column
    // counted from 1); the nesting limit fails with "XML parse error: elements nested deeper than N
    // levels" and the code nestingTooDeepCode.
    static Expected<XmlDocument> parse(std::string_view bytes, size_t maxDepth);

    // Codes of refusals that are not expat's own (expat's are below 100).
    static constexpr int nestingTooDeepCode = 100;
    static constexpr int entityDeclaredCode = 101;
    static constexpr int externalDocumentTypeCode = 102;

    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    ~XmlDocument();

    // The document node, parent of the declaration, the root element and what stands around it.
    XmlNode root() const;
    // The root element; null only for a document that has none (parse never makes one).
    XmlNode documentElement() const;

    // The document as indented UTF-8 text without a byte-order mark: every element, comment and
    // processing instruction on a line of its own, two blanks per level; an element whose content
    // starts with text keeps that content on its line; attributes in double quotes. A tree nested
    // deeper than 256 levels (built in memory; a parse allows no more) is written without line breaks
    // and indentation. Serialising a parsed, unchanged document and parsing the text again gives the
    // same tree.
    std::string serialize() const;

    // The same text when it takes at most `limit` bytes; beyond that only its size, and no more than
    // `limit` bytes are ever held.
    struct BoundedText {
        std::optional<std::string> text;  // absent when the text is larger than the limit
        uint64_t size = 0;                // the size of the whole text in bytes
    };
    BoundedText serialize(uint64_t limit) const;

private:
    XmlDocument();
    std::unique_ptr<xmltree::Arena> arena_;
    xmltree::NodeData* root_ = nullptr;
};

}  // namespace corvane
