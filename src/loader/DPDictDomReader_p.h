#pragma once

#include "loader/DPDictBuilder_p.h"

class QDomDocument;
class QDomElement;

namespace kivo {

/// What the loader reads from one VariableDef element.
DPDictEntry readDomEntry(const QDomElement& variableDef);

/// Gives builder every EnumDef and every VariableDef below the document element, each kind in
/// document order.
void readDomDocument(const QDomDocument& document, DPDictBuilder& builder);

} // namespace kivo
