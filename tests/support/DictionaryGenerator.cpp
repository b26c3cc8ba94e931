#include "DictionaryGenerator.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>

#include <array>
#include <random>

namespace kivo::test {

namespace {

// Shares of the point kinds, in per mille: about half integers, then reals, enumerations,
// events, texts, times and a few addresses.
constexpr int intShare = 500;
constexpr int realShare = 140;
constexpr int enumShare = 120;
constexpr int eventShare = 80;
constexpr int textShare = 70;
constexpr int timeShare = 60;

const std::array<const char*, 8> areas = { "AHU", "BLR", "CHL", "PMP", "VAV", "FCU", "CT", "HX" };
const std::array<const char*, 8> areaNames = { "Air handler", "Boiler", "Chiller", "Pump",
    "VAV box", "Fan coil", "Cooling tower", "Heat exchanger" };
const std::array<const char*, 10> intKinds = { "SupplyTemp", "ReturnTemp", "Setpoint", "Pressure",
    "Flow", "FanSpeed", "Power", "Runtime", "ValvePos", "DamperPos" };
const std::array<const char*, 10> intNames
    = { "Supply temperature", "Return temperature", "Setpoint", "Pressure", "Flow", "Fan speed",
          "Power", "Run time", "Valve position", "Damper position" };
const std::array<const char*, 4> realKinds = { "Efficiency", "Gain", "Ratio", "Offset" };
const std::array<const char*, 5> enumKinds = { "Mode", "State", "Command", "Select", "Status" };
const std::array<const char*, 4> eventKinds = { "Alarm", "Fault", "Warn", "Notice" };
const std::array<const char*, 3> eventTypes = { "Alarm", "Warning", "Message" };
const std::array<const char*, 3> ackTypes = { "MA", "AA", "NA" };
const std::array<const char*, 2> resetTypes = { "MR", "AR" };
const std::array<const char*, 6> epochs = { "SysUpTime", "1970-Jan-01 (local time)", "January_1",
    "1st_Of_Month", "Midnight", "1970-Jan-01 (GMT)" };
const std::array<const char*, 6> groups
    = { "Overview", "Temperatures", "Pressures", "Setpoints", "Alarms", "Service" };
const std::array<const char*, 8> enumLabels
    = { "Off", "On", "Auto", "Hand", "Standby", "Running", "Fault", "Override" };

class Writer
{
public:
    explicit Writer(QFile* file)
        : m_file(file)
    {
        m_buffer.reserve(chunk + 4096);
    }

    Writer& operator<<(const char* text)
    {
        m_buffer += text;
        return *this;
    }
    Writer& operator<<(const QByteArray& text)
    {
        m_buffer += text;
        return *this;
    }
    Writer& operator<<(const QString& text)
    {
        m_buffer += text.toUtf8();
        return *this;
    }
    Writer& operator<<(int number)
    {
        m_buffer += QByteArray::number(number);
        return *this;
    }

    // Writes out what has been collected once it is large enough.
    bool flush(bool force)
    {
        if (!force && m_buffer.size() < chunk)
            return true;
        const bool ok = m_file->write(m_buffer) == m_buffer.size();
        m_written += m_buffer.size();
        m_buffer.clear();
        return ok;
    }

