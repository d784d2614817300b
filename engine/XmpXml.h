// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"
#include "engine/XmlDocument.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The document operations on a sidecar. Names are compared as written (prefix, colon, local name);
// namespaces are not resolved. A simple property may be a child element of the GPS element or, as RDF
// allows and Exiv2 writes GPS properties, an attribute of it; both forms are read and written alike.
// Stateless; every operation is safe to call concurrently on different documents. Searches are
// iterative, so a deeply nested document cannot exhaust the stack.
class XMPXML {
public:
    XMPXML() = delete;

    // The GPS property names, in the order the engine reads them.
    static constexpr std::array<std::string_view, 8> gpsPropertyNames = {
        "exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef", "exif:GPSLongitudeRef",
        "GPSLatitude",      "GPSLongitude",      "GPSLatitudeRef",      "GPSLongitudeRef"};

    // The deepest element nesting that load accepts (the root element is at depth 1). Sidecars nest a
    // dozen levels at most; the limit keeps the indented output of a rewrite small (indentation grows
    // with the square of the depth) and is the default limit of libxml2.
    static constexpr size_t maxDepth = 256;
    // The error code of a document refused for nesting deeper than maxDepth (the parser's own codes
    // are below 100).
    static constexpr int nestingTooDeepCode = XmlDocument::nestingTooDeepCode;

    // A sidecar's document from its bytes: XmlDocument::parse with the nesting limit of maxDepth.
    // Comments, processing instructions (the xpacket wrapper) and the declaration are kept so that a
    // rewrite loses nothing. Fails with domain "XML" and a message beginning "XML parse error: " that
    // names the cause, line and column, or the nesting limit.
    static Expected<XmlDocument> load(std::string_view bytes);

    // The element that holds (or is to hold) the GPS properties: the first element in document order
    // with a child or an attribute whose name contains "GPSLatitude" or "GPSLongitude"; else the first
    // element whose name contains "Description"; else none.
    static std::optional<XmlNode> findGPSElement(const XmlDocument& document);

    // The trimmed text of the first child named `name` or its local name; when there is no such child,
    // the trimmed value of the first attribute so named; none when there is neither.
    static std::optional<std::string> getPropertyValue(std::string_view name, XmlNode element);

    // Replaces the content of the matching child with one text node, or else the value of the matching
    // attribute (it stays an attribute). Without either, creates the property in the form the
    // element's GPS properties have: an attribute on an element that keeps them all as attributes, else
    // a new last child element. A new "exif:" property whose prefix is declared nowhere in scope
    // declares the exif namespace itself, so that the document stays namespace-well-formed. Never fails.
    static void setPropertyValue(std::string_view value, std::string_view name, XmlNode element);

    // Another copy of the property beside the one getPropertyValue reads: the first other attribute,
    // else the first other child element, of `element` whose local name (the text after the last ':')
    // equals that of `name`, such as exif:GPSLatitude="..." beside <exif:GPSLatitude>, or
    // <ns2:GPSLatitude>. Setting the property beside such a copy would leave it two values.
    struct PropertyCopy {
        std::string name;
        bool isAttribute = false;
    };
    static std::optional<PropertyCopy> findOtherCopy(std::string_view name, XmlNode element);

    // Diagnostic listings of an element and its children.
    static void dumpElement(XmlNode element, std::string_view label);
    static void dumpChildElements(XmlNode element);

    // The concatenation of all text below the node (its string value).
    static std::string stringValue(XmlNode node);
};

// True when the element has a child or an attribute whose name is a GPS property name or contains "GPS".
bool hasGPSData(XmlNode element);

}  // namespace corvane
