#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/points/checkDPointType.h>
#include <kivo/remote/DPointMirror.h>
#include <kivo/remote/DPointPublisher.h>
#include <kivo/remote/MqttConnection.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace kivo {
namespace tool {

namespace {

// SIGINT and SIGTERM end the event loop through a socket pair, so that the commands stop in
// order (the publisher says "offline") instead of dying.
int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    if (::write(signalPipe[0], &byte, 1) < 0) {
        // Nothing sensible can be done inside a signal handler.
    }
}

void quitOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte = 0;
        if (::read(signalPipe[1], &byte, 1) >= 0)
            QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool configure(MqttConnection* connection, const RemoteOptions& options)
{
    if (!connection->setBrokerUrl(options.broker)) {
        printError(QStringLiteral("'") + options.broker
            + QStringLiteral("' is no broker address: use mqtt://HOST[:PORT], "
                             "mqtts://HOST[:PORT] or the path of a local socket"));
        return false;
    }
    if (!options.clientId.isEmpty())
        connection->setClientId(options.clientId);
    QString password = options.password;
    if (password.isEmpty())
        password = qEnvironmentVariable("KIVO_MQTT_PASSWORD");
    connection->setCredentials(options.user, password);
    if (!options.caFile.isEmpty())
        connection->setCaFile(options.caFile);
    if (!options.certFile.isEmpty())
        connection->setClientCertificate(options.certFile, options.keyFile);
    if (options.keepAlive > 0)
        connection->setKeepAlive(options.keepAlive);
    QObject::connect(
        connection, &MqttConnection::errorOccurred, [](const QString& text) { printError(text); });
    QObject::connect(connection, &MqttConnection::disconnected, [connection](const QString& why) {
        if (connection->state() != MqttConnection::Disconnected)
            printError(QStringLiteral("disconnected from the broker: ") + why);
    });
    return true;
}

bool validDevice(const QString& device)
{
    if (DPointPublisher::isValidDeviceName(device))
        return true;
    printError(QStringLiteral("'") + device
        + QStringLiteral("' cannot be a device name: use letters, digits, '-' and '_'"));
    return false;
}

// Plays the device behind the published points: values that move within their limits, writes
// confirmed after a short delay, refused for the points named with --refuse.
class Simulator : public QObject
{
public:
    Simulator(DPointProvider* provider, const QStringList& refused, QObject* parent)
        : QObject(parent)
        , m_refused(refused)
    {
        for (QString& name : m_refused)
            name = name.toLower();
        const QList<DPointObject*> points = provider->getAllPoints();
        for (DPointObject* point : points) {
            QObject::connect(point, &DPointObject::covEnabled, this, [this, point](bool enable) {
                if (enable && !point->isAvailable())
                    report(point, initialValue(point));
            });
            QObject::connect(point, &DPointObject::updatePending, this,
                [this, point] { QTimer::singleShot(300, this, [this, point] { answer(point); }); });
            const DPointDef* def = point->getDPointDef();
            if (def && !def->m_writable && def->m_type
                && (qobject_cast<const DPTypeNumber*>(def->m_type)
                    || qobject_cast<const DPTypeReal*>(def->m_type)))
                m_measurements.append(point);
        }
        m_timer.setInterval(1000);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { move(); });
        m_timer.start();
    }

private:
    // The definition's default, or for a number without one the middle of its limits.
    static QVariant initialValue(DPointObject* point)
    {
        const DPointDef* def = point->getDPointDef();
        if (!def || !def->m_type)
            return QVariant();
        const QVariant value = checkDPointType(def->m_type->getDefaultValue(), *point);
        if (value.isValid())
            return value;
        if (const auto* number = qobject_cast<const DPTypeNumber*>(def->m_type))
            return QVariant(number->m_min + (number->m_max - number->m_min) / 2);
        if (const auto* real = qobject_cast<const DPTypeReal*>(def->m_type))
            return std::isnan(real->m_min) ? QVariant(0.0)
                                           : QVariant((real->m_min + real->m_max) / 2);
        return value;
    }

    void report(DPointObject* point, const QVariant& value)
    {
        if (!value.isValid())
            return;
        m_held.insert(point, value);
        point->setCurrentValue(value);
    }

    void answer(DPointObject* point)
    {
        if (!point->isPending())
            return;
        if (m_refused.contains(point->objectName())) {
            point->setUpdateComplete(m_held.value(point, QVariant()),
                StatRef(new StatBase(
                    QStringLiteral("E42"), QStringLiteral("Refused by the simulated device"))));
            return;
        }
        m_held.insert(point, point->getPendingValue());
        point->setUpdateComplete(point->getPendingValue(), StatRef());
    }

