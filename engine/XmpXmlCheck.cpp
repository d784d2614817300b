// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/XmpXmlCheck.h"

#include <expat.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>

namespace corvane {
namespace {

// Why the check stopped the parser, and where.
struct Refusal {
    int code;
    std::string cause;
    XML_Size line;
    XML_Size column;
};

struct CheckState {
    XML_Parser parser;
    size_t maxDepth;
    size_t depth = 0;
    std::optional<Refusal> refusal;
};

void refuse(CheckState& state, int code, std::string cause) {
    if (state.refusal) return;
    state.refusal = Refusal{code, std::move(cause), XML_GetCurrentLineNumber(state.parser),
                            XML_GetCurrentColumnNumber(state.parser)};
    XML_StopParser(state.parser, XML_FALSE);
}

void XMLCALL onStartElement(void* data, const XML_Char*, const XML_Char**) {
    auto& state = *static_cast<CheckState*>(data);
    if (++state.depth > state.maxDepth)
        refuse(state, xmlNestingTooDeepCode, "elements nested deeper than " + std::to_string(state.maxDepth) + " levels");
}

void XMLCALL onEndElement(void* data, const XML_Char*) { --static_cast<CheckState*>(data)->depth; }

// The document model keeps entity references as text, so a rewrite would turn "&me;" into "&amp;me;".
void XMLCALL onEntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*) {
    refuse(*static_cast<CheckState*>(data), xmlEntityDeclaredCode, "document type declares an entity");
}

// An external definition may declare entities the check cannot see; expat then lets undefined entities
// in attribute values pass, and the rewrite would change them.
void XMLCALL onStartDocumentType(void* data, const XML_Char*, const XML_Char* systemId, const XML_Char*, int) {
    if (systemId)
        refuse(*static_cast<CheckState*>(data), xmlExternalDocumentTypeCode, "document type refers to an external definition");
}

// Reported instead of an error when the document type has parameter entity references.
void XMLCALL onSkippedEntity(void* data, const XML_Char*, int) {
    refuse(*static_cast<CheckState*>(data), XML_ERROR_UNDEFINED_ENTITY, XML_ErrorString(XML_ERROR_UNDEFINED_ENTITY));
}

// Describes a declared encoding that takes one byte per character (windows-1252, ISO-8859-15, KOI8-R)
// through iconv, so such sidecars are checked like any other. Multi-byte encodings, and encodings that
// do not keep ASCII where XML's markup needs it, stay unknown.
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
// for a fresh salt for every parser, a system call per sidecar. One random salt per process protects as
// well: nobody outside the process learns it.
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

}  // namespace

Status checkWellFormedXml(std::string_view bytes, size_t maxDepth) {
    // Without namespace processing: "exif:GPSLatitude" is a name like any other, bound or not.
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser) return Error{"XML", XML_ERROR_NO_MEMORY, "XML parse error: out of memory"};
    XML_SetHashSalt(parser.get(), hashSalt());
    CheckState state{parser.get(), maxDepth, 0, std::nullopt};
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), onStartElement, onEndElement);
    XML_SetEntityDeclHandler(parser.get(), onEntityDeclaration);
    XML_SetStartDoctypeDeclHandler(parser.get(), onStartDocumentType);
    XML_SetSkippedEntityHandler(parser.get(), onSkippedEntity);
    XML_SetUnknownEncodingHandler(parser.get(), describeSingleByteEncoding, nullptr);

    // XML_Parse takes an int length; sidecars are far smaller, but feed large inputs in pieces anyway.
    constexpr size_t piece = 1 << 24;
    XML_Status status = XML_STATUS_OK;
    size_t offset = 0;
    do {
        const size_t length = std::min(piece, bytes.size() - offset);
        const bool last = offset + length == bytes.size();
        status = XML_Parse(parser.get(), bytes.data() + offset, static_cast<int>(length), last);
        offset += length;
    } while (status == XML_STATUS_OK && offset < bytes.size());

    if (state.refusal) {
        if (state.refusal->code == xmlNestingTooDeepCode) return Error{"XML", xmlNestingTooDeepCode, "XML parse error: " + state.refusal->cause};
        return Error{"XML", state.refusal->code,
                     "XML parse error: " + state.refusal->cause + position(state.refusal->line, state.refusal->column)};
    }
    if (status != XML_STATUS_OK) {
        const XML_Error error = XML_GetErrorCode(parser.get());
        return Error{"XML", static_cast<int>(error),
                     std::string("XML parse error: ") + XML_ErrorString(error) +
                         position(XML_GetCurrentLineNumber(parser.get()), XML_GetCurrentColumnNumber(parser.get()))};
    }
    return {};
}

}  // namespace corvane
