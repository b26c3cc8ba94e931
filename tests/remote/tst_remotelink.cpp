#include "MosquittoBroker.h"
#include "RemoteFixtures.h"

#include "TestTables.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/core/TopicLogger.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/types/DPTypeBase.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace kivo;
using namespace kivo::test;

namespace {

// The outcome of the point's last write: "ok" or "CODE: message".
QString status(DPointObject* point)
{
    const StatRef status = point->getUpdateStatus();
    return status.m_stat ? status.m_stat->getCode() + ": " + status.m_stat->getMsg() : "ok";
}

// Opens client to url and waits until the broker has accepted it.
bool openClient(MqttConnection& client, const QString& url)
{
    QSignalSpy connected(&client, &MqttConnection::connected);
    return client.setBrokerUrl(url) && client.open() && connected.wait(5000);
}

} // namespace

class TestRemoteLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        QVERIFY(m_broker.start());
    }

    void init()
    {
        std::fill(TopicLogger::m_topics, TopicLogger::m_topics + TopicLogger::m_maxTopics, false);
        QVERIFY(m_broker.isRunning() || m_broker.start());
        QVERIFY(link());
    }

    void cleanup()
    {
        m_panel.reset();
        m_device.reset();
    }

    // The panel builds the device's points from the files on the broker alone; a point's value
    // comes only once the point has been read, and stops coming when its reporting is off.
    void mirrorLoadsDeviceAndFollowsDemand()
    {
        DPointMirror& mirror = m_panel->mirror;
        QCOMPARE(mirror.status(), DPointMirror::Ready);
        QVERIFY(mirror.registry());
        QCOMPARE(mirror.dictionaries().size(), 1);
        QCOMPARE(mirror.dictionaries().at(0)->objectName(), QString("boiler"));
        QCOMPARE(m_panel->provider.getAllPoints().size(), m_device->provider.getAllPoints().size());
        for (DPointObject* point : m_panel->provider.getAllPoints()) {
            const DPointDef* def = point->getDPointDef();
            const DPointObject* original = m_device->point(point->objectName());
            QVERIFY(def && original);
            QCOMPARE(def->m_writable, original->getDPointDef()->m_writable);
            QVERIFY(!point->isAvailable());
        }
        QVERIFY(m_panel->provider.isConnected());
        QCOMPARE(mirror.subscribedPointCount(), 0);

        m_device->point("supplytemp")->setCurrentValue(815);
        DPointObject* supply = m_panel->point("supplytemp");
        supply->getCurrentValue();
        QCOMPARE(mirror.subscribedPointCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(supply->getCurrentValue(), QVariant(815), 5000);
        m_device->point("returntemp")->setCurrentValue(400);
        m_device->point("supplytemp")->setCurrentValue(820);
        QTRY_COMPARE_WITH_TIMEOUT(supply->getCurrentValue(), QVariant(820), 5000);
        QVERIFY(!m_panel->point("returntemp")->isAvailable());

        // The unsubscription is sent before the flue gas point's subscription, whose retained
        // value shows that the broker has taken both.
        supply->doCovEnable(false);
        DPointObject* flue = m_panel->point("fluegastemp");
        flue->getCurrentValue();
        QCOMPARE(mirror.subscribedPointCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(flue->isAvailable(), 5000);
        m_device->point("supplytemp")->setCurrentValue(830);
        m_device->point("fluegastemp")->setCurrentValue(99);
        QTRY_COMPARE_WITH_TIMEOUT(flue->getCurrentValue(), QVariant(99), 5000);
        QCOMPARE(supply->getCurrentValue(), QVariant(820));
    }

    void panelWrite_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QVariant>("after");
        const int confirm = BoilerDevice::Confirm;
        QTest::newRow("confirmed")
            << "supplysetpoint" << QVariant(850) << confirm << "ok" << QVariant(850);
        QTest::newRow("refused by the device with its code")
            << "supplysetpoint" << QVariant(850) << int(BoilerDevice::Refuse)
            << "E_BURNER: Not while the burner runs" << QVariant(820);
        QTest::newRow("the value the device holds completes without asking it")
            << "supplysetpoint" << QVariant(820) << int(BoilerDevice::Refuse) << "ok"
            << QVariant(820);
        QTest::newRow("enumeration label becomes its key")
            << "pumpmode" << QVariant("hand") << confirm << "ok" << QVariant(1);
        QTest::newRow("read-only point") << "supplytemp" << QVariant(900) << confirm
                                         << "READ_ONLY: The point is read-only" << QVariant(800);
        QTest::newRow("above the upper limit")
            << "supplysetpoint" << QVariant(2000) << confirm
            << "INVALID_VALUE: Above the upper limit 203.0 °F" << QVariant(820);
        QTest::newRow("text too long")
            << "boilertag" << QVariant("ABCDEFGHIJKLMNOPQ") << confirm
            << "INVALID_VALUE: Longer than 16 characters" << QVariant("BLR-1");
        QTest::newRow("text for an integer point")
            << "supplysetpoint" << QVariant("warm") << confirm
            << "INVALID_VALUE: \"warm\" is not a whole number of 32 bits" << QVariant(820);
    }

    // A write on the panel completes with the device's answer and the value it holds.
    void panelWrite()
    {
        QFETCH(QString, point);
        QFETCH(QVariant, value);
        QFETCH(int, answer);
        QFETCH(QString, status);
        QFETCH(QVariant, after);
        m_device->answer = BoilerDevice::Answer(answer);
        DPointObject* panel = read(point);
        QVERIFY(panel);
        QSignalSpy completed(panel, &DPointObject::updateCompleted);
        panel->setUpdatePending(value);
        QVERIFY(completed.wait(5000));
        QCOMPARE(completed.takeFirst().at(0).toBool(), status == "ok");
        QCOMPARE(::status(panel), status);
        QVERIFY(!panel->isPending());
        QCOMPARE(panel->getCurrentValue(), after);
        QCOMPARE(m_device->point(point)->getCurrentValue(), after);
        QVERIFY(!m_device->point(point)->isPending());
    }

    // Each row: name|point|request|the answer.
    void request_data() { addTableRows("remote/requests.txt"); }

    // Requests as any MQTT 5 client sends them: answered on their response topic with their
    // correlation data; a refused one leaves the device's point untouched.
    void request()
    {
        QFETCH(QStringList, row);
        const QString point = row[1];
        const QByteArray answer = row[3].toUtf8();
        MqttConnection client;
        QSignalSpy received(&client, &MqttConnection::messageReceived);
        QVERIFY(client.subscribe("answers/client") && openClient(client, m_broker.url()));
        MqttMessage message;
        message.topic = m_device->publisher.topic("p/" + point + "/set");
        message.payload = row[2].toUtf8();
        message.responseTopic = "answers/client";
        message.correlationData = "c-17";
        QVERIFY(client.publish(message) > 0);
        QVERIFY(received.wait(5000));
        const auto got = received.takeFirst().at(0).value<MqttMessage>();
        QCOMPARE(got.payload, answer);
        QCOMPARE(got.correlationData, QByteArray("c-17"));
        if (DPointObject* device = m_device->point(point)) {
            QVERIFY(!device->isPending());
            if (answer.contains("refused"))
                QCOMPARE(
                    device->getCurrentValue(), device->getDPointDef()->m_type->getDefaultValue());
        }
    }

    // Applied, and answered nowhere.
    void requestWithoutResponseTopic()
    {
        MqttConnection client;
        QSignalSpy received(&client, &MqttConnection::messageReceived);
        QVERIFY(client.subscribe("#") && openClient(client, m_broker.url()));
        QSignalSpy warnings(&m_device->publisher, &DPointPublisher::warning);
        client.publish(m_device->publisher.topic("p/supplysetpoint/set"), "{\"v\":860}");
        QTRY_COMPARE_WITH_TIMEOUT(
            m_device->point("supplysetpoint")->getCurrentValue(), QVariant(860), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_device->point("supplysetpoint")->isPending(), 5000);
        client.publish("marker", "end");
        QTRY_VERIFY_WITH_TIMEOUT(
            !received.isEmpty() && received.last().at(0).value<MqttMessage>().topic == "marker",
            5000);
        for (const QList<QVariant>& arguments : qAsConst(received))
            QVERIFY(!arguments.at(0).value<MqttMessage>().payload.startsWith("{\"status\""));
        QCOMPARE(warnings.count(), 0);
    }

    // A device that never answers: the write completes as refused after the panel's timeout,
    // with the value the device reports.
    void writeTimeout()
    {
        m_device->answer = BoilerDevice::Silent;
        m_panel->mirror.setWriteTimeout(300);
        DPointObject* panel = read("supplysetpoint");
        QVERIFY(panel);
        QSignalSpy completed(panel, &DPointObject::updateCompleted);
        QElapsedTimer timer;
        timer.start();
        panel->setUpdatePending(850);
        QVERIFY(completed.wait(5000));
        QVERIFY2(timer.elapsed() >= 300 && timer.elapsed() < 2000,
            qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(status(panel), QString("TIMEOUT: The device did not answer within 0.3 s"));
        // The device side gives up at the request's expiry, a whole second, and publishes what
        // its point then holds; the panel ends with the device's value.
        QTRY_VERIFY_WITH_TIMEOUT(!m_device->point("supplysetpoint")->isPending(), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(
            panel->getCurrentValue(), m_device->point("supplysetpoint")->getCurrentValue(), 3000);
    }

    // "$state" offline refuses the pending writes and every new one at once; online again
    // takes writes again.
    void deviceOffline()
    {
        m_device->answer = BoilerDevice::Silent;
        DPointObject* panel = read("supplysetpoint");
        QVERIFY(panel);
        QSignalSpy completed(panel, &DPointObject::updateCompleted);
        QSignalSpy online(&m_panel->mirror, &DPointMirror::deviceOnlineChanged);
        panel->setUpdatePending(850);
        QTRY_VERIFY_WITH_TIMEOUT(m_device->point("supplysetpoint")->isPending(), 5000);

        m_device->publisher.stop();
        QVERIFY(completed.wait(5000));
        QCOMPARE(status(panel), QString("OFFLINE: The device is offline"));
        QCOMPARE(online.count(), 1);
        QCOMPARE(online.takeFirst().at(0).toBool(), false);
        QVERIFY(!m_panel->mirror.isDeviceOnline());
        QVERIFY(!m_panel->provider.isConnected());

        panel->setUpdatePending(860, false);
        panel->commitPending();
        QVERIFY(!panel->isPending());
        QCOMPARE(status(panel), QString("OFFLINE: The device is offline"));

        // The device side answers the request it took before going offline, too late.
        m_device->answer = BoilerDevice::Confirm;
        QVERIFY(m_device->publisher.start());
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->provider.isConnected(), 5000);
        QCOMPARE(online.count(), 1);
        m_device->point("supplysetpoint")->setUpdateComplete(820, StatRef());
        panel->setUpdatePending(870);
        QVERIFY(completed.wait(5000));
        QCOMPARE(status(panel), QString("ok"));
    }

    // Broker gone and back while a write is pending: the write is refused, both ends reconnect
    // by themselves, and the panel's values end equal to the device's.
    void brokerRestart()
    {
        m_device->answer = BoilerDevice::Silent;
        m_panel->mirror.setWriteTimeout(1000);
        DPointObject* setpoint = read("supplysetpoint");
        DPointObject* temperature = read("supplytemp");
        QVERIFY(setpoint && temperature);
        setpoint->setUpdatePending(850);
        QTRY_VERIFY_WITH_TIMEOUT(m_device->point("supplysetpoint")->isPending(), 5000);

        // Killed, so that it sends no will: on an orderly stop the device's will may reach the
        // panel before the loss of its own connection.
        QSignalSpy online(&m_panel->mirror, &DPointMirror::deviceOnlineChanged);
        m_broker.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!setpoint->isPending(), 5000);
        QCOMPARE(status(setpoint), QString("DISCONNECTED: The connection to the broker was lost"));
        QCOMPARE(online.count(), 1);
        QVERIFY(!m_panel->provider.isConnected());
        m_device->point("supplytemp")->setCurrentValue(777);

        QVERIFY(m_broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->provider.isConnected(), 10000);
        QCOMPARE(m_panel->mirror.subscribedPointCount(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(temperature->getCurrentValue(), QVariant(777), 5000);

        m_device->answer = BoilerDevice::Confirm;
        QTRY_VERIFY_WITH_TIMEOUT(!m_device->point("supplysetpoint")->isPending(), 5000);
        QSignalSpy completed(setpoint, &DPointObject::updateCompleted);
        setpoint->setUpdatePending(870);
        QVERIFY(completed.wait(5000));
        QCOMPARE(status(setpoint), QString("ok"));
        QCOMPARE(m_device->point("supplysetpoint")->getCurrentValue(), QVariant(870));
    }

    // A broker back without the device: the device's state is unknown until the device tells
    // it again, and writes are refused meanwhile.
    void brokerBackWithoutDevice()
    {
        m_broker.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!m_panel->provider.isConnected(), 5000);
        m_device.reset();
        QVERIFY(m_broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(m_panel->connection.isConnected(), 10000);
        QVERIFY(!m_panel->provider.isConnected());
        QVERIFY(!m_panel->mirror.isDeviceOnline());
        DPointObject* point = m_panel->point("supplysetpoint");
        point->setUpdatePending(850, false);
        point->commitPending();
        QVERIFY(!point->isPending());
        QCOMPARE(status(point), QString("OFFLINE: The device is offline"));
    }

    // Each row: name|topic level|payload|the warning ("*" at the end stands for any rest).
    void badPublication_data() { addTableRows("remote/publications.txt"); }

    // What the panel cannot use from the broker is passed over with a warning; the points keep
    // their definitions and last good values.
    void badPublication()
    {
        QFETCH(QStringList, row);
        const QString level = row[1];
        const QString warning = row[3];
        DPointObject* panel = read("supplysetpoint");
        QVERIFY(panel);
        const DPointDef* def = panel->getDPointDef();
        QSignalSpy warnings(&m_panel->mirror, &DPointMirror::warning);
        MqttConnection client;
        QVERIFY(openClient(client, m_broker.url()));
        if (level == "$units")
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("PXC parsing failure"));
        client.publish(m_device->publisher.topic(level), row[2].toUtf8(), 1, true);
        QVERIFY(warnings.wait(5000));
        const QString text = warnings.takeFirst().at(0).toString();
        QVERIFY2(warning.endsWith('*') ? text.startsWith(warning.chopped(1)) : text == warning,
            qPrintable(text));
        QCOMPARE(panel->getCurrentValue(), QVariant(820));
        QCOMPARE(panel->getDPointDef(), def);
        QCOMPARE(m_panel->mirror.dictionaries().size(), 1);
        QCOMPARE(m_panel->provider.getAllPoints().size(), m_device->provider.getAllPoints().size());
    }

    void mosquittoClients_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("output");
        const auto row = [](const char* name, const char* program, const char* level,
                             const char* message, const QByteArray& output) {
            QTest::newRow(name) << QString(program) << QString(level) << QString(message) << output;
        };
        row("mosquitto_rr writes in display units", "mosquitto_rr", "p/supplysetpoint/set",
            "{\"text\":\"185.0 °F\"}",
            "{\"status\":\"confirmed\",\"v\":850,\"text\":\"185.0 °F\",\"code\":\"\","
            "\"message\":\"\"}\n");
        row("mosquitto_rr refused", "mosquitto_rr", "p/boilertag/set", "{\"text\":\"BLR/1\"}",
            "{\"status\":\"refused\",\"v\":\"BLR-1\",\"text\":\"BLR-1\",\"code\":"
            "\"INVALID_VALUE\",\"message\":\"Has characters that are not allowed\"}\n");
        row("mosquitto_sub reads the state", "mosquitto_sub", "$state", "", "online\n");
        row("mosquitto_sub reads a value", "mosquitto_sub", "p/pumpmode", "",
            "{\"v\":2,\"text\":\"Auto\",\"ts\":");
        row("mosquitto_sub reads the dictionary file", "mosquitto_sub", "$dict/boiler", "",
            sampleFile("boiler.xml") + '\n');
    }

    // The broker's own clients read and write the device from the topic table alone.
    void mosquittoClients()
    {
        QFETCH(QString, program);
        QFETCH(QString, level);
        QFETCH(QString, message);
        QFETCH(QByteArray, output);
        QStringList arguments { "-h", "127.0.0.1", "-p", QString::number(m_broker.port()), "-t",
            m_device->publisher.topic(level), "-W", "5" };
        arguments += program == "mosquitto_rr"
            ? QStringList { "-e", "answers/rr", "-q", "1", "-m", message }
            : QStringList { "-C", "1" };
        QProcess client;
        QSignalSpy finished(&client, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
        client.start(program, arguments);
        QVERIFY(finished.wait(10000));
        QCOMPARE(client.exitCode(), 0);
        const QByteArray printed = client.readAllStandardOutput();
        if (output.endsWith('\n'))
            QCOMPARE(printed, output);
        else
            QVERIFY2(printed.startsWith(output), printed.constData());
    }

private:
    // The panel's point once read, holding the value the device reports; null when none comes.
    DPointObject* read(const QString& name)
    {
        DPointObject* point = m_panel->point(name);
        point->getCurrentValue();
        return QTest::qWaitFor([point] { return point->isAvailable(); }, 5000) ? point : nullptr;
    }

    // A device on a name of its own, and a panel that has loaded its files.
    bool link()
    {
        const QString device = QString("boiler%1").arg(++m_links);
        m_device.reset(new BoilerDevice(m_broker.url(), device));
        m_panel.reset(new Panel(m_broker.url(), device));
        QSignalSpy ready(&m_panel->mirror, &DPointMirror::ready);
        return m_device->publisher.start() && m_panel->mirror.start() && ready.wait(5000)
            && m_panel->mirror.isDeviceOnline();
    }

    MosquittoBroker m_broker;
    int m_links = 0;
    std::unique_ptr<BoilerDevice> m_device;
    std::unique_ptr<Panel> m_panel;
};

QTEST_GUILESS_MAIN(TestRemoteLink)
#include "tst_remotelink.moc"
