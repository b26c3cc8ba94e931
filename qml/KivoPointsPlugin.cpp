// The QML module Kivo.Points: PointProvider, Point and PointModel over the kivodpoints library.

#include "Point.h"
#include "PointModel.h"
#include "PointProvider.h"

#include <QQmlExtensionPlugin>
#include <qqml.h>

class KivoPointsPlugin : public QQmlExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlExtensionInterface_iid)

public:
    void registerTypes(const char* uri) override
    {
        // 1.0 is the module's only version so far.
        qmlRegisterType<kivo::PointProvider>(uri, 1, 0, "PointProvider");
        qmlRegisterType<kivo::Point>(uri, 1, 0, "Point");
        qmlRegisterType<kivo::PointModel>(uri, 1, 0, "PointModel");
    }
};

#include "KivoPointsPlugin.moc"
