// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/XmpXml.h"

#include "engine/Diagnostics.h"
#include "engine/Text.h"
#include "engine/XmpXmlCheck.h"

#include <limits>

namespace corvane {
namespace {

constexpr unsigned parseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                  pugi::parse_declaration | pugi::parse_doctype;

bool isElement(pugi::xml_node node) { return node.type() == pugi::node_element; }

// The next element after `node` in document order (pre-order), staying below `root`; no recursion.
pugi::xml_node nextElementInDocumentOrder(pugi::xml_node node, pugi::xml_node root) {
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (isElement(child)) return child;
    while (node && node != root) {
        for (pugi::xml_node sibling = node.next_sibling(); sibling; sibling = sibling.next_sibling())
            if (isElement(sibling)) return sibling;
        node = node.parent();
    }
    return {};
}

bool nameHasGPSFragment(std::string_view name) {
    // "GPSLatitudeRef" and "GPSLongitudeRef" contain the first two fragments, so these two decide.
    return name.find("GPSLatitude") != std::string_view::npos || name.find("GPSLongitude") != std::string_view::npos;
}

bool hasChildWithGPSName(pugi::xml_node element) {
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (isElement(child) && nameHasGPSFragment(child.name())) return true;
    return false;
}

pugi::xml_node findElementContainingGPS(pugi::xml_node root) {
    for (pugi::xml_node node = root; node; node = nextElementInDocumentOrder(node, root))
        if (hasChildWithGPSName(node)) return node;
    return {};
}

pugi::xml_node findDescriptionElement(pugi::xml_node root) {
    for (pugi::xml_node node = root; node; node = nextElementInDocumentOrder(node, root))
        if (std::string_view(node.name()).find("Description") != std::string_view::npos) return node;
    return {};
}

// The text after the last ':' (the whole name when it has none).
std::string_view localNameOf(std::string_view name) {
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first direct child named `name` or its local name.
pugi::xml_node matchingChild(std::string_view name, pugi::xml_node element) {
    const std::string_view localName = localNameOf(name);
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
        const std::string_view childName = child.name();
        if (childName == name || childName == localName) return child;
    }
    return {};
}

constexpr const char* exifNamespace = "http://ns.adobe.com/exif/1.0/";

// True when `element` or one of its ancestors carries the attribute `declaration` ("xmlns:exif").
bool declaresPrefixInScope(pugi::xml_node element, const char* declaration) {
    for (pugi::xml_node node = element; node; node = node.parent())
        if (node.attribute(declaration)) return true;
    return false;
}

bool isText(pugi::xml_node node) {
    const pugi::xml_node_type type = node.type();
    return type == pugi::node_pcdata || type == pugi::node_cdata;
}

// The text XMPXML::stringValue gives for an element, without a copy when the element holds only one
// piece of text (as nearly every property does); otherwise it is built in `scratch`.
std::string_view elementText(pugi::xml_node element, std::string& scratch) {
    const pugi::xml_node first = element.first_child();
    if (!first) return {};
    if (isText(first) && !first.next_sibling()) return first.value();
    scratch = XMPXML::stringValue(element);
    return scratch;
}

std::string_view nameOrUnnamed(pugi::xml_node node) {
    const std::string_view name = node.name();
    return name.empty() ? std::string_view("unnamed") : name;
}

// True when some element lies more than `limit` levels below the document (the root element is at
// level 1). Walks without recursion and stops at the first element too deep.
bool nestsDeeperThan(const pugi::xml_document& document, size_t limit) {
    size_t depth = 1;
    for (pugi::xml_node current = document.first_child(); current;) {
        if (depth > limit && isElement(current)) return true;
        if (current.first_child()) {
            current = current.first_child();
            ++depth;
            continue;
        }
        while (!current.next_sibling()) {
            current = current.parent();
            --depth;
            if (current == document) return false;
        }
        current = current.next_sibling();
    }
    return false;
}

// Removes every node below `element`, leaves first. pugixml frees a subtree recursively, so removing
// a deep subtree in one call could exhaust the stack; removing only leaves never recurses.
void removeContent(pugi::xml_node element) {
    pugi::xml_node current = element.first_child();
    while (current) {
        if (pugi::xml_node child = current.first_child()) {
            current = child;
            continue;
        }
        pugi::xml_node parent = current.parent();
        parent.remove_child(current);
        current = parent == element ? element.first_child() : parent;
    }
}

}  // namespace

Expected<XmlDocument> XMPXML::load(std::string_view bytes) {
    // pugixml reads much that is not well-formed XML (a bare "&", a duplicate attribute, text after the
    // root) and a rewrite would then change or drop it; only what the strict check accepts is read.
    if (Status wellFormed = checkWellFormedXml(bytes, maxDepth); !wellFormed) return wellFormed.error();
    auto document = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result result =
        document->load_buffer(bytes.data(), bytes.size(), parseOptions, pugi::encoding_auto);
    if (!result) {
        return Error{"XML", static_cast<int>(result.status),
                     std::string("XML parse error: ") + result.description() + " at byte offset " +
                         std::to_string(result.offset)};
    }
    if (result.encoding != pugi::encoding_utf8) {
        // The DOM holds UTF-8 whatever the bytes were (UTF-16, Latin-1), and serialize writes UTF-8. A
        // declaration still naming the old encoding would make every later reader decode the written
        // bytes wrongly, so it names UTF-8 from now on.
        for (pugi::xml_node node = document->first_child(); node; node = node.next_sibling())
            if (node.type() == pugi::node_declaration)
                if (pugi::xml_attribute encoding = node.attribute("encoding")) encoding.set_value("UTF-8");
    }
    return XmlDocument(std::move(document));
}

namespace {

// Keeps the text up to a limit and only counts past it.
class BoundedWriter : public pugi::xml_writer {
public:
    explicit BoundedWriter(uint64_t limit) : limit_(limit) {}

