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

// The name of a property that has to do with GPS ("exif:GPSAltitude"); every GPS property name is one.
bool isGPSName(std::string_view name) { return name.find("GPS") != std::string_view::npos; }

bool nameHasGPSFragment(std::string_view name) {
    // "GPSLatitudeRef" and "GPSLongitudeRef" contain the first two fragments, so these two decide.
    return name.find("GPSLatitude") != std::string_view::npos || name.find("GPSLongitude") != std::string_view::npos;
}

// A namespace declaration ("xmlns:exif") is an attribute of the document, never a property.
bool isPropertyAttribute(XmlAttribute attribute) {
    const std::string_view name = attribute.name();
    return name != "xmlns" && !name.starts_with("xmlns:");
}

// True when the element holds a latitude or longitude property, as a child element or as an attribute:
// RDF lets a simple property be written either way, and Exiv2 writes GPS properties as attributes.
bool holdsGPSProperty(XmlNode element) {
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling())
        if (child.isElement() && nameHasGPSFragment(child.name())) return true;
    for (XmlAttribute attribute = element.firstAttribute(); attribute; attribute = attribute.next())
        if (isPropertyAttribute(attribute) && nameHasGPSFragment(attribute.name())) return true;
    return false;
}

XmlNode findElementContainingGPS(XmlNode root) {
    for (XmlNode node = root; node; node = nextElementInDocumentOrder(node, root))
        if (holdsGPSProperty(node)) return node;
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

// The first attribute named `name` or its local name: the property when no child holds it.
XmlAttribute matchingAttribute(std::string_view name, XmlNode element) {
    const std::string_view localName = localNameOf(name);
    for (XmlAttribute attribute = element.firstAttribute(); attribute; attribute = attribute.next())
        if (attribute.name() == name || attribute.name() == localName) return attribute;
    return {};
}

// Whether the element keeps its GPS properties as attributes (as Exiv2 writes them): it has some, and
// no GPS property as a child element. A property created there takes the same form.
bool keepsGPSAsAttributes(XmlNode element) {
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling())
        if (child.isElement() && isGPSName(child.name())) return false;
    for (XmlAttribute attribute = element.firstAttribute(); attribute; attribute = attribute.next())
        if (isPropertyAttribute(attribute) && isGPSName(attribute.name())) return true;
    return false;
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
    if (XmlAttribute attribute = matchingAttribute(name, element)) {
        std::string value(trim(attribute.value()));
        Diagnostics::line("[DEBUG] XMPXML: Found '", name, "' = '", value, "' via attribute '", attribute.name(), "'");
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
    if (XmlAttribute attribute = matchingAttribute(name, element)) {
        attribute.setValue(value);
        Diagnostics::line("[DEBUG] XMPXML: Updated existing attribute '", attribute.name(), "'");
        return;
    }
    const bool needsDeclaration = name.starts_with("exif:") && !declaresPrefixInScope(element, "xmlns:exif");
    if (keepsGPSAsAttributes(element)) {
        if (needsDeclaration) element.appendAttribute("xmlns:exif", exifNamespace);
        element.appendAttribute(name, value);
        Diagnostics::line("[DEBUG] XMPXML: Created new attribute '", name, "'");
        return;
    }
    const XmlNode created = element.appendElement(name);
    if (needsDeclaration) created.appendAttribute("xmlns:exif", exifNamespace);
    created.setText(value);
    Diagnostics::line("[DEBUG] XMPXML: Created new element '", name, "'");
}

std::optional<XMPXML::PropertyCopy> XMPXML::findOtherCopy(std::string_view name, XmlNode element) {
    const std::string_view localName = localNameOf(name);
    // The copy that getPropertyValue reads and setPropertyValue sets, if there is one.
    const XmlNode child = matchingChild(name, element);
    const XmlAttribute attribute = child ? XmlAttribute() : matchingAttribute(name, element);
    for (XmlAttribute other = element.firstAttribute(); other; other = other.next()) {
        if (other != attribute && isPropertyAttribute(other) && localNameOf(other.name()) == localName)
            return PropertyCopy{std::string(other.name()), true};
    }
    for (XmlNode other = element.firstChild(); other; other = other.nextSibling()) {
        if (other != child && other.isElement() && localNameOf(other.name()) == localName)
            return PropertyCopy{std::string(other.name()), false};
    }
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
    // Every name of XMPXML::gpsPropertyNames contains "GPS": the one test covers both rules.
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) {
        if (child.isElement() && isGPSName(child.name())) {
            Diagnostics::line("[DEBUG] Found GPS  ", child.name());
            return true;
        }
    }
    for (XmlAttribute attribute = element.firstAttribute(); attribute; attribute = attribute.next()) {
        if (isPropertyAttribute(attribute) && isGPSName(attribute.name())) {
            Diagnostics::line("[DEBUG] Found GPS  ", attribute.name());
            return true;
        }
    }
    Diagnostics::line("[DEBUG] No GPS data found in XMP");
    return false;
}

}  // namespace corvane
