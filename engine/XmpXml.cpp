// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/XmpXml.h"

#include "engine/Diagnostics.h"
#include "engine/Text.h"

namespace corvane {
namespace {

// The next element after `node` in document order (pre-order), staying below `root`; no recursion.
XmlNode nextElementInDocumentOrder(XmlNode node, XmlNode root) {
    for (XmlNode child = node.firstChild(); child; child = child.nextSibling())
        if (child.isElement()) return child;
    while (node && node != root) {
        for (XmlNode sibling = node.nextSibling(); sibling; sibling = sibling.nextSibling())
            if (sibling.isElement()) return sibling;
        node = node.parent();
    }
    return {};
}

bool nameHasGPSFragment(std::string_view name) {
    // "GPSLatitudeRef" and "GPSLongitudeRef" contain the first two fragments, so these two decide.
    return name.find("GPSLatitude") != std::string_view::npos || name.find("GPSLongitude") != std::string_view::npos;
}

bool hasChildWithGPSName(XmlNode element) {
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling())
        if (child.isElement() && nameHasGPSFragment(child.name())) return true;
    return false;
}

XmlNode findElementContainingGPS(XmlNode root) {
    for (XmlNode node = root; node; node = nextElementInDocumentOrder(node, root))
        if (hasChildWithGPSName(node)) return node;
    return {};
}

XmlNode findDescriptionElement(XmlNode root) {
    for (XmlNode node = root; node; node = nextElementInDocumentOrder(node, root))
        if (std::string_view(node.name()).find("Description") != std::string_view::npos) return node;
    return {};
}

// The text after the last ':' (the whole name when it has none).
std::string_view localNameOf(std::string_view name) {
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first direct child named `name` or its local name.
XmlNode matchingChild(std::string_view name, XmlNode element) {
    const std::string_view localName = localNameOf(name);
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) {
        if (!child.isElement()) continue;
        const std::string_view childName = child.name();
        if (childName == name || childName == localName) return child;
    }
    return {};
}

constexpr const char* exifNamespace = "http://ns.adobe.com/exif/1.0/";

// True when `element` or one of its ancestors carries the attribute `declaration` ("xmlns:exif").
bool declaresPrefixInScope(XmlNode element, std::string_view declaration) {
    for (XmlNode node = element; node; node = node.parent())
        if (node.attribute(declaration)) return true;
    return false;
}

// The text XMPXML::stringValue gives for an element, without a copy when the element holds only one
// piece of text (as nearly every property does); otherwise it is built in `scratch`.
std::string_view elementText(XmlNode element, std::string& scratch) {
    const XmlNode first = element.firstChild();
    if (!first) return {};
    if (first.isText() && !first.nextSibling()) return first.value();
    scratch = XMPXML::stringValue(element);
    return scratch;
}

std::string_view nameOrUnnamed(XmlNode node) {
    const std::string_view name = node.name();
    return name.empty() ? std::string_view("unnamed") : name;
}

}  // namespace

Expected<XmlDocument> XMPXML::load(std::string_view bytes) { return XmlDocument::parse(bytes, maxDepth); }

std::string XMPXML::stringValue(XmlNode node) {
    std::string value;
    if (node.isText()) return std::string(node.value());
    for (XmlNode current = node.firstChild(); current;) {
        if (current.isText()) value += current.value();
        // Pre-order walk below `node` without recursion.
        if (current.firstChild()) {
            current = current.firstChild();
            continue;
        }
        while (current && current != node && !current.nextSibling()) current = current.parent();
        if (!current || current == node) break;
        current = current.nextSibling();
    }
    return value;
}

std::optional<XmlNode> XMPXML::findGPSElement(const XmlDocument& document) {
    const XmlNode root = document.documentElement();
    if (root) {
        if (XmlNode found = findElementContainingGPS(root)) {
            Diagnostics::line("[DEBUG] XMPXML: Found element containing GPS data");
            dumpElement(found, "GPS Container");
            return found;
        }
        if (XmlNode found = findDescriptionElement(root)) {
            Diagnostics::line("[DEBUG] XMPXML: Using first Description-like element as fallback");
            dumpElement(found, "Fallback Description");
            return found;
        }
    }
    Diagnostics::line("[DEBUG] XMPXML: No suitable element found");
    return std::nullopt;
}

