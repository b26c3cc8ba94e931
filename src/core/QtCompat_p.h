#pragma once

#include <kivo/kivodpoints_export.h>

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QVariant>
#include <QtGlobal>

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
