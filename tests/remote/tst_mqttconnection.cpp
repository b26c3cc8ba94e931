#include "MosquittoBroker.h"

#include <kivo/remote/MqttConnection.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace kivo;
using kivo::test::MosquittoBroker;

namespace {

QStringList s_messages;

// Opens connection to url and waits until the broker accepted it.
bool openAndWait(MqttConnection& connection, const QString& url)
{
    QSignalSpy connected(&connection, &MqttConnection::connected);
    return connection.setBrokerUrl(url) && connection.open()
        && (connection.isConnected() || connected.wait(5000));
}

} // namespace

class TestMqttConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_broker.start()); }

    void brokerUrl_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("mqtt with port") << "mqtt://127.0.0.1:1884" << true;
        QTest::newRow("mqtt with the default port") << "mqtt://broker.example" << true;
        QTest::newRow("mqtt with a trailing slash") << "mqtt://broker.example:1883/" << true;
        QTest::newRow("mqtts") << "mqtts://broker.example:8884" << true;
        QTest::newRow("absolute socket path") << "/run/mosquitto/broker.sock" << true;
        QTest::newRow("unix url") << "unix:///run/mosquitto/broker.sock" << true;
        QTest::newRow("unix url with a host") << "unix://host/run/broker.sock" << false;
        QTest::newRow("unix url without a path") << "unix://" << false;
        QTest::newRow("relative socket path") << "run/broker.sock" << false;
        QTest::newRow("other scheme") << "http://broker.example:1883" << false;
        QTest::newRow("no scheme") << "broker.example:1883" << false;
        QTest::newRow("no host") << "mqtt://:1883" << false;
        QTest::newRow("a topic after the host") << "mqtt://broker.example/kivo" << false;
        QTest::newRow("port not a number") << "mqtt://broker.example:port" << false;
        QTest::newRow("port above 65535") << "mqtt://broker.example:65536" << false;
        QTest::newRow("empty") << "" << false;
    }

    // A refused address changes nothing.
    void brokerUrl()
    {
        QFETCH(QString, url);
        QFETCH(bool, accepted);
        MqttConnection connection;
        QVERIFY(!connection.open());
        QCOMPARE(connection.errorString(), QString("No broker address is set"));
        QVERIFY(connection.setBrokerUrl("mqtt://before"));
        QCOMPARE(connection.setBrokerUrl(url), accepted);
        QCOMPARE(connection.brokerUrl(), accepted ? url : QString("mqtt://before"));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("tcp") << m_broker.url();
        QTest::newRow("unix url") << "unix://" + m_broker.socketPath();
        QTest::newRow("socket path") << m_broker.socketPath();
        QTest::newRow("tls") << m_broker.tlsUrl();
    }

    // A message with every property arrives as sent; the broker's acknowledgements reach
    // published(), "no matching subscribers" included; dropped subscriptions stay dropped.
    void roundTrip()
    {
        QFETCH(QString, url);
        MqttConnection receiver, sender;
        receiver.setCaFile(m_broker.caFile());
        sender.setCaFile(m_broker.caFile());
        QVERIFY(receiver.subscribe("trip/+/in"));
        QVERIFY(receiver.isSubscribed("trip/+/in"));
        QVERIFY(openAndWait(receiver, url));
        QVERIFY(openAndWait(sender, url));
        QSignalSpy received(&receiver, &MqttConnection::messageReceived);
        QSignalSpy published(&sender, &MqttConnection::published);

        MqttMessage message;
        message.topic = "trip/a/in";
        message.payload = QByteArray("\0binary\xff", 8);
        message.responseTopic = "trip/answers";
        message.correlationData = QByteArray("\0\1id", 4);
        message.messageExpiry = 30;
        const int id = sender.publish(message);
        QVERIFY(id > 0);
        QVERIFY(received.wait(5000));
        const auto got = received.takeFirst().at(0).value<MqttMessage>();
        QCOMPARE(got.topic, message.topic);
        QCOMPARE(got.payload, message.payload);
        QCOMPARE(got.qos, 1);
        QCOMPARE(got.retain, false);
        QCOMPARE(got.responseTopic, message.responseTopic);
        QCOMPARE(got.correlationData, message.correlationData);
        QVERIFY(got.messageExpiry > 0 && got.messageExpiry <= 30);
        QTRY_COMPARE_WITH_TIMEOUT(published.count(), 1, 5000);
        QCOMPARE(published.takeFirst(), QVariantList({ id, 0, QString() }));

        const int unheard = sender.publish("trip/nobody", "x");
        QTRY_COMPARE_WITH_TIMEOUT(published.count(), 1, 5000);
        QCOMPARE(published.takeFirst(),
            QVariantList({ unheard, 16, QString("No matching subscribers") }));

        // Retained: a later subscriber gets it with the flag; an empty payload removes it.
        sender.publish("trip/r/kept", "kept", 1, true);
        QTRY_COMPARE_WITH_TIMEOUT(published.count(), 1, 5000);
        QVERIFY(receiver.subscribe("trip/r/kept"));
        QVERIFY(received.wait(5000));
        QCOMPARE(received.at(0).at(0).value<MqttMessage>().retain, true);
        QCOMPARE(received.takeFirst().at(0).value<MqttMessage>().payload, QByteArray("kept"));
        sender.publish("trip/r/kept", QByteArray(), 1, true);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.takeFirst().at(0).value<MqttMessage>().payload, QByteArray());

        QVERIFY(receiver.unsubscribe("trip/+/in"));
        QVERIFY(!receiver.unsubscribe("trip/+/in"));
        QVERIFY(!receiver.isSubscribed("trip/+/in"));
        // Sent on the same connection, after the unsubscription: the broker takes them in order.
        receiver.publish("trip/b/in", "not for us");
        receiver.publish("trip/r/kept", "marker");
        QVERIFY(received.wait(5000));
        QCOMPARE(received.takeFirst().at(0).value<MqttMessage>().payload, QByteArray("marker"));
        QCOMPARE(received.count(), 0);
    }

    void invalidTopics()
    {
        MqttConnection connection;
        QCOMPARE(connection.publish("early", "x"), -1);
        QVERIFY(openAndWait(connection, m_broker.url()));
        QVERIFY(!connection.subscribe("a/#/b"));
        QVERIFY(!connection.subscribe(QStringList { "ok/+", "a+" }));
        QVERIFY(!connection.isSubscribed("ok/+"));
        QCOMPARE(connection.publish("a/+", "x"), -1);
        QCOMPARE(connection.publish("", "x"), -1);
        QVERIFY(connection.isConnected());
    }

    void restart_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("broker stopped") << false;
        QTest::newRow("broker killed") << true;
    }

    // The connection comes back by itself and renews its subscriptions.
    void restart()
    {
        QFETCH(bool, killed);
        const QString reason = "The connection to the broker was lost";
        MosquittoBroker broker;
        QVERIFY(broker.start());
        MqttConnection receiver, sender;
        receiver.setReconnectDelay(50, 200);
        sender.setReconnectDelay(50, 200);
        QVERIFY(receiver.subscribe("restart/+"));
        QVERIFY(openAndWait(receiver, broker.url()));
        QVERIFY(openAndWait(sender, broker.url()));
        QSignalSpy lost(&receiver, &MqttConnection::disconnected);
        QSignalSpy received(&receiver, &MqttConnection::messageReceived);

        killed ? broker.kill() : broker.stop();
        QVERIFY(lost.count() == 1 || lost.wait(5000));
        QCOMPARE(lost.takeFirst().at(0).toString(), reason);
        QCOMPARE(receiver.state(), MqttConnection::Connecting);
        QCOMPARE(receiver.errorString(), reason);
        QTRY_VERIFY_WITH_TIMEOUT(!sender.isConnected(), 5000);
        QCOMPARE(sender.publish("restart/a", "lost"), -1);

        QVERIFY(broker.start());
        QTRY_VERIFY_WITH_TIMEOUT(receiver.isConnected() && sender.isConnected(), 10000);
        QVERIFY(receiver.errorString().isEmpty());
        QVERIFY(sender.publish("restart/a", "again") > 0);
        QVERIFY(received.wait(5000));
        QCOMPARE(received.takeFirst().at(0).value<MqttMessage>().payload, QByteArray("again"));
        QCOMPARE(lost.count(), 0);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("reason");
        const QString refused = "The broker refused the connection: Not authorized";
        const QString panel = "panel", wrong = "Wr0ng-Secret";
        QTest::newRow("no credentials") << QString() << QString() << refused;
        QTest::newRow("wrong password") << panel << wrong << refused;
        QTest::newRow("unknown user") << "nobody" << wrong << refused;
        QTest::newRow("right password") << panel << "S3cret-Word" << QString();
    }

    // A refusal comes with the broker's reason; the password shows in no message.
    void refused()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, reason);
        MosquittoBroker broker({ "allow_anonymous false", "password_file {dir}/passwords" });
        const QString passwords = broker.filePath("passwords");
        QCOMPARE(QProcess::execute(
                     "mosquitto_passwd", { "-c", "-b", passwords, "panel", "S3cret-Word" }),
            0);
        QVERIFY(broker.start());
        s_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { s_messages << text; });

        MqttConnection connection;
        connection.setCredentials(user, password);
        QSignalSpy errors(&connection, &MqttConnection::errorOccurred);
        QSignalSpy disconnected(&connection, &MqttConnection::disconnected);
        QVERIFY(connection.setBrokerUrl(broker.url()) && connection.open());
        QTRY_VERIFY_WITH_TIMEOUT(connection.isConnected() || !errors.isEmpty(), 5000);
        if (!reason.isEmpty()) {
            QCOMPARE(disconnected.count(), 0);
            QCOMPARE(connection.errorString(), reason);
            QCOMPARE(errors.value(0).value(0).toString(), reason);
            QCOMPARE(connection.state(), MqttConnection::Connecting);
        }
        QCOMPARE(connection.isConnected(), reason.isEmpty());
        connection.close();
        QCOMPARE(connection.state(), MqttConnection::Disconnected);
        qInstallMessageHandler(previous);
        QCOMPARE(connection.userName(), user);
        for (const QString& text : qAsConst(s_messages) + QStringList(connection.errorString()))
            QVERIFY2(password.isEmpty() || !text.contains(password), qPrintable(text));
    }

    // A message above the limit is dropped with a message; the next one fits and arrives.
    void oversizedMessage()
    {
        MqttConnection receiver, sender;
        receiver.setMaximumPayloadSize(1000);
        QCOMPARE(receiver.maximumPayloadSize(), 1000);
        QVERIFY(receiver.subscribe("size/+"));
        QVERIFY(openAndWait(receiver, m_broker.url()));
        QVERIFY(openAndWait(sender, m_broker.url()));
        QSignalSpy received(&receiver, &MqttConnection::messageReceived);
        QSignalSpy errors(&receiver, &MqttConnection::errorOccurred);
        sender.publish("size/big", QByteArray(1001, 'x'));
        sender.publish("size/fits", QByteArray(1000, 'x'));
        QVERIFY(received.wait(5000));
        QCOMPARE(received.takeFirst().at(0).value<MqttMessage>().topic, QString("size/fits"));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.takeFirst().at(0).toString(),
            QString("A message of 1001 bytes on size/big is larger than the limit of 1000 bytes; "
                    "dropped"));
        QVERIFY(receiver.isConnected());
    }

private:
    MosquittoBroker m_broker { { "allow_anonymous true" }, true };
};

QTEST_GUILESS_MAIN(TestMqttConnection)
#include "tst_mqttconnection.moc"
