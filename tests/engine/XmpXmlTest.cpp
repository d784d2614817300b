#include "tests/support/DiagnosticsCapture.h"
#include "engine/XmpXml.h"
#include "tests/support/SidecarXml.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Lines = std::vector<std::string>;
using test::sidecarXml;

XmlDocument loaded(const std::string& text) {
    auto document = XMPXML::load(text);
    EXPECT_TRUE(document.ok()) << (document.ok() ? "" : document.error().message);
    return document.ok() ? std::move(document).value() : std::make_unique<pugi::xml_document>();
}

// A packet whose rdf:Description holds the given children (and attributes).
std::string packet(const std::string& children, const std::string& attributes = "") {
    return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"" +
           attributes + ">\n" + children +
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n";
}

struct Found {
    std::optional<pugi::xml_node> element;
    Lines lines;
};

Found findIn(const pugi::xml_document& document) {
    DiagnosticsCapture capture;
    auto element = XMPXML::findGPSElement(document);
    return {element, capture.lines()};
}

TEST(FindGPSElement, DescriptionWithGPSChildIsTheContainer) {
    const auto document = loaded(packet("   <exif:GPSLatitude>37.77490000N</exif:GPSLatitude>\n"
                                        "   <exif:GPSLongitude>\n    122.41940000W\n   </exif:GPSLongitude>\n"));
    const Found found = findIn(*document);
    ASSERT_TRUE(found.element.has_value());
    EXPECT_STREQ(found.element->name(), "rdf:Description");
    EXPECT_EQ(found.lines, (Lines{"[DEBUG] XMPXML: Found element containing GPS data",
                                  "[DEBUG] XMPXML: GPS Container contents:", "[DEBUG]   Element name: rdf:Description",
                                  "[DEBUG]   Children count: 2", "[DEBUG]     [0] exif:GPSLatitude = '37.77490000N'",
                                  "[DEBUG]     [1] exif:GPSLongitude = '122.41940000W'"}));
}

TEST(FindGPSElement, FirstDescriptionWithAGPSChildWinsOverAnEarlierOne) {
    const auto document = loaded(
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"r\" xmlns:exif=\"e\" xmlns:xmp=\"x\">"
        "<rdf:Description rdf:about=\"first\"><xmp:Rating>4</xmp:Rating></rdf:Description>"
        "<rdf:Description rdf:about=\"second\"><exif:GPSLongitudeRef>W</exif:GPSLongitudeRef></rdf:Description>"
        "</rdf:RDF></x:xmpmeta>");
    const Found found = findIn(*document);
    ASSERT_TRUE(found.element.has_value());
    EXPECT_STREQ(found.element->attribute("rdf:about").value(), "second");
}

TEST(FindGPSElement, SearchIsDepthFirstInDocumentOrder) {
    // Breadth-first would find <c> (one level higher); document order finds <b> first.
    const auto document = loaded("<root><a><b><exif:GPSLatitude>1</exif:GPSLatitude></b></a>"
                                 "<c><exif:GPSLatitude>2</exif:GPSLatitude></c></root>");
    const Found found = findIn(*document);
    ASSERT_TRUE(found.element.has_value());
    EXPECT_STREQ(found.element->name(), "b");
}

TEST(FindGPSElement, RootItselfQualifies) {
    const auto withGPS = loaded("<root><GPSLongitude>1</GPSLongitude></root>");
    EXPECT_STREQ(findIn(*withGPS).element->name(), "root");
    const auto description = loaded("<myDescription><other>1</other></myDescription>");
    const Found found = findIn(*description);
    ASSERT_TRUE(found.element.has_value());
    EXPECT_STREQ(found.element->name(), "myDescription");
    EXPECT_EQ(found.lines.front(), "[DEBUG] XMPXML: Using first Description-like element as fallback");
}

