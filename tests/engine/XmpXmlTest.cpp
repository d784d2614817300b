// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/XmpXml.h"
#include "tests/support/DiagnosticsCapture.h"
#include "tests/support/Fixtures.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using Lines = std::vector<std::string>;

// A document the test expects to load; a failure to load throws out of the test.
XmlDocument loaded(const std::string& text) { return XMPXML::load(text).value(); }

std::string nested(size_t depth, const std::string& open = "<a>") {
    std::string head, tail;
    for (size_t i = 0; i < depth; ++i) head += open, tail += "</a>";
    return head + "x" + tail;
}

TEST(FindGPSElement, FirstElementWithAGPSChildThenTheFirstDescription) {
    const std::string withGPS = "[DEBUG] XMPXML: Found element containing GPS data\n[DEBUG] XMPXML: GPS Container contents:";
    const std::string fallback = "[DEBUG] XMPXML: Using first Description-like element as fallback\n"
                                 "[DEBUG] XMPXML: Fallback Description contents:";
    const std::string none = "[DEBUG] XMPXML: No suitable element found";
    const std::tuple<std::string, std::string, std::string> cases[] = {  // document, element or its rdf:about, lines
        // The container's listing counts every child node and numbers the elements by that count.
        {"<rdf:Description><!-- by a tool --><exif:GPSLatitude>37.5N</exif:GPSLatitude>"
         "<exif:GPSLongitude> 122.5W\n</exif:GPSLongitude></rdf:Description>", "rdf:Description",
         withGPS + "\n[DEBUG]   Element name: rdf:Description\n[DEBUG]   Children count: 3\n"
                   "[DEBUG]     [1] exif:GPSLatitude = '37.5N'\n[DEBUG]     [2] exif:GPSLongitude = '122.5W'\n"},
        {"<r><rdf:Description rdf:about=\"first\"><xmp:Rating>4</xmp:Rating></rdf:Description>"
         "<rdf:Description rdf:about=\"second\"><exif:GPSLongitudeRef>W</exif:GPSLongitudeRef></rdf:Description></r>",
         "second", withGPS},
        // Depth first in document order: <b> before the shallower <c>.
        {"<root><a><b><exif:GPSLatitude>1</exif:GPSLatitude></b></a><c><exif:GPSLatitude>2</exif:GPSLatitude></c></root>",
         "b", withGPS},
        {"<root><GPSLongitude>1</GPSLongitude></root>", "root", withGPS},
        // A property kept as an attribute counts as one kept as a child; a namespace declaration does not.
        {"<x><a xmlns:GPSLatitude=\"u\"/><b exif:GPSLongitudeRef=\"W\"/></x>", "b", withGPS},
        {"<x><myDescription xmlns:GPSLatitude=\"u\" exif:GPSAltitude=\"1\"/></x>", "myDescription", fallback},
        // The fragments are case-sensitive; an altitude alone makes no container.
        {"<root><exif:gpslatitude>1</exif:gpslatitude><description/></root>", "", none},
        {"<root><exif:GPSAltitude>12</exif:GPSAltitude></root>", "", none},
    };
    for (const auto& [text, found, line] : cases) {
        const auto document = loaded(text);
        DiagnosticsCapture capture;
        const auto element = XMPXML::findGPSElement(document);
        EXPECT_EQ(capture.text().substr(0, line.size()), line) << text;
        const std::string about(element ? element->attribute("rdf:about").value() : "");
        EXPECT_EQ(element ? (about.empty() ? element->name() : about) : "", found);
    }
}

TEST(HasGPSData, AnyChildElementNamedWithGPS) {
    for (const auto& [children, line] : std::initializer_list<std::pair<std::string, std::string>>{
             {"<xmp:Rating>4</xmp:Rating><exif:GPSAltitude>12</exif:GPSAltitude>", "[DEBUG] Found GPS  exif:GPSAltitude"},
             {"<GPSLongitudeRef>W</GPSLongitudeRef>", "[DEBUG] Found GPS  GPSLongitudeRef"},
             {"<xmp:Rating>4</xmp:Rating><!-- GPS --><exif:gps>x</exif:gps>", "[DEBUG] No GPS data found in XMP"}}) {
        const auto document = loaded("<e>" + children + "</e>");
        DiagnosticsCapture capture;
        EXPECT_EQ(hasGPSData(document.documentElement()), line.find("Found") != std::string::npos);
        EXPECT_EQ(capture.lines(), Lines{line});
    }
}

