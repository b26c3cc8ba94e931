#include "remote/HomeAssistantDiscovery_p.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace kivo {

namespace HomeAssistantDiscovery {

namespace {

QString objectId(const QString& text)
{
    QString id = text;
    for (QChar& c : id) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-')
            || c == QLatin1Char('_');
        if (!ok)
            c = QLatin1Char('_');
    }
    return id;
}

// The display number of a value payload: its text without the units label.
const char numberTemplate[] = "{{ value_json.text.split(' ')[0] }}";
const char textTemplate[] = "{{ value_json.text }}";
// A write by display text, as a person would type it; tojson escapes what needs it.
const char commandTemplate[] = "{{ {'text': value | string} | tojson }}";
const char eventTemplate[] = "{{ 'ON' if (value_json.v | int(0)) % 2 == 1 else 'OFF' }}";

QJsonObject component(const DPointObject* point, const QString& base, const QString& uniqueBase)
{
    const DPointDef* def = point->getDPointDef();
    const QString name = point->objectName();
    const DPTypeBase* type = def ? def->m_type : nullptr;
    const bool writable = def && def->m_writable;
    QJsonObject c;
    c.insert(
        QStringLiteral("name"), def && !def->m_externalName.isEmpty() ? def->m_externalName : name);
    c.insert(QStringLiteral("unique_id"), QString(uniqueBase + objectId(name)));
    c.insert(QStringLiteral("state_topic"), QString(base + QStringLiteral("p/") + name));
    c.insert(QStringLiteral("availability_topic"), QString(base + QStringLiteral("$state")));
    c.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
    c.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
    const auto command = [&c, &base, &name] {
        c.insert(QStringLiteral("command_topic"),
            QString(base + QStringLiteral("p/") + name + QStringLiteral("/set")));
        c.insert(QStringLiteral("command_template"), QLatin1String(commandTemplate));
    };

    const bool numeric
        = qobject_cast<const DPTypeNumber*>(type) || qobject_cast<const DPTypeReal*>(type);
    if (numeric) {
        c.insert(QStringLiteral("value_template"), QLatin1String(numberTemplate));
        const QString units = DPointDisplay::unitsLabel(def);
        if (!units.isEmpty())
            c.insert(QStringLiteral("unit_of_measurement"), units);
        if (!writable) {
            c.insert(QStringLiteral("p"), QStringLiteral("sensor"));
            c.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
            return c;
        }
        c.insert(QStringLiteral("p"), QStringLiteral("number"));
        c.insert(QStringLiteral("mode"), QStringLiteral("box"));
        // The definition's JSON gives limits and resolution in display units.
        const QJsonObject json = QJsonDocument::fromJson(def->getTypeJson().toUtf8()).object();
        for (const char* key : { "min", "max" }) {
            const QJsonValue value = json.value(QLatin1String(key));
            if (value.isDouble())
                c.insert(QLatin1String(key), value);
        }
        const double resolution = json.value(QStringLiteral("resolution")).toDouble(0.0);
        if (resolution > 0.0)
            c.insert(QStringLiteral("step"), std::max(resolution, 0.001));
        command();
        return c;
    }
    if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(type)) {
        c.insert(QStringLiteral("value_template"), QLatin1String(textTemplate));
        if (!writable) {
            c.insert(QStringLiteral("p"), QStringLiteral("sensor"));
            return c;
        }
        QList<int> keys = enumeration->m_values.keys();
        std::sort(keys.begin(), keys.end());
        QJsonArray options;
        for (int key : qAsConst(keys))
            options.append(enumeration->m_values.value(key));
        c.insert(QStringLiteral("p"), QStringLiteral("select"));
        c.insert(QStringLiteral("options"), options);
        command();
        return c;
    }
    if (qobject_cast<const DPTypeEvent*>(type)) {
        c.insert(QStringLiteral("p"), QStringLiteral("binary_sensor"));
        c.insert(QStringLiteral("value_template"), QLatin1String(eventTemplate));
        c.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
        c.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
        return c;
    }
    c.insert(QStringLiteral("value_template"), QLatin1String(textTemplate));
    if (const auto* text = qobject_cast<const DPTypeString*>(type); text && writable) {
        c.insert(QStringLiteral("p"), QStringLiteral("text"));
        if (text->m_maxLen > 0)
            c.insert(QStringLiteral("max"), std::min(text->m_maxLen, 255));
        command();
        return c;
    }
    c.insert(QStringLiteral("p"), QStringLiteral("sensor"));
    return c;
}

} // namespace

QString configTopic(const QString& discoveryPrefix, const QString& prefix, const QString& device)
{
    return discoveryPrefix + QStringLiteral("/device/") + objectId(prefix) + QLatin1Char('_')
        + device + QStringLiteral("/config");
}

QByteArray config(const QString& base, const QString& prefix, const QString& device,
    const QList<DPointObject*>& points)
{
    const QString uniqueBase = objectId(prefix) + QLatin1Char('_') + device + QLatin1Char('_');
    QJsonObject components;
    for (const DPointObject* point : points)
        components.insert(QString(uniqueBase + objectId(point->objectName())),
            component(point, base, uniqueBase));
    QJsonObject deviceInfo;
    deviceInfo.insert(QStringLiteral("ids"),
        QJsonArray { QString(objectId(prefix) + QLatin1Char('_') + device) });
    deviceInfo.insert(QStringLiteral("name"), device);
    QJsonObject origin;
    origin.insert(QStringLiteral("name"), QStringLiteral("kivodpoints"));
    QJsonObject root;
    root.insert(QStringLiteral("dev"), deviceInfo);
    root.insert(QStringLiteral("o"), origin);
    root.insert(QStringLiteral("cmps"), components);
    root.insert(QStringLiteral("qos"), 1);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace HomeAssistantDiscovery

} // namespace kivo
