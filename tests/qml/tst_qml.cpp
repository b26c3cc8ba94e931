// Runs the QML tests (tst_*.qml) against the built Kivo.Points module. Gives them the sample
// folder (samples), the README's QML snippet (readmeQml) and a device (device): a C++
// application's own kivo::DPointProvider (device.provider) holding the sample points, and the
// names of the points it has been asked to report (device.reporting), which shows the
// demand-driven reporting; device.setDisplaySystem switches its registry's display system.

#include <kivo/kivodpoints.h>

#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QUrl>
#include <QtQuickTest>

#include <memory>

class Device : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QObject* provider READ provider CONSTANT)
    Q_PROPERTY(QStringList reporting MEMBER m_reporting NOTIFY reportingChanged)

public:
    Device()
        : m_registry(kivo::MeasurementLoader::loadMeasurementRegistry(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/measurements.xml")))
    {
        kivo::TopicLogger::disableAllTopics();
        kivo::DPDictLoader loader(nullptr, nullptr, m_registry.get());
        m_dict.reset(loader.load(
            QStringLiteral(KIVO_SAMPLE_DATA_DIR "/boiler.xml"), QStringLiteral("boiler")));
        m_provider.addDict(m_dict.get());
        for (kivo::DPointDef* def : m_dict->getAllDefs()) {
            auto* point = new kivo::DPointObject;
            point->setObjectName(def->objectName());
            point->setDPointDef(def);
            m_provider.addPoint(point);
            connect(point, &kivo::DPointObject::covEnabled, this, [this, point] {
                m_reporting << point->objectName();
                Q_EMIT reportingChanged();
            });
        }
    }
    QObject* provider() { return &m_provider; }
    Q_INVOKABLE void report(const QString& name, const QVariant& value)
    {
        m_provider.getDPointByName(name)->setCurrentValue(value);
    }
    Q_INVOKABLE void setDisplaySystem(const QString& id) { m_registry->setDisplaySystemId(id); }

public Q_SLOTS:
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("device"), this);
        engine->rootContext()->setContextProperty(QStringLiteral("samples"),
            QUrl::fromLocalFile(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/")));
        engine->rootContext()->setContextProperty(QStringLiteral("readmeQml"), readmeQml());
    }

Q_SIGNALS:
    void reportingChanged();

private:
    static QString readmeQml()
    {
        QFile readme(QStringLiteral(KIVO_SAMPLE_DATA_DIR "/../../README.md"));
        if (!readme.open(QIODevice::ReadOnly))
            return QString();
        const QString text = QString::fromUtf8(readme.readAll());
        const QString start = QStringLiteral("```qml\n");
        const int begin = text.indexOf(start);
        const int end = text.indexOf(QStringLiteral("```"), begin + start.size());
        return begin < 0 || end < 0 ? QString()
                                    : text.mid(begin + start.size(), end - begin - start.size());
    }

    std::unique_ptr<kivo::MeasurementRegistry> m_registry;
    std::unique_ptr<kivo::DPointDictionary> m_dict;
    kivo::DPointProvider m_provider; // destroyed first: its points use the dictionary
    QStringList m_reporting;
};

QUICK_TEST_MAIN_WITH_SETUP(kivo_qml, Device)

#include "tst_qml.moc"
