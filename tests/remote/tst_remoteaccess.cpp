#include "MosquittoBroker.h"
#include "RemoteFixtures.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace kivo;
using namespace kivo::test;

namespace {

const char devicePassword[] = "dev-Secret-7731";
const char panelPassword[] = "panel-Secret-4417";

// Every message the process writes through Qt while the test runs.
QStringList* capturedMessages = nullptr;

void capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (capturedMessages)
        capturedMessages->append(message);
}

bool runQuietly(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

QString status(DPointObject* point)
{
    const StatRef status = point->getUpdateStatus();
    return status.m_stat ? status.m_stat->getCode() + ": " + status.m_stat->getMsg() : "ok";
}

} // namespace

// A broker as a plant would run it: TLS only for the clients that matter, a password per user,
// and an access list that lets the panel read the device and write only its set topics (and
// not the pump's mode).
class TestRemoteAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString passwords = m_broker.filePath("passwd");
        QVERIFY(
            runQuietly("mosquitto_passwd", { "-b", "-c", passwords, "boiler1", devicePassword }));
        QVERIFY(runQuietly("mosquitto_passwd", { "-b", passwords, "panel", panelPassword }));
        QFile acl(m_broker.filePath("acl"));
        QVERIFY(acl.open(QIODevice::WriteOnly));
        acl.write("user boiler1\n"
                  "topic readwrite kivo/boiler1/#\n"
                  "\n"
                  "user panel\n"
                  "topic read kivo/boiler1/#\n"
                  "topic write kivo/boiler1/p/+/set\n"
                  "topic deny kivo/boiler1/p/pumpmode/set\n");
        acl.close();
        // Another authority's certificate, which the panel must not trust the broker with.
        QVERIFY(m_otherCa.isValid());
        QVERIFY(runQuietly("openssl",
            { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-days", "2", "-subj", "/CN=other authority", "-keyout",
                m_otherCa.filePath("other.key"), "-out", m_otherCa.filePath("other.crt") }));
        QVERIFY(m_broker.start());

        capturedMessages = &m_messages;
        m_previousHandler = qInstallMessageHandler(capture);
        // Every trace topic on: no line of any of them may carry a password.
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, true);

        m_device.reset(new BoilerDevice(m_broker.tlsUrl(), "boiler1"));
        m_device->connection.setCaFile(m_broker.caFile());
        m_device->connection.setCredentials("boiler1", devicePassword);
        QSignalSpy connected(&m_device->connection, &MqttConnection::connected);
        QVERIFY(m_device->publisher.start());
        QVERIFY(connected.wait(10000));
    }

    void cleanupTestCase()
    {
        m_device.reset();
        qInstallMessageHandler(m_previousHandler);
        capturedMessages = nullptr;
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
        m_broker.stop();
    }

    // The panel with the broker's authority and its own password mirrors the device and
    // writes a point it may write; a write the access list forbids is refused with the
    // broker's answer, at once rather than at the timeout.
    void panelMirrorsAndWrites()
    {
        Panel panel(m_broker.tlsUrl(), "boiler1");
        panel.connection.setCaFile(m_broker.caFile());
        panel.connection.setCredentials("panel", panelPassword);
        QSignalSpy ready(&panel.mirror, &DPointMirror::ready);
        QVERIFY(panel.mirror.start());
        QVERIFY(ready.wait(10000));
        QTRY_VERIFY_WITH_TIMEOUT(panel.mirror.isDeviceOnline(), 5000);

        DPointObject* setpoint = panel.point("supplysetpoint");
        QVERIFY(setpoint);
        QSignalSpy completed(setpoint, &DPointObject::updateCompleted);
        setpoint->setUpdatePending(850, false);
        setpoint->commitPending();
        QVERIFY(completed.wait(5000));
        QCOMPARE(completed.first().first().toBool(), true);
        QCOMPARE(m_device->point("supplysetpoint")->getCurrentValue(), QVariant(850));

        DPointObject* pumpMode = panel.point("pumpmode");
        QVERIFY(pumpMode);
        QSignalSpy refused(pumpMode, &DPointObject::updateCompleted);
        QElapsedTimer timer;
        timer.start();
        pumpMode->setUpdatePending(0, false);
        pumpMode->commitPending();
        QVERIFY(refused.wait(5000));
        QCOMPARE(refused.first().first().toBool(), false);
        QCOMPARE(status(pumpMode), QString("BROKER: Not authorized"));
        QVERIFY2(timer.elapsed() < panel.mirror.writeTimeout() / 2,
            qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_device->point("pumpmode")->isPending(), false);
    }

    // Connections the broker or the panel refuses, with the reason in the connection's error.
    void refusedConnections_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("otherAuthority");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong password")
            << "panel"
            << "guess" << false << "The broker refused the connection: Not authorized";
        QTest::newRow("certificate from another authority")
            << "panel" << panelPassword << true << "TLS";
    }

    void refusedConnections()
    {
        QFETCH(QString, userName);
        QFETCH(QString, password);
        QFETCH(bool, otherAuthority);
        QFETCH(QString, reason);
        MqttConnection connection;
        QVERIFY(connection.setBrokerUrl(m_broker.tlsUrl()));
        connection.setCaFile(otherAuthority ? m_otherCa.filePath("other.crt") : m_broker.caFile());
        connection.setCredentials(userName, password);
        connection.setReconnectDelay(60000, 60000);
        QSignalSpy errors(&connection, &MqttConnection::errorOccurred);
        QSignalSpy connected(&connection, &MqttConnection::connected);
        QVERIFY(connection.open());
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 10000);
        QVERIFY2(errors.first().first().toString().contains(reason),
            qPrintable(errors.first().first().toString()));
        QVERIFY(connection.errorString().contains(reason));
        QCOMPARE(connected.count(), 0);
        connection.close();
    }

    // Last, after everything above has run with the passwords: none of them is in a message
    // or trace line of the process.
    void noPasswordInAnyLogLine()
    {
        QVERIFY(!m_messages.isEmpty()); // the trace topics were on
        for (const QString& message : qAsConst(m_messages)) {
            QVERIFY2(!message.contains(devicePassword) && !message.contains(panelPassword)
                    && !message.contains("guess"),
                qPrintable(message));
        }
    }

private:
    MosquittoBroker m_broker {
        { "allow_anonymous false", "password_file {dir}/passwd", "acl_file {dir}/acl" }, true
    };
    QTemporaryDir m_otherCa;
    std::unique_ptr<BoilerDevice> m_device;
    QStringList m_messages;
    QtMessageHandler m_previousHandler = nullptr;
};

QTEST_GUILESS_MAIN(TestRemoteAccess)
#include "tst_remoteaccess.moc"