TEST(FindGPSElement, GPSValuesAsAttributesOnlyFallBackToTheDescription) {
    const auto document = loaded(packet("", " exif:GPSLatitude=\"37.5N\""));
    Found found = findIn(*document);
    ASSERT_TRUE(found.element.has_value());
    EXPECT_EQ(found.lines, (Lines{"[DEBUG] XMPXML: Using first Description-like element as fallback",
                                  "[DEBUG] XMPXML: Fallback Description contents:",
                                  "[DEBUG]   Element name: rdf:Description", "[DEBUG]   Children count: 0"}));
    pugi::xml_node element = *found.element;

    DiagnosticsCapture capture;
    EXPECT_FALSE(hasGPSData(element));
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", element), std::nullopt);
    XMPXML::setPropertyValue("38.00000000N", "exif:GPSLatitude", element);
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] No GPS data found in XMP",
                                      "[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                                      "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element",
                                      "[DEBUG] XMPXML: All child elements:",
                                      "[DEBUG] XMPXML: Setting 'exif:GPSLatitude' = '38.00000000N'",
                                      "[DEBUG] XMPXML: Created new element 'exif:GPSLatitude'"}));
    // The attribute is left as it was, beside the new child element.
    EXPECT_STREQ(element.attribute("exif:GPSLatitude").value(), "37.5N");
    EXPECT_STREQ(element.child("exif:GPSLatitude").text().get(), "38.00000000N");
}

TEST(FindGPSElement, NothingSuitable) {
    const char* documents[] = {
        "<x:xmpmeta><rdf:RDF><rdf:Other><exif:Make>Apple</exif:Make></rdf:Other></rdf:RDF></x:xmpmeta>",
        // The fragments are case-sensitive.
        "<root><exif:gpslatitude>1</exif:gpslatitude><description/></root>",
        // An altitude alone does not make a container.
        "<root><exif:GPSAltitude>12</exif:GPSAltitude></root>",
    };
    for (const char* text : documents) {
        SCOPED_TRACE(text);
        const auto document = loaded(text);
        const Found found = findIn(*document);
        EXPECT_FALSE(found.element.has_value());
        EXPECT_EQ(found.lines, Lines{"[DEBUG] XMPXML: No suitable element found"});
    }
    const pugi::xml_document empty;
    EXPECT_EQ(findIn(empty).lines, Lines{"[DEBUG] XMPXML: No suitable element found"});
}

