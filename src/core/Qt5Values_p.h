#pragma once

#include <QVariant>
#include <QtGlobal>

namespace kivo {

// Qt 5's results for the QVariant calls whose results differ on Qt 6: the library gives the
// same values on both. Spellings that differ for the same behaviour are in QtShims_p.h.
namespace Qt5Values {

/// Whether left == right as Qt 5 compares variants: numbers by value across their types;
/// otherwise right converted to left's type where it converts, else left to right's type, and
/// false when that conversion fails. Qt 6 compares the values of different types only partly
/// (numbers with strings in some versions, never in others).
bool variantsEqual(const QVariant& left, const QVariant& right);

/// The integer of value as Qt 5's QVariant::toLongLong gives it; a floating-point value is
/// rounded half up (-1.5 gives -1), where Qt 6 rounds half away from zero (-2). ok as there.
qlonglong toLongLong(const QVariant& value, bool* ok = nullptr);

/// The int of value as Qt 5's QVariant::toInt gives it: toLongLong's number, cut to 32 bits for
/// a floating-point value. ok as there.
int toInt(const QVariant& value, bool* ok = nullptr);

} // namespace Qt5Values

} // namespace kivo