    void move()
    {
        for (DPointObject* point : qAsConst(m_measurements)) {
            if (!point->isAvailable())
                continue;
            const DPointDef* def = point->getDPointDef();
            double min = 0.0;
            double max = 0.0;
            if (const auto* number = qobject_cast<const DPTypeNumber*>(def->m_type)) {
                min = number->m_min;
                max = number->m_max;
            } else if (const auto* real = qobject_cast<const DPTypeReal*>(def->m_type)) {
                min = real->m_min;
                max = real->m_max;
            }
            if (!(max > min))
                continue;
            const double value = point->getCurrentValue().toDouble();
            const double step = (max - min) / 50.0;
            double next = value + (QRandomGenerator::global()->bounded(2.0) - 1.0) * step;
            next = std::min(max, std::max(min, next));
            if (qobject_cast<const DPTypeNumber*>(def->m_type))
                report(point, QVariant(int(std::lround(next))));
            else
                report(point, QVariant(next));
        }
    }

    QStringList m_refused;
    QList<DPointObject*> m_measurements;
    QHash<DPointObject*, QVariant> m_held;
    QTimer m_timer;
};

// The panel side of watch and write: a connection and a mirror filling a provider.
struct MirrorSession
{
    explicit MirrorSession(const RemoteOptions& options)
        : mirror(&connection, &provider, options.device)
    {
        if (!options.prefix.isEmpty())
            mirror.setPrefix(options.prefix);
        QObject::connect(&mirror, &DPointMirror::warning,
            [](const QString& text) { printError(QStringLiteral("warning: ") + text); });
        if (!options.displaySystem.isEmpty()) {
            QObject::connect(&mirror, &DPointMirror::ready,
                [this, options] { mirror.registry()->setDisplaySystemId(options.displaySystem); });
        }
        configured = validDevice(options.device) && configure(&connection, options);
    }

    MqttConnection connection;
    DPointProvider provider;
    DPointMirror mirror;
    bool configured = false;
};

} // namespace

int runPublish(const RemoteOptions& options, const QString& measurementsPath,
    const QStringList& dictionaryPaths)
{
    if (!validDevice(options.device))
        return ExitFailure;
    const QString measurements = measurementsPathOrDefault(measurementsPath);
    const QStringList dictionaries = dictionaryPathsOrDefault(dictionaryPaths);
    if (measurements.isEmpty() || dictionaries.isEmpty())
        return ExitFailure;
    const std::unique_ptr<MeasurementRegistry> registry = loadRegistry(measurements, false);
    if (!registry)
        return ExitFailure;

    MqttConnection connection;
    if (!configure(&connection, options))
        return ExitFailure;
    DPointProvider provider;
    DPointPublisher publisher(&connection, &provider, options.device);
    if (!options.prefix.isEmpty())
        publisher.setPrefix(options.prefix);
    publisher.setHomeAssistantDiscovery(options.homeAssistant);
    QObject::connect(&publisher, &DPointPublisher::warning,
        [](const QString& text) { printError(QStringLiteral("warning: ") + text); });

    std::vector<LoadedDictionary> loaded;
    for (const QString& path : dictionaries) {
        loaded.push_back(loadDictionary(path, registry.get()));
        DPointDictionary* dict = loaded.back().dictionary.get();
        if (!dict)
            return ExitFailure;
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        publisher.addDictionaryFile(loaded.back().name, file.readAll());
        provider.addDict(dict);
        const QList<DPointDef*> defs = dict->getAllDefs();
        for (DPointDef* def : defs) {
            auto* point = new DPointObject;
            point->setObjectName(def->objectName());
            point->setDPointDef(def);
            provider.addPoint(point);
        }
    }
    QFile units(measurements);
    units.open(QIODevice::ReadOnly);
    publisher.setUnitsFile(units.readAll());

    if (options.simulate)
        new Simulator(&provider, options.refused, &provider);
    QObject::connect(&connection, &MqttConnection::connected, [&] {
        out() << "online: " << provider.getAllPoints().size() << " points of " << options.device
              << " on " << options.broker << '\n';
        out().flush();
    });
    quitOnSignals();
    if (!publisher.start())
        return ExitFailure;
    QCoreApplication::exec();
    publisher.stop(options.clearRetained);
    out() << "offline\n";
    return ExitOk;
}

int runWatch(const RemoteOptions& options, const QStringList& pointNames)
{
    MirrorSession session(options);
    if (!session.configured)
        return ExitFailure;
    DPointProvider& provider = session.provider;
    DPointMirror& mirror = session.mirror;
    QObject::connect(&mirror, &DPointMirror::deviceOnlineChanged, [&options](bool online) {
        printError(options.device
            + (online ? QStringLiteral(" is online") : QStringLiteral(" is offline")));
    });

    int status = ExitOk;
    int printed = 0;
    bool watching = false;
    auto print = [&](DPointObject* point) {
        const DPointDef* def = point->getDPointDef();
        const QString name = def ? def->objectName() : point->objectName();
        out() << name << ": " << DPointDisplay::displayText(def, point->getCurrentValue()) << '\n';
        out().flush();
        if (options.count > 0 && ++printed >= options.count)
            QCoreApplication::quit();
    };
    QObject::connect(&mirror, &DPointMirror::ready, [&] {
        if (watching)
            return;
        watching = true;
        QList<DPointObject*> points;
        if (pointNames.isEmpty()) {
            points = provider.getAllPoints();
        }
        for (const QString& name : pointNames) {
            DPointObject* point = provider.getDPointByName(name);
            if (!point) {
                printError(QStringLiteral("device ") + options.device
                    + QStringLiteral(" has no point '") + name + QLatin1Char('\''));
                status = ExitFailure;
                QCoreApplication::quit();
                return;
            }
            points.append(point);
        }
        for (DPointObject* point : qAsConst(points)) {
            QObject::connect(point, &DPointObject::valueChanged,
                [&print](DPointObject* changed) { print(changed); });
            point->getCurrentValue(); // subscribes; the retained value follows
        }
    });
    QObject::connect(&mirror, &DPointMirror::statusChanged, [&](DPointMirror::Status now) {
        if (now == DPointMirror::Error && !watching) {
            printError(mirror.errorString());
            status = ExitFailure;
            QCoreApplication::quit();
        }
    });
    quitOnSignals();
    if (!mirror.start())
        return ExitFailure;
    QCoreApplication::exec();
    mirror.disconnect();
    return status;
}

