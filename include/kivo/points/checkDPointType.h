#pragma once

#include <kivo/kivodpoints_export.h>

#include <QVariant>

namespace kivo {

class DPointObject;

/// Text converted to the point's value type, other values unchanged; invalid when it does not fit.
KIVODPOINTS_EXPORT QVariant checkDPointType(QVariant value, DPointObject const& point);

} // namespace kivo
