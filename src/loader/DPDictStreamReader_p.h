#pragma once

#include "loader/DPDictBuilder_p.h"

#include <kivo/kivodpoints_export.h>

class QByteArray;

namespace kivo {

/// Reads a dictionary document in one pass with QXmlStreamReader, giving builder what a DOM
/// reading of the same bytes gives it. False, with builder left unfinished, where the document
/// is to be read with the DOM instead: when the stream reader stops at an error (the DOM parser
/// is more lenient, and its own message is the one reported), and where the two readings could
/// differ: a document type declaration (entities), an encoding other than UTF-8, CR characters
/// other than in CR LF line ends, nesting deeper than maxNestingDepth, nested VariableDefs or
/// EnumDefs, a processing instruction inside a VariableDef, white space in an attribute that is
/// read exactly, names outside ASCII.
KIVODPOINTS_EXPORT bool readStream(const QByteArray& content, DPDictBuilder& builder);

} // namespace kivo