    void write(const void* data, size_t size) override {
        size_ += size;
        if (size_ <= limit_) {
            text_.append(static_cast<const char*>(data), size);
        } else if (!text_.empty()) {
            std::string().swap(text_);  // over the limit: give the memory back at once
        }
    }

    XMPXML::BoundedText result() && {
        if (size_ > limit_) return {std::nullopt, size_};
        return {std::move(text_), size_};
    }

private:
    uint64_t limit_;
    uint64_t size_ = 0;
    std::string text_;
};

}  // namespace

XMPXML::BoundedText XMPXML::serialize(const pugi::xml_document& document, uint64_t limit) {
    BoundedWriter writer(limit);
    const unsigned layout = nestsDeeperThan(document, maxDepth) ? pugi::format_raw : pugi::format_indent;
    document.save(writer, "  ", layout | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(writer).result();
}

std::string XMPXML::serialize(const pugi::xml_document& document) {
    return *serialize(document, std::numeric_limits<uint64_t>::max()).text;
}

std::string XMPXML::stringValue(pugi::xml_node node) {
    std::string value;
    if (isText(node)) return node.value();
    for (pugi::xml_node current = node.first_child(); current;) {
        if (isText(current)) value += current.value();
        // Pre-order walk below `node` without recursion.
        if (current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current && current != node && !current.next_sibling()) current = current.parent();
        if (!current || current == node) break;
        current = current.next_sibling();
    }
    return value;
}

std::optional<pugi::xml_node> XMPXML::findGPSElement(const pugi::xml_document& document) {
    const pugi::xml_node root = document.document_element();
    if (root) {
        if (pugi::xml_node found = findElementContainingGPS(root)) {
            Diagnostics::line("[DEBUG] XMPXML: Found element containing GPS data");
            dumpElement(found, "GPS Container");
            return found;
        }
        if (pugi::xml_node found = findDescriptionElement(root)) {
            Diagnostics::line("[DEBUG] XMPXML: Using first Description-like element as fallback");
            dumpElement(found, "Fallback Description");
            return found;
        }
    }
    Diagnostics::line("[DEBUG] XMPXML: No suitable element found");
    return std::nullopt;
}

std::optional<std::string> XMPXML::getPropertyValue(std::string_view name, pugi::xml_node element) {
    Diagnostics::line("[DEBUG] XMPXML: Looking for '", name, "' in element");
    if (pugi::xml_node child = matchingChild(name, element)) {
        std::string scratch;
        std::string value(trim(elementText(child, scratch)));
        Diagnostics::line("[DEBUG] XMPXML: Found '", name, "' = '", value, "' via exact match '", child.name(), "'");
        return value;
    }
    Diagnostics::line("[DEBUG] XMPXML: Could not find '", name, "' in element");
    dumpChildElements(element);
    return std::nullopt;
}

void XMPXML::setPropertyValue(std::string_view value, std::string_view name, pugi::xml_node element) {
    Diagnostics::line("[DEBUG] XMPXML: Setting '", name, "' = '", value, "'");
    const std::string text(value);
    if (pugi::xml_node child = matchingChild(name, element)) {
        removeContent(child);
        child.append_child(pugi::node_pcdata).set_value(text.c_str());
        Diagnostics::line("[DEBUG] XMPXML: Updated existing element '", child.name(), "'");
        return;
    }
    pugi::xml_node created = element.append_child(std::string(name).c_str());
    if (name.starts_with("exif:") && !declaresPrefixInScope(element, "xmlns:exif"))
        created.append_attribute("xmlns:exif").set_value(exifNamespace);
    created.append_child(pugi::node_pcdata).set_value(text.c_str());
    Diagnostics::line("[DEBUG] XMPXML: Created new element '", name, "'");
}

std::optional<XMPXML::PropertyCopy> XMPXML::findOtherCopy(std::string_view name, pugi::xml_node element) {
    const std::string_view localName = localNameOf(name);
    for (pugi::xml_attribute attribute = element.first_attribute(); attribute; attribute = attribute.next_attribute())
        if (localNameOf(attribute.name()) == localName) return PropertyCopy{attribute.name(), true};
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (isElement(child) && localNameOf(child.name()) == localName) return PropertyCopy{child.name(), false};
    return std::nullopt;
}

void XMPXML::dumpElement(pugi::xml_node element, std::string_view label) {
    if (!Diagnostics::enabled()) return;
    Diagnostics::line("[DEBUG] XMPXML: ", label, " contents:");
    const std::string_view name = element.name();
    Diagnostics::line("[DEBUG]   Element name: ", name.empty() ? std::string_view("nil") : name);
    size_t count = 0;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) ++count;
    Diagnostics::line("[DEBUG]   Children count: ", count);
    size_t position = 0;
    std::string scratch;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling(), ++position) {
        if (!isElement(child)) continue;
        Diagnostics::line("[DEBUG]     [", position, "] ", nameOrUnnamed(child), " = '", trim(elementText(child, scratch)), "'");
    }
}

void XMPXML::dumpChildElements(pugi::xml_node element) {
    if (!Diagnostics::enabled()) return;
    Diagnostics::line("[DEBUG] XMPXML: All child elements:");
    size_t position = 0;
    std::string scratch;
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling(), ++position) {
        if (!isElement(child)) continue;
        Diagnostics::line("[DEBUG]   [", position, "] '", nameOrUnnamed(child), "' = '", trim(elementText(child, scratch)), "'");
    }
}

bool hasGPSData(pugi::xml_node element) {
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling()) {
        if (!isElement(child)) continue;
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
