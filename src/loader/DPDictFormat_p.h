#pragma once

#include <kivo/loader/DPDictFormat.h>

namespace kivo {

/// DPDictFormat::selectType from texts: the point kind of the DataItem's type, the texts of its
/// EventType (and that element's "changeable"), AckType, ResetType and Epoch children.
DPDictFormat::Selection selectTypeFromTexts(DPDictFormat::PointKind kind, const QString& eventType,
    const QString& changeable, const QString& ackType, const QString& resetType,
    const QString& epoch);

} // namespace kivo