int runWrite(const RemoteOptions& options, const QString& pointName, const QString& value)
{
    MirrorSession session(options);
    if (!session.configured)
        return ExitFailure;
    DPointProvider& provider = session.provider;
    DPointMirror& mirror = session.mirror;
    MqttConnection& connection = session.connection;
    if (options.timeoutMs > 0)
        mirror.setWriteTimeout(options.timeoutMs);

    int status = ExitFailure;
    DPointObject* point = nullptr;
    auto finish = [&](int exitStatus) {
        status = exitStatus;
        QCoreApplication::quit();
    };
    auto request = [&] {
        const DPointDef* def = point->getDPointDef();
        QString reason;
        QVariant raw;
        if (def && def->m_writable)
            raw = checkDPointType(DPointDisplay::rawValue(def, value, &reason), *point);
        if (reason.isEmpty())
            reason = DPointDisplay::checkWrite(def, raw);
        if (!reason.isEmpty()) {
            out() << "refused: " << reason << '\n';
            finish(ExitWarnings);
            return;
        }
        if (point->isAvailable()
            && DPointDisplay::displayText(def, raw)
                == DPointDisplay::displayText(def, point->getCurrentValue())) {
            out() << "confirmed: " << DPointDisplay::displayText(def, raw) << " (unchanged)\n";
            finish(ExitOk);
            return;
        }
        QObject::connect(point, &DPointObject::updateCompleted, [&, def](bool success) {
            const QString held = DPointDisplay::displayText(def, point->getCurrentValue());
            if (success) {
                out() << "confirmed: " << held << '\n';
                finish(ExitOk);
                return;
            }
            const StatRef updateStatus = point->getUpdateStatus();
            const QString code = updateStatus.m_stat ? updateStatus.m_stat->getCode() : QString();
            out() << "refused: " << code << ' ' << DPointDisplay::statusText(updateStatus);
            if (!held.isEmpty())
                out() << " (holds " << held << ')';
            out() << '\n';
            static const QStringList noAnswer { QStringLiteral("TIMEOUT"),
                QStringLiteral("OFFLINE"), QStringLiteral("DISCONNECTED"),
                QStringLiteral("NO_DEVICE"), QStringLiteral("BAD_ANSWER") };
            finish(noAnswer.contains(code) ? ExitFailure : ExitWarnings);
        });
        point->setUpdatePending(raw, false);
        point->commitPending();
    };
    QTimer settle;
    settle.setSingleShot(true);
    QObject::connect(&settle, &QTimer::timeout, [&] { request(); });
    QObject::connect(&mirror, &DPointMirror::ready, [&] {
        if (point)
            return;
        point = provider.getDPointByName(pointName);
        if (!point) {
            printError(QStringLiteral("device ") + options.device
                + QStringLiteral(" has no point '") + pointName + QLatin1Char('\''));
            finish(ExitFailure);
            return;
        }
        // The point's retained value comes first, so that a write of the value it already
        // holds is recognised; a device that never published one gets a short grace.
        QObject::connect(point, &DPointObject::valueChanged, &settle, [&] {
            if (settle.isActive()) {
                settle.stop();
                request();
            }
        });
        settle.start(1000);
        point->getCurrentValue();
    });
    QObject::connect(&mirror, &DPointMirror::statusChanged, [&](DPointMirror::Status now) {
        if (now == DPointMirror::Error && !point) {
            printError(mirror.errorString());
            finish(ExitFailure);
        }
    });
    // Without any answer from the broker or the device, give up after the write timeout.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [&] {
        if (!point) {
            printError(connection.isConnected()
                    ? QStringLiteral("device ") + options.device
                        + QStringLiteral(" did not publish its files")
                    : QStringLiteral("cannot reach the broker: ") + connection.errorString());
            finish(ExitFailure);
        }
    });
    giveUp.start(mirror.writeTimeout());
    if (!mirror.start())
        return ExitFailure;
    QCoreApplication::exec();
    out().flush();
    return status;
}

} // namespace tool
} // namespace kivo
