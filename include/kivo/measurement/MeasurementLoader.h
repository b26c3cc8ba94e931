#pragma once

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