TEST(GetPropertyValue, FullOrLocalNameWhicheverComesFirstTrimmedWithAllTextBelow) {
    const std::string found = "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = ";
    const std::tuple<const char*, std::optional<std::string>, std::string> cases[] = {  // children, value, second line on
        {"<GPSLatitude>1N</GPSLatitude><exif:GPSLatitude>2N</exif:GPSLatitude>", "1N", found + "'1N' via exact match 'GPSLatitude'"},
        {"<exif:GPSLatitude>2N</exif:GPSLatitude><GPSLatitude>1N</GPSLatitude>", "2N", found + "'2N' via exact match 'exif:GPSLatitude'"},
        {"<exif:GPSLatitude>  \n 37.5N \n </exif:GPSLatitude>", "37.5N", found + "'37.5N' via"},
        {"<exif:GPSLatitude/>", "", found + "'' via"},
        {"<exif:GPSLatitude>37<!-- x -->.5N</exif:GPSLatitude>", "37.5N", found},  // text split by a comment is joined
        {"<exif:GPSLatitude><rdf:Alt><rdf:li>37<!-- x -->.5</rdf:li></rdf:Alt><![CDATA[&#]]>N</exif:GPSLatitude>", "37.5&#N", found},
        {"<rdf:Bag><exif:GPSLatitude>1</exif:GPSLatitude></rdf:Bag>", std::nullopt, ""},  // grandchildren are not searched
        // Another prefix is another name. Not found, the child elements are listed with their positions.
        {"<!-- c --><xmp:GPSLatitude> 3N </xmp:GPSLatitude>text<exif:Make/>", std::nullopt,
         "[DEBUG] XMPXML: Could not find 'exif:GPSLatitude' in element\n[DEBUG] XMPXML: All child elements:\n"
         "[DEBUG]   [1] 'xmp:GPSLatitude' = '3N'\n[DEBUG]   [3] 'exif:Make' = ''\n"},
    };
    for (const auto& [children, value, lines] : cases) {
        const auto document = loaded(std::string("<e>") + children + "</e>");
        DiagnosticsCapture capture;
        EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", document.documentElement()), value) << children;
        const std::string looking = "[DEBUG] XMPXML: Looking for 'exif:GPSLatitude' in element\n";
        EXPECT_EQ(capture.text().substr(0, looking.size() + lines.size()), looking + lines);
    }
    // A name without a prefix matches only that name.
    const auto both = loaded("<e><exif:GPSLatitude>1</exif:GPSLatitude><GPSLatitude>2</GPSLatitude></e>");
    EXPECT_EQ(XMPXML::getPropertyValue("GPSLatitude", both.documentElement()), "2");
}