TEST(HasGPSData, AnyChildNamedWithGPS) {
    struct Case {
        const char* children;
        bool expected;
        const char* line;
    };
    const Case cases[] = {
        {"<exif:GPSLatitude>1</exif:GPSLatitude>", true, "[DEBUG] Found GPS  exif:GPSLatitude"},
        {"<xmp:Rating>4</xmp:Rating><exif:GPSAltitude>12</exif:GPSAltitude>", true, "[DEBUG] Found GPS  exif:GPSAltitude"},
        {"<GPSLongitudeRef>W</GPSLongitudeRef>", true, "[DEBUG] Found GPS  GPSLongitudeRef"},
        {"<xmp:Rating>4</xmp:Rating><!-- GPS --><exif:gps>x</exif:gps>", false, "[DEBUG] No GPS data found in XMP"},
        {"", false, "[DEBUG] No GPS data found in XMP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.children);
        const auto document = loaded(std::string("<e xmlns:exif=\"e\" xmlns:xmp=\"x\">") + c.children + "</e>");
        DiagnosticsCapture capture;
        EXPECT_EQ(hasGPSData(document->document_element()), c.expected);
        EXPECT_EQ(capture.lines(), Lines{c.line});
    }
}

TEST(GetPropertyValue, FullOrBareLocalNameWhicheverComesFirst) {
    struct Case {
        const char* why;
        const char* children;
        std::optional<std::string> value;
        const char* matchedName;
    };
    const Case cases[] = {
        {"bare local name before the full name", "<GPSLatitude>1N</GPSLatitude><exif:GPSLatitude>2N</exif:GPSLatitude>",
         "1N", "GPSLatitude"},
        {"full name before the bare local name", "<exif:GPSLatitude>2N</exif:GPSLatitude><GPSLatitude>1N</GPSLatitude>",
         "2N", "exif:GPSLatitude"},
        {"another prefix is another name", "<xmp:GPSLatitude>3N</xmp:GPSLatitude>", std::nullopt, nullptr},
        {"trimmed of blanks and line breaks", "<exif:GPSLatitude>  \n 37.5N \n </exif:GPSLatitude>", "37.5N",
         "exif:GPSLatitude"},
        {"empty element has the empty value", "<exif:GPSLatitude/>", "", "exif:GPSLatitude"},
        {"all text below, comments excluded",
         "<exif:GPSLatitude><rdf:Alt><rdf:li>37<!-- x -->.5</rdf:li></rdf:Alt>N</exif:GPSLatitude>", "37.5N",
         "exif:GPSLatitude"},
        {"CDATA is text", "<exif:GPSLatitude><![CDATA[37.5N]]></exif:GPSLatitude>", "37.5N", "exif:GPSLatitude"},
        {"text split by a comment is joined", "<exif:GPSLatitude>37<!-- x -->.5N</exif:GPSLatitude>", "37.5N",
         "exif:GPSLatitude"},
        {"escapes are read", "<exif:GPSLatitude>37&#46;5&#x4E;</exif:GPSLatitude>", "37.5N", "exif:GPSLatitude"},
        {"grandchildren are not searched", "<rdf:Bag><exif:GPSLatitude>1</exif:GPSLatitude></rdf:Bag>", std::nullopt,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto document =
            loaded(std::string("<e xmlns:exif=\"e\" xmlns:xmp=\"x\" xmlns:rdf=\"r\">") + c.children + "</e>");
        DiagnosticsCapture capture;
        EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", document->document_element()), c.value);
        const Lines lines = capture.lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element");
        if (c.value) {
            EXPECT_EQ(lines[1], "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '" + *c.value + "' via exact match '" +
                                    c.matchedName + "'");
            EXPECT_EQ(lines.size(), 2u);
        } else {
            EXPECT_EQ(lines[1], "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element");
            EXPECT_EQ(lines[2], "[DEBUG] XMPXML: All child elements:");
        }
    }
}

TEST(GetPropertyValue, NotFoundListsTheChildElementsWithTheirPositions) {
    const auto document = loaded("<e><!-- c --><xmp:GPSLatitude> 3N </xmp:GPSLatitude>text<exif:Make/></e>");
    DiagnosticsCapture capture;
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", document->document_element()), std::nullopt);
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element",
                                      "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element",
                                      "[DEBUG] XMPXML: All child elements:", "[DEBUG]   [1] 'xmp:GPSLatitude' = '3N'",
                                      "[DEBUG]   [3] 'exif:Make' = ''"}));
}

TEST(GetPropertyValue, NameWithoutPrefixMatchesOnlyThatName) {
    const auto document = loaded("<e><exif:GPSLatitude>1</exif:GPSLatitude><GPSLatitude>2</GPSLatitude></e>");
    EXPECT_EQ(XMPXML::getPropertyValue("GPSLatitude", document->document_element()), "2");
}

TEST(SetPropertyValue, UpdatesTheMatchingChildAndKeepsItsName) {
    const auto document = loaded(packet("   <GPSLatitudeRef x=\"1\">S<!-- old --><b>c</b></GPSLatitudeRef>\n"
                                        "   <exif:GPSLatitude>1</exif:GPSLatitude>\n"));
    pugi::xml_node element = document->document_element().first_child().first_child();
    DiagnosticsCapture capture;
    XMPXML::setPropertyValue("N", "exif:GPSLatitudeRef", element);
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] XMPXML: Setting 'exif:GPSLatitudeRef' = 'N'",
                                      "[DEBUG] XMPXML: Updated existing element 'GPSLatitudeRef'"}));
    const pugi::xml_node updated = element.first_child();
    EXPECT_STREQ(updated.name(), "GPSLatitudeRef");
    EXPECT_STREQ(updated.attribute("x").value(), "1");
    // The whole content is now one text node.
    ASSERT_TRUE(updated.first_child());
    EXPECT_EQ(updated.first_child(), updated.last_child());
    EXPECT_EQ(updated.first_child().type(), pugi::node_pcdata);
    EXPECT_STREQ(updated.first_child().value(), "N");
    EXPECT_EQ(element.child("exif:GPSLatitudeRef"), pugi::xml_node());
}

