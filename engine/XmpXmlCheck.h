// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/Error.h"

#include <cstddef>
#include <string_view>

namespace corvane {

// Error codes of the check that are not the XML parser's own (expat's codes are below 100).
inline constexpr int xmlNestingTooDeepCode = 100;
inline constexpr int xmlEntityDeclaredCode = 101;
inline constexpr int xmlExternalDocumentTypeCode = 102;

// Checks that the bytes are one well-formed XML 1.0 document, as a strict parser (expat) reads it, before
// the document model is built from them. Names stay as written: namespaces are not resolved, so an
// undeclared prefix is no error. Refused as well, so that nothing in a document is silently changed by
// a rewrite: a document type that declares an entity or refers to an external definition (whose
// entities the document model cannot expand), and elements nested deeper than `maxDepth`. Encodings
// other than UTF-8, UTF-16, ISO-8859-1 and US-ASCII are read when they take one byte per character
// (windows-1252, ISO-8859-15, ...).
// Fails with domain "XML" and "XML parse error: " + the cause + " (line L, column C)"; the nesting
// limit fails with "XML parse error: elements nested deeper than N levels".
Status checkWellFormedXml(std::string_view bytes, size_t maxDepth);

}  // namespace corvane
