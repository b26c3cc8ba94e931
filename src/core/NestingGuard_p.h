#pragma once

#include <QString>

class QByteArray;
class QDomDocument;

namespace kivo {

// The loaders' DOM parse: Qt 5's parser on both Qt versions, behind one depth guard.

/// The deepest element nesting the loaders accept, the document element being level 1. Qt's
/// DOM parser recurses once per level, with about 340 bytes of stack each (Qt 5.15, x86-64); at
/// this limit it needs about 350 KB, a third of a 1 MiB thread stack.
constexpr int maxNestingDepth = 1024;

/// Parses content into document as Qt 5's QDomDocument::setContent(content, false, ...) does,
/// also when built with Qt 6, unless the parser would meet an element deeper than
/// maxNestingDepth, internal entities expanded as the parser expands them. False with
/// "document nested deeper than 1024 levels", or with the parser's own message, and the line.
/// The bytes are parsed twice: on Qt 5 a first pass that builds nothing looks for too deep an
/// element; on Qt 6 Qt 5's parser builds the nodes and guards the depth, and Qt 6's gives the
/// elements their line numbers (none, -1, where Qt 6's parser refuses the document).
bool parseGuarded(const QByteArray& content, QDomDocument* document, QString* message, int* line);

/// Parses content into document as Qt 5's QDomDocument::setContent(content, false, ...) does,
/// without the depth guard: the same documents are accepted, with the same error messages and
/// lines, and the same nodes are built. Qt 6's own parser refuses documents Qt 5's accepts
/// (an undeclared entity, a repeated attribute, control characters, bytes that are not UTF-8),
/// normalises white space in attribute values, turns CR LF into LF and drops references to
/// external entities.
bool setDomContent(QDomDocument* document, const QByteArray& content, QString* message, int* line);

} // namespace kivo
