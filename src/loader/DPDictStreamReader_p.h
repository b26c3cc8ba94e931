#pragma once

#include "loader/DPDictBuilder_p.h"

#include <kivo/kivodpoints_export.h>

class QByteArray;

namespace kivo {

/// Reads a dictionary document in one pass as its bytes stream past (DPDictScanner), giving
/// builder what a DOM reading of the same bytes gives it. False, with builder left unfinished,
/// where the document is to be read with the DOM instead: wherever the scanner declines (a
/// well-formedness error, whose message the DOM parser gives, or a construct outside the plain
/// set it reads), and for nested VariableDefs or EnumDefs.
KIVODPOINTS_EXPORT bool readStream(const QByteArray& content, DPDictBuilder& builder);

} // namespace kivo
