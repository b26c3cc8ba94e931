#pragma once

#include <kivo/kivodpoints_export.h>

#include <QVariant>

namespace kivo {

class DPointObject;

/// value converted from text into the representation of the point's type (int, double,
/// enumeration key, unsigned time); value unchanged when it is not text, the type takes text or
/// the point has no type; an invalid QVariant when the text does not fit the type.
KIVODPOINTS_EXPORT QVariant checkDPointType(QVariant value, DPointObject const& point);

} // namespace kivo
