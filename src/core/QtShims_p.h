#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QVariant>
#include <QtGlobal>

namespace kivo {

// Spellings that differ between Qt 5 and Qt 6 for the same behaviour. Where the behaviour
// itself differs, the library follows Qt 5 through Qt5Values_p.h.
namespace QtShims {

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
using MutexLocker = QMutexLocker<QMutex>;
#else
using MutexLocker = QMutexLocker;
#endif

/// Converts value to the type typeId in place, as QVariant::convert(int) does; false, and the
/// value cleared, when it cannot be converted.
inline bool convert(QVariant& value, int typeId)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return value.convert(QMetaType(typeId));
#else
    return value.convert(typeId);
#endif
}

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

} // namespace QtShims

} // namespace kivo
