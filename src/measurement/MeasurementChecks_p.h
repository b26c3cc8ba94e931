#pragma once

#include <kivo/core/LoadFinding.h>

#include <QVector>

class QDomDocument;

namespace kivo {

class MeasurementRegistry;

/// What MeasurementLoader passed over or doubts in document (the file at path), which it loaded
/// into registry, sorted by line.
QVector<LoadFinding> checkMeasurementDocument(
    const QDomDocument& document, MeasurementRegistry& registry, const QString& path);

} // namespace kivo
