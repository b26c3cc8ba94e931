// The QML module Kivo.Points: PointProvider, Point and PointModel over the kivodpoints library.

#include "Point.h"
#include "PointModel.h"
#include "PointProvider.h"

#include <qqml.h>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

#include <QQmlEngineExtensionPlugin>

// Written by qt_add_qml_module from the types' QML_ELEMENT declarations; it also registers them.
void qml_register_types_Kivo_Points();

class KivoPointsPlugin : public QQmlEngineExtensionPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QQmlEngineExtensionInterface_iid)

public:
    explicit KivoPointsPlugin(QObject* parent = nullptr)
        : QQmlEngineExtensionPlugin(parent)
    {
        // Referenced, so that the linker keeps the registrations.
        volatile auto registration = &qml_register_types_Kivo_Points;
        Q_UNUSED(registration)
    }
};

#else

#include <QQmlExtensionPlugin>

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

#endif

#include "KivoPointsPlugin.moc"