    qint64 written() const { return m_written; }

private:
    static constexpr int chunk = 1 << 20;
    QFile* m_file;
    QByteArray m_buffer;
    qint64 m_written = 0;
};

QByteArray padded(int number, int width)
{
    return QByteArray::number(number).rightJustified(width, '0');
}

} // namespace

QVector<UnitInfo> readUnits(const QString& measurementFile)
{
    QVector<UnitInfo> units;
    QFile file(measurementFile);
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return units;
    const QDomNodeList defs = document.elementsByTagName(QStringLiteral("MUnitDef"));
    for (int i = 0; i < defs.size(); ++i) {
        const QDomElement def = defs.at(i).toElement();
        units.append({ def.attribute(QStringLiteral("id")),
            def.firstChildElement(QStringLiteral("Label")).text() });
    }
    return units;
}

GeneratedDictionary writeDictionary(const QString& path, int points, const QVector<UnitInfo>& units)
{
    GeneratedDictionary result;
    QFile file(path);
    if (units.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return result;

    std::mt19937 random(20240611u);
    auto pick = [&random](int bound) {
        return static_cast<int>(random() % static_cast<unsigned>(bound));
    };

    Writer out(&file);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<DeviceDictionary device=\"Generated plant controller\" version=\"1.0\">\n"
        << "  <EnumDefs>\n";
    const int enumDefCount = qMax(8, points / 250);
    for (int e = 0; e < enumDefCount; ++e) {
        out << "    <EnumDef id=\"enum." << e << "\">\n";
        const int values = 2 + e % 7;
        for (int v = 0; v < values; ++v) {
            out << "      <Enum value=\"" << v << "\">" << enumLabels[(e + v) % enumLabels.size()]
                << " " << v << "</Enum>\n";
        }
        out << "    </EnumDef>\n";
    }
    out << "  </EnumDefs>\n  <Points>\n";

    result.names.reserve(points);
    for (int i = 0; i < points; ++i) {
        const int area = pick(static_cast<int>(areas.size()));
        const int unit = 1 + pick(99);
        const QByteArray areaId = QByteArray(areas[area]) + padded(unit, 3);
        const QByteArray serial = padded(i, 6);
        const int share = pick(1000);
        QByteArray kindName;
        QByteArray externalName;
        QByteArray dataItem;

        if (share < intShare) {
            const int k = pick(static_cast<int>(intKinds.size()));
            const UnitInfo& u = units.at(pick(units.size()));
            kindName = intKinds[k];
            externalName = QByteArray(intNames[k]);
            const int min = k < 3 ? -400 : 0;
            const int max = 100 * (1 + pick(200));
            const int dflt = pick(5) == 0 ? -32768 : min + pick(max - min);
            dataItem = "      <DataItem type=\"" + QByteArray(pick(3) == 0 ? "UInt16" : "Int16")
                + "\">\n        <RawValueDflt>" + QByteArray::number(dflt)
                + "</RawValueDflt>\n        <RawValueMin>" + QByteArray::number(min)
                + "</RawValueMin>\n        <RawValueMax>" + QByteArray::number(max)
                + "</RawValueMax>\n        <UomId>" + u.id.toUtf8()
                + "</UomId>\n        <UnitsOfMeasure>" + u.label.toUtf8()
                + "</UnitsOfMeasure>\n      </DataItem>\n";
        } else if (share < intShare + realShare) {
            const int k = pick(static_cast<int>(realKinds.size()));
            const UnitInfo& u = units.at(pick(units.size()));
            kindName = realKinds[k];
            externalName = QByteArray(realKinds[k]) + " factor";
            dataItem = "      <DataItem type=\"Real32\">\n        <RawValueDflt>"
                + QByteArray::number(pick(1000) / 8.0) + "</RawValueDflt>\n        <RawValueMin>"
                + QByteArray::number(-pick(100) / 4.0) + "</RawValueMin>\n        <RawValueMax>"
                + QByteArray::number(100.0 + pick(10000) / 16.0) + "</RawValueMax>\n        <UomId>"
                + u.id.toUtf8() + "</UomId>\n        <UnitsOfMeasure>" + u.label.toUtf8()
                + "</UnitsOfMeasure>\n      </DataItem>\n";
        } else if (share < intShare + realShare + enumShare) {
            const int k = pick(static_cast<int>(enumKinds.size()));
            const int e = pick(enumDefCount);
            kindName = enumKinds[k];
            externalName = QByteArray("Operating ") + QByteArray(enumKinds[k]).toLower();
            const QByteArray dflt = pick(3) == 0
                ? QByteArray(enumLabels[e % enumLabels.size()]) + " 0"
                : QByteArray::number(pick(2 + e % 7));
            dataItem = "      <DataItem type=\"Enum\">\n        <RawValueDflt>" + dflt
                + "</RawValueDflt>\n        <EnumDefId>enum." + QByteArray::number(e)
                + "</EnumDefId>\n      </DataItem>\n";
        } else if (share < intShare + realShare + enumShare + eventShare) {
            const int k = pick(static_cast<int>(eventKinds.size()));
            kindName = eventKinds[k];
            externalName = QByteArray(areaNames[area]) + " " + QByteArray(eventKinds[k]).toLower();
            dataItem = "      <DataItem type=\"Event\">\n        <EventType"
                + QByteArray(pick(4) == 0 ? " changeable=\"true\"" : "") + ">" + eventTypes[pick(3)]
                + "</EventType>\n        <AckType>" + ackTypes[pick(3)]
                + "</AckType>\n        <ResetType>" + resetTypes[pick(2)]
                + "</ResetType>\n      </DataItem>\n";
        } else if (share < intShare + realShare + enumShare + eventShare + textShare) {
            kindName = "Tag";
            externalName = QByteArray(areaNames[area]) + " tag";
            dataItem = "      <DataItem type=\"String\">\n        <Default>" + areaId
                + "</Default>\n        <CharRegex>[A-Za-z0-9\\-_ ]*</CharRegex>\n"
                  "        <Format>%s</Format>\n        <LengthMax>"
                + QByteArray::number(8 * (1 + pick(8))) + "</LengthMax>\n      </DataItem>\n";
        } else if (share < intShare + realShare + enumShare + eventShare + textShare + timeShare) {
            kindName = "Schedule";
            externalName = QByteArray(areaNames[area]) + " schedule start";
            const int epoch = pick(static_cast<int>(epochs.size()));
            const bool now = (epoch == 1 || epoch == 5) && pick(2) == 0;
            dataItem = "      <DataItem type=\"TimeOfDay\">\n        <RawValueDflt>"
                + (now ? QByteArray("currentDateTime") : QByteArray::number(pick(86400)))
                + "</RawValueDflt>\n        <Epoch>" + epochs[epoch]
                + "</Epoch>\n      </DataItem>\n";
        } else {
            kindName = "Address";
            externalName = QByteArray(areaNames[area]) + " controller address";
            dataItem = "      <DataItem type=\"IPv4\"/>\n";
        }

        const QByteArray name = areaId + "_" + kindName + "_" + serial;
        result.names.append(QString::fromLatin1(name));
        out << "    <VariableDef variableName=\"" << name << "\">\n"
            << dataItem << "      <ExternalName>" << areaNames[area] << " " << unit << " "
            << externalName.toLower() << "</ExternalName>\n"
            << "      <LineID>" << areaId << ".P" << serial << "</LineID>\n"
            << "      <PxcId>" << (100000 + i) << "</PxcId>\n"
            << "      <Worksheet>\n        <Name>" << areaNames[area] << " " << unit
            << "</Name>\n        <LineID>" << areaId << "</LineID>\n      </Worksheet>\n";
        if (pick(10) == 0)
            out << "      <LargeDisplay>" << kindName << " " << unit << "</LargeDisplay>\n";
        if (pick(20) == 0 && i > 0)
            out << "      <ShowVar>" << result.names.at(pick(i)) << "</ShowVar>\n";
        if (share >= intShare + realShare + enumShare
            && share < intShare + realShare + enumShare + eventShare) {
            out << "      <EventId>" << (1000 + i) << "</EventId>\n"
                << "      <Description>" << externalName << " on " << areaId << "</Description>\n"
                << "      <EventExplanation>\n        The " << externalName.toLower()
                << " condition was detected on " << areaId
                << ".\n        Check the equipment before resetting.\n"
                << "      </EventExplanation>\n";
            const int associated = 1 + pick(2);
            for (int a = 0; a < associated && i > 0; ++a) {
                out << "      <AssociatedVariable type=\"" << (a == 0 ? "Cause" : "Setpoint")
                    << "\"" << (a == 1 ? " changeable=\"true\"" : "") << ">"
                    << result.names.at(pick(i));
                if (pick(2) == 0)
                    out << "   " << result.names.at(pick(i));
                out << "</AssociatedVariable>\n";
            }
        }
        out << "      <DisplayHints>\n        <DisplayHint grpid=\""
            << groups[pick(static_cast<int>(groups.size()))] << "\" rowid=\"" << (1 + pick(40))
            << "\"/>\n        <DisplayHint grpid=\"" << areaId << "\" rowid=\"" << (1 + pick(40))
            << "\"/>\n      </DisplayHints>\n      <Access>R</Access>\n";
        if (pick(5) < 2)
            out << "      <Access>W</Access>\n";
        out << "    </VariableDef>\n";
        if (!out.flush(false))
            return GeneratedDictionary();
    }
    out << "  </Points>\n</DeviceDictionary>\n";
    if (!out.flush(true))
        return GeneratedDictionary();

    result.path = path;
    result.points = points;
    result.bytes = out.written();
    return result;
}

} // namespace kivo::test
