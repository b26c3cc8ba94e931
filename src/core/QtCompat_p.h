#pragma once

#include <kivo/kivodpoints_export.h>

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QVariant>
#include <QtGlobal>

class QByteArray;
class QDomDocument;
class QXmlSimpleReader;

namespace kivo {

// The one place where the library keeps Qt 5's behaviour on Qt 6, for the calls whose results
// differ between the two. Everything else is written in the API both versions share.
namespace QtCompat {

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
using MutexLocker = QMutexLocker<QMutex>;
#else
using MutexLocker = QMutexLocker;
#endif

/// Whether left == right as Qt 5 compares variants: numbers by value across their types;
/// otherwise right converted to left's type where it converts, else left to right's type, and
/// false when that conversion fails. Qt 6 compares the values of different types only partly
/// (numbers with strings in some versions, never in others).
KIVODPOINTS_EXPORT bool variantsEqual(const QVariant& left, const QVariant& right);

/// The integer of value as Qt 5's QVariant::toLongLong gives it; a floating-point value is
/// rounded half up (-1.5 gives -1), where Qt 6 rounds half away from zero (-2). ok as there.
KIVODPOINTS_EXPORT qlonglong toLongLong(const QVariant& value, bool* ok = nullptr);

/// The int of value as Qt 5's QVariant::toInt gives it: toLongLong's number, cut to 32 bits for
/// a floating-point value. ok as there.
KIVODPOINTS_EXPORT int toInt(const QVariant& value, bool* ok = nullptr);

/// Converts value to the type typeId in place, as QVariant::convert(int) does; false, and the
/// value cleared, when it cannot be converted.
KIVODPOINTS_EXPORT bool convert(QVariant& value, int typeId);

/// Parses content into document as Qt 5's QDomDocument::setContent(content, false, ...) does:
/// with Qt 5's parser, so the same documents are accepted, with the same error messages and
/// lines, and the same nodes are built. Qt 6's own parser refuses documents Qt 5's accepts
/// (an undeclared entity, a repeated attribute, control characters, bytes that are not UTF-8),
/// normalises white space in attribute values, turns CR LF into LF and drops references to
/// external entities. On Qt 6 the elements carry Qt 6's line numbers, which are Qt 5's; where
/// Qt 6's parser refuses the document they have none (-1).
KIVODPOINTS_EXPORT bool setDomContent(
    QDomDocument* document, const QByteArray& content, QString* message, int* line);

/// Gives reader the features Qt 5's QDomDocument gives its parser (no namespace processing,
/// prefixed names kept, blank text dropped), so that it sees a document as the DOM does.
void setDomReaderFeatures(QXmlSimpleReader* reader);

/// The heap block of text's characters (its header first), for prefetching; null for a text
/// without one.
inline const void* textBlock(const QString& text)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return const_cast<QString&>(text).data_ptr().d_ptr();
#else
    return const_cast<QString&>(text).data_ptr();
#endif
}

} // namespace QtCompat

} // namespace kivo