TEST(SetPropertyValue, CreatesAMissingPropertyAsTheLastChild) {
    const auto document = loaded(packet("   <exif:GPSLatitude>1</exif:GPSLatitude>\n"));
    pugi::xml_node element = *XMPXML::findGPSElement(*document);
    XMPXML::setPropertyValue("a<b & \"c\"", "exif:GPSLongitude", element);
    EXPECT_STREQ(element.last_child().name(), "exif:GPSLongitude");
    // The value survives a write and a new read exactly, markup characters included.
    const auto reread = loaded(XMPXML::serialize(*document));
    const auto again = XMPXML::findGPSElement(*reread);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLongitude", *again), "a<b & \"c\"");
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", *again), "1");
}

TEST(DumpElement, CountsEveryChildNodeAndNumbersElementsByThatCount) {
    const auto document = loaded("<rdf:Description><!-- written by a tool --><exif:GPSLatitude>37.5N</exif:GPSLatitude>"
                                 "<exif:GPSLongitude> 122.5W\n</exif:GPSLongitude></rdf:Description>");
    DiagnosticsCapture capture;
    XMPXML::dumpElement(document->document_element(), "GPS Container");
    EXPECT_EQ(capture.lines(),
              (Lines{"[DEBUG] XMPXML: GPS Container contents:", "[DEBUG]   Element name: rdf:Description",
                     "[DEBUG]   Children count: 3", "[DEBUG]     [1] exif:GPSLatitude = '37.5N'",
                     "[DEBUG]     [2] exif:GPSLongitude = '122.5W'"}));
}

TEST(XmlLoad, OnlyWellFormedXmlIsRead) {
    // A "billion laughs" document: expanding it would take gigabytes.
    std::string laughs = "<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        std::string body;
        for (int i = 0; i < 10; ++i) body += level == 1 ? "&lol;" : "&lol" + std::to_string(level - 1) + ";";
        laughs += " <!ENTITY lol" + std::to_string(level) + " \"" + body + "\">\n";
    }
    laughs += "]>\n<e>&lol9;</e>";
    struct Case {
        std::string text;
        std::optional<std::string> error;  // none: accepted
    };
    const Case cases[] = {
        {"", "XML parse error: no element found (line 1, column 1)"},
        {"this is not xml", "XML parse error: syntax error (line 1, column 1)"},
        {"<a>\n <b></a>", "XML parse error: mismatched tag (line 2, column 7)"},
        {"<a x=1/>", "XML parse error: not well-formed (invalid token) (line 1, column 6)"},
        // Columns count characters, not bytes.
        {"<a>\xC3\xA9\xC3\xA9&x;</a>", "XML parse error: undefined entity (line 1, column 6)"},
        {laughs, "XML parse error: document type declares an entity (line 2, column 15)"},
        {"<!DOCTYPE e [<!ENTITY % p \"\">]><e/>", "XML parse error: document type declares an entity (line 1, column 27)"},
        // Its entities are unknown; expat would let "&nbsp;" in an attribute value pass.
        {"<!DOCTYPE e SYSTEM \"e.dtd\"><e a=\"&nbsp;\"/>",
         "XML parse error: document type refers to an external definition (line 1, column 27)"},
        {"<!DOCTYPE e [%p;]><e>&nbsp;</e>", "XML parse error: undefined entity (line 1, column 22)"},
        {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><e/>", "XML parse error: unknown encoding (line 1, column 31)"},
        // Names stay as written: a prefix without a declaration is no error.
        {"<x:e><exif:GPSLatitude>1</exif:GPSLatitude></x:e>", std::nullopt},
        {"<!DOCTYPE e [<!ELEMENT e ANY>]><e>&amp;&#65;</e>", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const auto document = XMPXML::load(c.text);
        if (!c.error) {
            EXPECT_TRUE(document.ok()) << document.error().message;
            continue;
        }
        ASSERT_FALSE(document.ok());
        EXPECT_EQ(document.error().domain, "XML");
        EXPECT_EQ(document.error().message, *c.error);
    }
}

TEST(XmlLoad, RoundTripKeepsPacketCommentsAttributesAndNamespaces) {
    const std::string original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" +
                                 sidecarXml({"37.7749", "122.4194", "N", "W"}, "   <xmp:Label>Caf\xC3\xA9</xmp:Label>\n");
    const auto document = loaded(original);
    const std::string written = XMPXML::serialize(*document);
    for (const char* kept : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                             "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>",
                             "<!-- written by a photo library export -->", "xmlns:x=\"adobe:ns:meta/\"",
                             "x:xmptk=\"Test Writer 1.0\"", "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"",
                             "xmp:Rating=\"4\"", "<exif:GPSLatitudeRef>N</exif:GPSLatitudeRef>",
                             "<xmp:Label>Caf\xC3\xA9</xmp:Label>", "<?xpacket end=\"w\"?>"}) {
        EXPECT_NE(written.find(kept), std::string::npos) << kept << "\n" << written;
    }
    EXPECT_NE(written.substr(0, 3), "\xEF\xBB\xBF");  // no byte-order mark
    EXPECT_NE(written.find("\n  <rdf:RDF"), std::string::npos) << "indented output\n" << written;
    // Writing is stable: a written document reads back to the same text.
    EXPECT_EQ(XMPXML::serialize(*loaded(written)), written);
}

