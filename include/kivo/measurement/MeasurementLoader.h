#pragma once

#include <kivo/core/LoadFinding.h>
#include <kivo/kivodpoints_export.h>

#include <QObject>
#include <QString>

namespace kivo {

class MeasurementRegistry;

/// Reads a measurement file into a new MeasurementRegistry. Holds no state.
class KIVODPOINTS_EXPORT MeasurementLoader : public QObject
{
    Q_OBJECT
public:
    /// A loader; it holds nothing, loadMeasurementRegistry is static.
    explicit MeasurementLoader(QObject* parent = nullptr);
    ~MeasurementLoader() override;

    /// A new registry without parent, owned by the caller; null (after a critical log
    /// message) when the file cannot be opened or parsed.
    static MeasurementRegistry* loadMeasurementRegistry(const QString& path);
    /// The same, and with findings, what the load passed over or doubts, sorted by line:
    /// elements and attributes the format does not know inside a definition (with the nearest
    /// known name) and near misses of its names anywhere, numbers that read as 0, a scale of
    /// zero, entries that name no conversion, unit or system, ids defined again. findings is
    /// emptied first and stays empty when the file cannot be opened or parsed.
    static MeasurementRegistry* loadMeasurementRegistry(
        const QString& path, QVector<LoadFinding>* findings);

    /// The vocabulary of the measurement file: element (Node) and attribute (Attr) names.
    ///@{
    static const QString converterIdNode;
    static const QString dstUnitIdNode;
    static const QString labelNode;
    static const QString mSystemDefNode;
    static const QString mUnitConverterNode;
    static const QString mUnitDefNode;
    static const QString mUnitDef2ConverterNode;
    static const QString offsetNode;
    static const QString resolutionNode;
    static const QString scaleNode;
    static const QString srcUnitIdNode;
    static const QString idAttr;
    ///@}
};

} // namespace kivo
