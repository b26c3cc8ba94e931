// Runs the QML tests (tst_*.qml) against the built Kivo.Points module. Gives them the sample
// folder (samples), the README's QML snippet (readmeQml) and a device (device): a C++
// application's own kivo::DPointProvider (device.provider) holding the sample points, and the
// names of the points it has been asked to report (device.reporting), which shows the
// demand-driven reporting; device.setDisplaySystem switches its registry's display system.
// Where the MQTT link is built, also a broker of the test's own with the sample boiler published
// on it (remote: its url, the device's name, and calls to stop and start the device and to have
// it refuse writes); null otherwise.

#include <kivo/kivodpoints.h>

#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QUrl>
#include <QtQuickTest>

#include <memory>

#ifdef KIVO_QML_REMOTE_TESTS
#include "MosquittoBroker.h"
#include "RemoteFixtures.h"

// A broker and a device publishing the sample boiler on it, for the remote PointProvider.
class Remote : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString url READ url CONSTANT)
    Q_PROPERTY(QString device READ device CONSTANT)

public:
    bool start()
    {
        if (!m_broker.start())
            return false;
        startDevice();
        return true;
    }
    QString url() const { return m_broker.url(); }
    QString device() const { return QStringLiteral("boiler1"); }
    // Publishes the device (again), confirming writes.
    Q_INVOKABLE void startDevice()
    {
        m_device.reset(new kivo::test::BoilerDevice(m_broker.url(), device()));
        m_device->publisher.start();
    }
    // Stops the device in order: the panels see it offline.
    Q_INVOKABLE void stopDevice() { m_device.reset(); }
    Q_INVOKABLE void refuseWrites(bool refuse)
    {
        m_device->answer
            = refuse ? kivo::test::BoilerDevice::Refuse : kivo::test::BoilerDevice::Confirm;
    }
    Q_INVOKABLE QVariant deviceValue(const QString& name)
    {
        return m_device ? m_device->point(name)->getCurrentValue() : QVariant();
    }

private:
    kivo::test::MosquittoBroker m_broker;
    std::unique_ptr<kivo::test::BoilerDevice> m_device;
};
#endif

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
        QObject* remote = nullptr;
#ifdef KIVO_QML_REMOTE_TESTS
        if (!m_remote) {
            m_remote = std::make_unique<Remote>();
            if (!m_remote->start())
                qWarning("the remote tests have no broker");
        }
        remote = m_remote.get();
#endif
        engine->rootContext()->setContextProperty(QStringLiteral("remote"), remote);
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
#ifdef KIVO_QML_REMOTE_TESTS
    std::unique_ptr<Remote> m_remote;
#endif
    QStringList m_reporting;
};

QUICK_TEST_MAIN_WITH_SETUP(kivo_qml, Device)

#include "tst_qml.moc"