TEST(XmlLoad, OtherEncodingsAreWrittenAsDeclaredUtf8) {
    // Written back as UTF-8 under the old declaration, "Café" would read as "CafÃ©" next time.
    std::string utf16 = "\xFF\xFE";  // UTF-16 LE with byte-order mark
    for (char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><e><exif:GPSLatitude>Caf")) {
        utf16 += c;
        utf16 += '\0';
    }
    utf16 += std::string("\xE9\0", 2);
    for (char c : std::string("</exif:GPSLatitude></e>")) {
        utf16 += c;
        utf16 += '\0';
    }
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><e><exif:GPSLatitude>Caf\xE9</exif:GPSLatitude></e>";
    for (const std::string& original : {utf16, latin1}) {
        const auto document = loaded(original);
        EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", document->document_element()), "Caf\xC3\xA9");
        const std::string written = XMPXML::serialize(*document);
        EXPECT_NE(written.find("encoding=\"UTF-8\""), std::string::npos) << written;
        const auto reread = loaded(written);
        EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", reread->document_element()), "Caf\xC3\xA9");
        EXPECT_EQ(XMPXML::serialize(*reread), written);
    }
    // A declaration of an encoding the parser does not convert keeps its bytes and its name.
    const std::string unknown = "<?xml version=\"1.0\" encoding=\"windows-1252\"?><e>Caf\xE9</e>";
    const std::string written = XMPXML::serialize(*loaded(unknown));
    EXPECT_NE(written.find("encoding=\"windows-1252\""), std::string::npos) << written;
    EXPECT_NE(written.find("Caf\xE9<"), std::string::npos) << written;
}

// Builds <x:xmpmeta><a><a>...<rdf:Description><exif:GPSLatitude>37.5N</...></...> with `depth` levels
// of <a>, directly in the DOM.
std::unique_ptr<pugi::xml_document> deepDocument(size_t depth) {
    auto document = std::make_unique<pugi::xml_document>();
    pugi::xml_node node = document->append_child("x:xmpmeta");
    for (size_t i = 0; i < depth; ++i) node = node.append_child("a");
    node = node.append_child("rdf:Description");
    node.append_child("exif:GPSLatitude").append_child(pugi::node_pcdata).set_value("37.5N");
    return document;
}

