// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/XmlDocument.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvane {
namespace {

std::string reserialized(std::string_view bytes) {
    const auto parsed = XmlDocument::parse(bytes, 256);
    return parsed ? parsed.value().serialize() : parsed.error().message;
}

// Latin-1 text as UTF-16LE bytes without a byte-order mark.
std::string utf16le(std::string_view latin1) {
    std::string bytes;
    for (char c : latin1) bytes += {c, '\0'};
    return bytes;
}

// What a rewrite writes for a document: the layout is made anew; every piece of content stays.
TEST(XmlDocument, SerialisesWhatItReadIndentedAndComplete) {
    const std::pair<std::string, std::string> cases[] = {
        // Elements on lines of their own, two blanks a level; an empty one closes itself.
        {"<a><b><c>deep</c></b>\n\n   <d/></a>", "<a>\n  <b>\n    <c>deep</c>\n  </b>\n  <d />\n</a>\n"},
        // Content that starts with text stays on its line, and so does what follows the text.
        {"<a>text<b/>more</a>", "<a>text<b />more</a>\n"},
        {"<a><b/>tail</a>", "<a>\n  <b />tail</a>\n"},
        {"<a>  lead <b>in</b>  </a>", "<a>  lead <b>in</b>\n</a>\n"},
        // Blanks between markup are layout, unless written as references (and then written so again);
        // line ends become "\n", a carriage return written as a reference stays one.
        {"<a>&#32;<b/>&#9;&#10;</a>", "<a>&#32;<b />&#09;&#10;</a>\n"},
        {"<a>\r\nline&#13;\r\n</a>", "<a>\nline&#13;\n</a>\n"},
        // Escapes: ">" in text, the double quote and control characters in attributes.
        {"<a x='1&#10;2' y=\"a\tb\" z='q&quot;&apos;&gt;&lt;&amp;'>&gt;&lt;&amp;&quot;&apos;</a>",
         "<a x=\"1&#10;2\" y=\"a b\" z=\"q&quot;'>&lt;&amp;\">&gt;&lt;&amp;\"'</a>\n"},
        // Comments, processing instructions (data as written), CDATA (even blank) and the document type.
        {"<?xpacket begin='' id='W5M'  ?><a><?p?><!-- c --><![CDATA[ x < y ]]><![CDATA[ ]]></a><!--after-->",
         "<?xpacket begin='' id='W5M'  ?>\n<a>\n  <?p?>\n  <!-- c --><![CDATA[ x < y ]]><![CDATA[ ]]></a>\n<!--after-->\n"},
        {"<!DOCTYPE a [ <!ATTLIST a z CDATA 'def'> ]>\n<a y='1'/>", "<!DOCTYPE a [ <!ATTLIST a z CDATA 'def'> ]>\n<a y=\"1\" />\n"},
        // Any encoding is read into UTF-8, and the declaration then names UTF-8.
        {"<?xml version='1.0' standalone='yes'?><a/>", "<?xml version=\"1.0\" standalone=\"yes\"?>\n<a />\n"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<a />\n"},
        {"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\x80</a>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\u20ac</a>\n"},
        {utf16le("<?xml version='1.0'?><a>\xe9</a>"), "<?xml version=\"1.0\"?>\n<a>\u00e9</a>\n"},
    };
    for (const auto& [input, output] : cases) EXPECT_EQ(reserialized(input), output) << input;
}

// Only strictly well-formed XML is read, and nothing a rewrite would change: the message says where.
TEST(XmlDocument, RefusesWhatIsNotWellFormedOrWhatARewriteWouldChange) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"", "no element found (line 1, column 1)"},
        {"<a>\n <b></a>", "mismatched tag (line 2, column 7)"},
        {"<a/><b/>", "junk after document element (line 1, column 5)"},
        {"<a>\xC3\xA9\xC3\xA9&x;</a>", "undefined entity (line 1, column 6)"},  // columns count characters
        {"<!DOCTYPE a [<!ENTITY me 'x'>]><a>&me;</a>", "document type declares an entity (line 1, column 26)"},
        {"<!DOCTYPE e [<!ENTITY % p \"\">]><e/>", "document type declares an entity (line 1, column 27)"},
        {"<!DOCTYPE e SYSTEM \"e.dtd\"><e a=\"&nbsp;\"/>", "document type refers to an external definition (line 1, column 27)"},
        {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><e/>", "unknown encoding (line 1, column 31)"},
        {"<x:e><exif:GPSLatitude>1</exif:GPSLatitude></x:e>", std::nullopt},  // an undeclared prefix is no error
        {"<!DOCTYPE e [<!ELEMENT e ANY>]><e>&amp;&#65;</e>", std::nullopt},
    };
    for (const auto& [text, error] : cases) {
        const auto document = XmlDocument::parse(text, 256);
        EXPECT_EQ(document.ok() ? "" : document.error().domain + ": " + document.error().message,
                  error ? "XML: XML parse error: " + *error : "");
    }
}

TEST(XmlDocument, EditsReachTheText) {
    auto document = XmlDocument::parse("<r><d a='1'><x>old<y>deep</y></x></d></r>", 256).value();
    const XmlNode description = document.documentElement().firstChild();
    description.attribute("a").setValue("2 \"quoted\"");
    description.appendAttribute("xmlns:exif", "http://ns.adobe.com/exif/1.0/");
    description.firstChild().setText("new");
    description.appendElement("exif:GPSLatitude").setText("37.77490000N");
    description.appendElement("empty").setText("");
    EXPECT_EQ(document.serialize(),
              "<r>\n  <d a=\"2 &quot;quoted&quot;\" xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n    <x>new</x>\n"
              "    <exif:GPSLatitude>37.77490000N</exif:GPSLatitude>\n    <empty />\n  </d>\n</r>\n");
    // A text larger than the limit is only measured.
    const XmlDocument::BoundedText bounded = document.serialize(10);
    EXPECT_FALSE(bounded.text);
    EXPECT_EQ(bounded.size, document.serialize().size());
}

// Every sidecar the cases hold reads back as what it says: serialising twice changes nothing more.
TEST(XmlDocument, CaseSidecarsSurviveARoundTrip) {
    size_t read = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(CORVANE_CASES_DIR)) {
        if (entry.path().extension() != ".xmp") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        const auto parsed = XmlDocument::parse(bytes.str(), 256);
        if (!parsed) continue;  // the malformed ones
        const std::string once = parsed.value().serialize();
        EXPECT_EQ(reserialized(once), once) << entry.path();
        ++read;
    }
    EXPECT_GT(read, 50u);
}

}  // namespace
}  // namespace corvane
