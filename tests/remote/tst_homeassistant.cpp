#include "MosquittoBroker.h"
#include "RemoteFixtures.h"
#include "remote/HomeAssistantDiscovery_p.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace kivo;
using namespace kivo::test;

namespace {

// The options each platform's documentation lists (MQTT sensor, number, select, text and binary
// sensor), as far as a configuration may use them, the required ones first, then "|"; "p"
// names the platform in device discovery.
const QHash<QString, QString> platformOptions {
    { "sensor", "state_topic | unit_of_measurement state_class expire_after" },
    { "number",
        "command_topic | state_topic command_template min max step mode unit_of_measurement "
        "retain optimistic" },
    { "select", "command_topic options | state_topic command_template retain" },
    { "text", "command_topic | state_topic command_template min max mode pattern retain" },
    { "binary_sensor", "state_topic | payload_on payload_off expire_after" },
};
const QString commonOptions = "p name unique_id value_template availability_topic "
                              "payload_available payload_not_available qos icon device_class "
                              "entity_category enabled_by_default";

QJsonObject parse(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class TestHomeAssistant : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_broker.start());
        m_device.reset(new BoilerDevice(m_broker.url(), "boiler1"));
        m_device->publisher.setHomeAssistantDiscovery("homeassistant");
        QList<DPointObject*> points = m_device->provider.getAllPoints();
        m_config = QJsonDocument::fromJson(
            HomeAssistantDiscovery::config("kivo/boiler1/", "kivo", "boiler1", points))
                       .object();
        QVERIFY(!m_config.isEmpty());
    }

    void cleanupTestCase()
    {
        m_device.reset();
        m_broker.stop();
    }

    // Device discovery: the device and the origin once, a component per point.
    void device()
    {
        QCOMPARE(m_config.value("dev").toObject(),
            parse("{\"ids\":[\"kivo_boiler1\"],\"name\":\"boiler1\"}"));
        QCOMPARE(m_config.value("o").toObject(), parse("{\"name\":\"kivodpoints\"}"));
        QCOMPARE(
            m_config.value("cmps").toObject().size(), m_device->provider.getAllPoints().size());
        QCOMPARE(HomeAssistantDiscovery::configTopic("homeassistant", "kivo", "boiler1"),
            QString("homeassistant/device/kivo_boiler1/config"));
        QCOMPARE(HomeAssistantDiscovery::configTopic("ha", "plant/a", "boiler1"),
            QString("ha/device/plant_a_boiler1/config"));
    }

    // One point of each platform, as the platform's documentation describes its options: the
    // number in display units with its limits and step, the select with the labels in value
    // order, the text with its length, the event as a binary sensor of its active bit.
    void components_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray availability
            = "\"availability_topic\":\"kivo/boiler1/$state\",\"payload_available\":\"online\","
              "\"payload_not_available\":\"offline\"";
        const QByteArray writeByText
            = "\"command_template\":\"{{ {'text': value | string} | tojson }}\"";
        QTest::newRow("writable integer: number")
            << "supplysetpoint"
            << "{\"p\":\"number\",\"name\":\"Supply water setpoint\","
               "\"unique_id\":\"kivo_boiler1_supplysetpoint\","
               "\"state_topic\":\"kivo/boiler1/p/supplysetpoint\","
               "\"value_template\":\"{{ value_json.text.split(' ')[0] }}\","
               "\"command_topic\":\"kivo/boiler1/p/supplysetpoint/set\","
                + writeByText
                + ",\"min\":86,\"max\":203,\"step\":0.1,\"mode\":\"box\","
                  "\"unit_of_measurement\":\"\u00b0F\","
                + availability + "}";
        QTest::newRow("read-only integer: sensor")
            << "supplytemp"
            << "{\"p\":\"sensor\",\"name\":\"Supply water temperature\","
               "\"unique_id\":\"kivo_boiler1_supplytemp\","
               "\"state_topic\":\"kivo/boiler1/p/supplytemp\","
               "\"value_template\":\"{{ value_json.text.split(' ')[0] }}\","
               "\"unit_of_measurement\":\"\u00b0F\",\"state_class\":\"measurement\","
                + availability + "}";
        QTest::newRow("writable enumeration: select")
            << "pumpmode"
            << "{\"p\":\"select\",\"name\":\"Primary pump mode\","
               "\"unique_id\":\"kivo_boiler1_pumpmode\","
               "\"state_topic\":\"kivo/boiler1/p/pumpmode\","
               "\"value_template\":\"{{ value_json.text }}\","
               "\"command_topic\":\"kivo/boiler1/p/pumpmode/set\","
                + writeByText + ",\"options\":[\"Off\",\"Hand\",\"Auto\"]," + availability + "}";
        QTest::newRow("writable text: text")
            << "boilertag"
            << "{\"p\":\"text\",\"name\":\"Boiler tag\",\"unique_id\":\"kivo_boiler1_boilertag\","
               "\"state_topic\":\"kivo/boiler1/p/boilertag\","
               "\"value_template\":\"{{ value_json.text }}\","
               "\"command_topic\":\"kivo/boiler1/p/boilertag/set\","
                + writeByText + ",\"max\":16," + availability + "}";
        QTest::newRow("event: binary sensor")
            << "highlimitalarm"
            << "{\"p\":\"binary_sensor\",\"name\":\"High limit tripped\","
               "\"unique_id\":\"kivo_boiler1_highlimitalarm\","
               "\"state_topic\":\"kivo/boiler1/p/highlimitalarm\","
               "\"value_template\":\"{{ 'ON' if (value_json.v | int(0)) % 2 == 1 else 'OFF' }}\","
               "\"payload_on\":\"ON\",\"payload_off\":\"OFF\","
                + availability + "}";
    }

    void components()
    {
        QFETCH(QString, point);
        QFETCH(QByteArray, expected);
        const QJsonObject component
            = m_config.value("cmps").toObject().value("kivo_boiler1_" + point).toObject();
        const QJsonObject wanted = QJsonDocument::fromJson(expected).object();
        QVERIFY(!wanted.isEmpty());
        QCOMPARE(component, wanted);
    }

    // Every component, whatever its point: a documented platform, its required options, and
    // no option the platform does not document.
    void everyComponentFollowsItsPlatform()
    {
        const QJsonObject components = m_config.value("cmps").toObject();
        for (auto it = components.constBegin(); it != components.constEnd(); ++it) {
            const QJsonObject component = it.value().toObject();
            const QString platform = component.value("p").toString();
            const QString options = platformOptions.value(platform);
            QVERIFY2(!options.isEmpty(), qPrintable(it.key() + ": " + platform));
            for (const QString& option : options.section(" |", 0, 0).split(' '))
                QVERIFY2(component.contains(option), qPrintable(it.key() + ": " + option));
            const QStringList allowed
                = (commonOptions + ' ' + QString(options).remove("| ")).split(' ');
            for (const QString& option : component.keys())
                QVERIFY2(allowed.contains(option), qPrintable(it.key() + ": " + option));
            QCOMPARE(component.value("unique_id").toString(), it.key());
        }
    }

    // The publisher retains the configuration while it runs; an orderly stop that clears what
    // it retained leaves an empty retained payload, which removes the device.
    void publishedAndRemoved()
    {
        MqttConnection client;
        QVERIFY(client.setBrokerUrl(m_broker.url()));
        QSignalSpy messages(&client, &MqttConnection::messageReceived);
        QSignalSpy connected(&client, &MqttConnection::connected);
        client.subscribe("homeassistant/device/+/config");
        QVERIFY(client.open());
        QVERIFY(connected.wait(5000));
        QVERIFY(m_device->publisher.start());
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 5000);
        const MqttMessage config = messages.takeFirst().first().value<MqttMessage>();
        QCOMPARE(config.topic, QString("homeassistant/device/kivo_boiler1/config"));
        QCOMPARE(QJsonDocument::fromJson(config.payload).object(), m_config);

        m_device->publisher.stop(true);
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 5000);
        const MqttMessage removal = messages.takeFirst().first().value<MqttMessage>();
        QCOMPARE(removal.topic, config.topic);
        QCOMPARE(removal.payload, QByteArray());
    }

private:
    MosquittoBroker m_broker;
    std::unique_ptr<BoilerDevice> m_device;
    QJsonObject m_config;
};

QTEST_GUILESS_MAIN(TestHomeAssistant)
#include "tst_homeassistant.moc"