std::string nestedText(size_t depth) {
    std::string text;
    for (size_t i = 0; i < depth; ++i) text += "<a>";
    text += "x";
    for (size_t i = 0; i < depth; ++i) text += "</a>";
    return text;
}

TEST(XmlDepth, LoadAcceptsTheLimitAndRefusesDeeperNesting) {
    const auto atLimit = XMPXML::load(nestedText(XMPXML::maxDepth));
    ASSERT_TRUE(atLimit.ok()) << atLimit.error().message;
    // Indented to the innermost level.
    const std::string innermost = std::string(2 * (XMPXML::maxDepth - 1), ' ') + "<a>x</a>";
    EXPECT_NE(XMPXML::serialize(*atLimit.value()).find(innermost), std::string::npos);
    for (size_t depth : {XMPXML::maxDepth + 1, size_t{100000}}) {
        SCOPED_TRACE(depth);
        const auto refused = XMPXML::load(nestedText(depth));
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error(), (Error{"XML", XMPXML::nestingTooDeepCode,
                                          "XML parse error: elements nested deeper than 256 levels"}));
    }
    // Text, comments and attributes inside the deepest element do not count as levels.
    std::string text;
    for (size_t i = 0; i < XMPXML::maxDepth; ++i) text += "<a x=\"1\">";
    text += "<!-- c -->t<?pi?>";
    for (size_t i = 0; i < XMPXML::maxDepth; ++i) text += "</a>";
    EXPECT_TRUE(XMPXML::load(text).ok());
}

TEST(XmlDepth, EveryOperationWalksDeepDocumentsWithoutRecursion) {
    constexpr size_t depth = 100000;
    auto document = deepDocument(depth);
    DiagnosticsCapture capture;
    const auto element = XMPXML::findGPSElement(*document);
    ASSERT_TRUE(element.has_value());
    EXPECT_EQ(capture.lines().size(), 5u);
    EXPECT_STREQ(element->name(), "rdf:Description");
    EXPECT_TRUE(hasGPSData(*element));
    EXPECT_EQ(XMPXML::stringValue(document->document_element()), "37.5N");
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", *element), "37.5N");

    // Too deep to be indented: written flat, in size proportional to the document.
    const std::string written = XMPXML::serialize(*document);
    EXPECT_LT(written.size(), depth * 16);
    EXPECT_NE(written.find("<exif:GPSLatitude>37.5N</exif:GPSLatitude>"), std::string::npos);
    document.reset();  // destruction
}

TEST(XmlDepth, SettingAPropertyWithDeepContentDoesNotRecurse) {
    // pugixml frees a removed subtree recursively; 300,000 levels would exhaust the stack that way.
    pugi::xml_document document;
    pugi::xml_node element = document.append_child("rdf:Description");
    pugi::xml_node node = element.append_child("exif:GPSLatitude");
    for (int i = 0; i < 300000; ++i) node = node.append_child("a");
    node.append_child(pugi::node_pcdata).set_value("old");
    element.append_child("exif:GPSLongitude").append_child(pugi::node_pcdata).set_value("1W");

    XMPXML::setPropertyValue("37.50000000N", "exif:GPSLatitude", element);
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", element), "37.50000000N");
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLongitude", element), "1W");
    EXPECT_FALSE(element.first_child().first_child().first_child());
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST(XmlSerialize, BoundedTextIsWholeUpToTheLimitAndOnlyCountedBeyondIt) {
    const auto document = XMPXML::load(test::sidecarXml({"37.7749", "122.4194", "N", "W"})).value();
    const std::string whole = XMPXML::serialize(*document);

    const XMPXML::BoundedText atLimit = XMPXML::serialize(*document, whole.size());
    ASSERT_TRUE(atLimit.text.has_value());
    EXPECT_EQ(*atLimit.text, whole);
    EXPECT_EQ(atLimit.size, whole.size());

    const XMPXML::BoundedText overLimit = XMPXML::serialize(*document, whole.size() - 1);
    EXPECT_FALSE(overLimit.text.has_value());
    EXPECT_EQ(overLimit.size, whole.size());
}

}  // namespace
}  // namespace corvane