TEST(SetPropertyValue, UpdatesTheMatchingChildOrCreatesOneDeclaringExifWhereNeeded) {
    const auto document = loaded("<r><d><GPSLatitudeRef x=\"1\">S<!-- old --><b>c</b></GPSLatitudeRef></d></r>");
    const XmlNode element = document.documentElement().firstChild();
    DiagnosticsCapture capture;
    XMPXML::setPropertyValue("N", "exif:GPSLatitudeRef", element);
    XMPXML::setPropertyValue("a<b & \"c\"", "exif:GPSLongitude", element);
    EXPECT_EQ(capture.lines(), (Lines{"[DEBUG] XMPXML: Setting 'exif:GPSLatitudeRef' = 'N'",
                                      "[DEBUG] XMPXML: Updated existing element 'GPSLatitudeRef'",
                                      "[DEBUG] XMPXML: Setting 'exif:GPSLongitude' = 'a<b & \"c\"'",
                                      "[DEBUG] XMPXML: Created new element 'exif:GPSLongitude'"}));
    EXPECT_EQ(document.serialize(),
              "<r>\n  <d>\n    <GPSLatitudeRef x=\"1\">N</GPSLatitudeRef>\n    <exif:GPSLongitude "
              "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">a&lt;b &amp; \"c\"</exif:GPSLongitude>\n  </d>\n</r>\n");
    // Under a declaration in scope the new element needs none of its own.
    const auto declared = loaded("<r xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"><d/></r>");
    XMPXML::setPropertyValue("1", "exif:GPSLongitude", declared.documentElement().firstChild());
    EXPECT_NE(declared.serialize().find("<exif:GPSLongitude>1<"), std::string::npos);
}

// A property without a child element is read from an attribute; setting it keeps its form, and a new
// one takes the form of the element's GPS properties. Any second copy beside the one read is found.
TEST(AttributeProperties, ReadAfterChildrenSetInPlaceAndCreatedInTheElementsForm) {
    const auto document = loaded("<r><d exif:GPSLatitude=\" 1N \" GPSLongitude=\"2W\"><exif:GPSLongitude>3W</exif:GPSLongitude></d></r>");
    const XmlNode mixed = document.documentElement().firstChild();
    DiagnosticsCapture capture;
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", mixed), "1N");
    EXPECT_EQ(capture.lines().back(), "[DEBUG] XMPXML: Found 'exif:GPSLatitude' = '1N' via attribute 'exif:GPSLatitude'");
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLongitude", mixed), "3W");
    EXPECT_EQ(XMPXML::findOtherCopy("exif:GPSLongitude", mixed)->name, "GPSLongitude");
    EXPECT_FALSE(XMPXML::findOtherCopy("exif:GPSLatitude", mixed));
    XMPXML::setPropertyValue("N", "exif:GPSLatitudeRef", mixed);  // a GPS child: a new child

    const auto attributes = loaded("<r><d exif:GPSLatitude=\"1\" exif:GPSAltitude=\"5\"/></r>");
    const XmlNode onlyAttributes = attributes.documentElement().firstChild();
    XMPXML::setPropertyValue("1.00000000N", "exif:GPSLatitude", onlyAttributes);
    XMPXML::setPropertyValue("N", "exif:GPSLatitudeRef", onlyAttributes);
    EXPECT_EQ(attributes.serialize(), "<r>\n  <d exif:GPSLatitude=\"1.00000000N\" exif:GPSAltitude=\"5\" "
                                      "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\" exif:GPSLatitudeRef=\"N\" />\n</r>\n");
    EXPECT_NE(document.serialize().find("<exif:GPSLatitudeRef xmlns:exif"), std::string::npos);
}

TEST(XmlDepth, LoadAcceptsTheLimitAndRefusesDeeperNesting) {
    EXPECT_TRUE(XMPXML::load(nested(XMPXML::maxDepth, "<a x=\"1\"><!-- c -->")).ok());
    for (size_t depth : {XMPXML::maxDepth + 1, size_t{100000}})
        EXPECT_EQ(XMPXML::load(nested(depth)).error(),
                  (Error{"XML", XMPXML::nestingTooDeepCode, "XML parse error: elements nested deeper than 256 levels"}));
}

TEST(XmlDepth, DeepDocumentsAreWalkedWrittenAndChangedWithoutRecursion) {
    // Built in memory, 600,000 levels deep: recursion in any operation would exhaust the stack.
    XmlDocument document = loaded("<x:xmpmeta/>");
    XmlNode node = document.documentElement();
    for (int i = 0; i < 600000; ++i) node = node.appendElement(i == 300000 ? "exif:GPSLatitude" : "a");
    node.setText("37.5N");
    const auto element = XMPXML::findGPSElement(document);
    ASSERT_TRUE(element && hasGPSData(*element));
    EXPECT_EQ(XMPXML::getPropertyValue("exif:GPSLatitude", *element), "37.5N");
    EXPECT_LT(document.serialize().size(), 600000u * 16) << "too deep to indent: written flat";
    XMPXML::setPropertyValue("1.00000000N", "exif:GPSLatitude", *element);
    EXPECT_NE(document.serialize().find("<exif:GPSLatitude>1.00000000N</exif:GPSLatitude>"), std::string::npos);
}

}  // namespace
}  // namespace corvane