std::optional<std::string> XMPXML::getPropertyValue(std::string_view name, XmlNode element) {
    Diagnostics::line("[DEBUG] XMPXML: Looking for '", name, "' in element");
    if (XmlNode child = matchingChild(name, element)) {
        std::string scratch;
        std::string value(trim(elementText(child, scratch)));
        Diagnostics::line("[DEBUG] XMPXML: Found '", name, "' = '", value, "' via exact match '", child.name(), "'");
        return value;
    }
    Diagnostics::line("[DEBUG] XMPXML: Could not find '", name, "' in element");
    dumpChildElements(element);
    return std::nullopt;
}

void XMPXML::setPropertyValue(std::string_view value, std::string_view name, XmlNode element) {
    Diagnostics::line("[DEBUG] XMPXML: Setting '", name, "' = '", value, "'");
    if (XmlNode child = matchingChild(name, element)) {
        child.setText(value);
        Diagnostics::line("[DEBUG] XMPXML: Updated existing element '", child.name(), "'");
        return;
    }
    const XmlNode created = element.appendElement(name);
    if (name.starts_with("exif:") && !declaresPrefixInScope(element, "xmlns:exif")) created.appendAttribute("xmlns:exif", exifNamespace);
    created.setText(value);
    Diagnostics::line("[DEBUG] XMPXML: Created new element '", name, "'");
}

std::optional<XMPXML::PropertyCopy> XMPXML::findOtherCopy(std::string_view name, XmlNode element) {
    const std::string_view localName = localNameOf(name);
    for (XmlAttribute attribute = element.firstAttribute(); attribute; attribute = attribute.next())
        if (localNameOf(attribute.name()) == localName) return PropertyCopy{std::string(attribute.name()), true};
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling())
        if (child.isElement() && localNameOf(child.name()) == localName) return PropertyCopy{std::string(child.name()), false};
    return std::nullopt;
}

void XMPXML::dumpElement(XmlNode element, std::string_view label) {
    if (!Diagnostics::enabled()) return;
    Diagnostics::line("[DEBUG] XMPXML: ", label, " contents:");
    const std::string_view name = element.name();
    Diagnostics::line("[DEBUG]   Element name: ", name.empty() ? std::string_view("nil") : name);
    size_t count = 0;
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) ++count;
    Diagnostics::line("[DEBUG]   Children count: ", count);
    size_t position = 0;
    std::string scratch;
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling(), ++position) {
        if (!child.isElement()) continue;
        Diagnostics::line("[DEBUG]     [", position, "] ", nameOrUnnamed(child), " = '", trim(elementText(child, scratch)), "'");
    }
}

void XMPXML::dumpChildElements(XmlNode element) {
    if (!Diagnostics::enabled()) return;
    Diagnostics::line("[DEBUG] XMPXML: All child elements:");
    size_t position = 0;
    std::string scratch;
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling(), ++position) {
        if (!child.isElement()) continue;
        Diagnostics::line("[DEBUG]   [", position, "] '", nameOrUnnamed(child), "' = '", trim(elementText(child, scratch)), "'");
    }
}

bool hasGPSData(XmlNode element) {
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) {
        if (!child.isElement()) continue;
        const std::string_view name = child.name();
        if (name.empty()) continue;
        bool listed = false;
        for (std::string_view property : XMPXML::gpsPropertyNames) listed = listed || name == property;
        if (listed || name.find("GPS") != std::string_view::npos) {
            Diagnostics::line("[DEBUG] Found GPS  ", name);
            return true;
        }
    }
    Diagnostics::line("[DEBUG] No GPS data found in XMP");
    return false;
}

}  // namespace corvane
