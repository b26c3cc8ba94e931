#pragma once

#include <kivo/kivodpoints_export.h>

#include <QString>

class QByteArray;
class QDomDocument;

namespace kivo {

/// The deepest element nesting the loaders accept, the document element being level 1. Qt's
/// DOM parser recurses once per level, with about 340 bytes of stack each (Qt 5.15, x86-64); at
/// this limit it needs about 350 KB, a third of a 1 MiB thread stack.
constexpr int maxNestingDepth = 1024;

/// Parses content into document (no namespace processing) unless the parser would meet an
/// element deeper than maxNestingDepth, internal entities expanded as the parser expands them:
/// a first pass of the same parser, building nothing, looks for such an element. False with
/// "document nested deeper than 1024 levels", or with the parser's own message, and the line.
KIVODPOINTS_EXPORT bool parseGuarded(
    const QByteArray& content, QDomDocument* document, QString* message, int* line);

} // namespace kivo
