#pragma once

#include <QVariant>

namespace kivo {

class DPTypeBase;

// The value check of checkDPointType for a type object (null: value unchanged), shared with
// DPointDisplay so that labels and numbers typed as text are read the same way everywhere.
QVariant checkValueType(QVariant value, const DPTypeBase* type);

} // namespace kivo
