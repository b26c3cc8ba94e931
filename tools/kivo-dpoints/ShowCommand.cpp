#include "Commands.h"
#include "ToolSupport.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/dictionary/DPointDictionary.h>
#include <kivo/loader/DPDictLoader.h>
#include <kivo/measurement/MeasurementConverter.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeEvent.h>
#include <kivo/types/DPTypeIPv4.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>
#include <kivo/types/DPTypeString.h>
#include <kivo/types/DPTypeTime.h>

#include <QMetaEnum>
#include <QTextStream>
#include <QVector>

#include <algorithm>

namespace kivo {
namespace tool {

namespace {

enum Column { Name, Type, Access, Default, Min, Max, Resolution, Units, Notes, ColumnCount };

// Floating-point figures as the JSON texts print them ('g', six significant digits).
QString realText(double value)
{
    return QString::number(value, 'g', 6);
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

template<typename Enum> QString enumKey(Enum value)
{
    return QString::fromLatin1(QMetaEnum::fromType<Enum>().valueToKey(value));
}

// The epoch as a dictionary file writes it, so that it can be copied into one.
QString epochKeyword(DPTypeTime::Epoch epoch)
{
    switch (epoch) {
    case DPTypeTime::SysUpTime:
        return DPDictLoader::sysUpTimeString;
    case DPTypeTime::Jan_01_1970_local_time:
        return DPDictLoader::jan_01_LocalTimeString;
    case DPTypeTime::January_1:
        return DPDictLoader::january_1_String;
    case DPTypeTime::First_Of_Month:
        return DPDictLoader::firstOfMonthString;
    case DPTypeTime::Midnight:
        return DPDictLoader::midnightString;
    case DPTypeTime::Jan_01_1970_GMT:
        return DPDictLoader::jan_01_GMT_String;
    default:
        return enumKey(epoch);
    }
}

QString accessText(const DPointDef* def)
{
    QString text;
    if (def->m_readable) {
        text += QLatin1Char('R');
    }
    if (def->m_writable) {
        text += QLatin1Char('W');
    }
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString enumValuesText(const DPTypeEnum* type)
{
    QList<int> keys = type->m_values.keys();
    std::sort(keys.begin(), keys.end());
    QStringList entries;
    for (const int key : qAsConst(keys)) {
        entries.append(QString::number(key) + QLatin1Char(' ') + type->m_values.value(key));
    }
    return entries.join(QStringLiteral(", "));
}

QString eventText(const DPTypeEvent* type)
{
    QString text = enumKey(type->m_eventType) + QLatin1Char(' ') + QString::number(type->m_eventId)
        + QStringLiteral(", ") + enumKey(type->m_ackType) + QStringLiteral(", ")
        + enumKey(type->m_resetType);
    for (auto it = type->m_associatedVariables.cbegin(); it != type->m_associatedVariables.cend();
         ++it) {
        text += QStringLiteral("; ") + it.key() + QStringLiteral(": ")
            + it.value()->names.simplified()
            + (it.value()->changeable ? QStringLiteral(" (W)") : QStringLiteral(" (R)"));
    }
    return text;
}

QString stringText(const DPTypeString* type)
{
    QString text = QStringLiteral("max length ") + QString::number(type->m_maxLen);
    if (!type->m_format.isEmpty()) {
        text += QStringLiteral(", format ") + quoted(type->m_format);
    }
    if (!type->m_charSet.isEmpty()) {
        text += QStringLiteral(", characters ") + quoted(type->m_charSet);
    }
    return text;
}

// The figures of one definition; limits, resolution and label as getTypeJson renders them.
QStringList rowOf(const DPointDef* def)
{
    QStringList row;
    for (int i = 0; i < ColumnCount; ++i) {
        row.append(QString());
    }
    row[Name] = def->objectName();
    row[Type] = typeTag(def->m_type);
    row[Access] = accessText(def);
    const QString none = QStringLiteral("none");

    if (const auto* number = qobject_cast<const DPTypeNumber*>(def->m_type)) {
        row[Default]
            = number->m_default.isValid() ? QString::number(number->m_default.toInt()) : none;
        if (def->m_registry) {
            const MeasurementConverter* converter = def->m_registry->getConverter(number->m_units);
            row[Min] = converter->toString(QVariant(number->m_min));
            row[Max] = converter->toString(QVariant(number->m_max));
            row[Resolution] = realText(converter->m_resolution);
            row[Units] = converter->m_label;
        } else {
            row[Min] = QString::number(number->m_min);
            row[Max] = QString::number(number->m_max);
            row[Resolution] = QStringLiteral("1");
            row[Units] = number->m_unitsLabel;
        }
    } else if (const auto* real = qobject_cast<const DPTypeReal*>(def->m_type)) {
        row[Default] = real->m_default.isValid() ? realText(real->m_default.toReal()) : none;
        row[Min] = realText(real->m_min);
        row[Max] = realText(real->m_max);
        row[Resolution] = QStringLiteral("1");
        row[Units] = real->m_unitsLabel;
    } else if (const auto* enumeration = qobject_cast<const DPTypeEnum*>(def->m_type)) {
        row[Default] = QString::number(enumeration->m_default);
        if (enumeration->m_values.contains(enumeration->m_default)) {
            row[Default] += QStringLiteral(" (")
                + enumeration->m_values.value(enumeration->m_default) + QLatin1Char(')');
        }
        row[Notes] = enumValuesText(enumeration);
    } else if (const auto* event = qobject_cast<const DPTypeEvent*>(def->m_type)) {
        row[Default] = event->getDefaultValue().toString();
        row[Notes] = eventText(event);
    } else if (const auto* text = qobject_cast<const DPTypeString*>(def->m_type)) {
        row[Default] = quoted(text->m_default);
        row[Notes] = stringText(text);
    } else if (const auto* address = qobject_cast<const DPTypeIPv4*>(def->m_type)) {
        row[Default] = quoted(address->m_default);
    } else if (const auto* time = qobject_cast<const DPTypeTime*>(def->m_type)) {
        row[Default] = QString::number(time->m_default);
        row[Notes] = QStringLiteral("epoch ") + epochKeyword(time->m_epoch);
    }
    return row;
}

void printTable(const QVector<QStringList>& rows)
{
    QVector<int> widths(ColumnCount, 0);
    for (const QStringList& row : rows) {
        for (int i = 0; i < ColumnCount; ++i) {
            widths[i] = qMax(widths[i], row.at(i).size());
        }
    }
    for (const QStringList& row : rows) {
        QString line;
        for (int i = 0; i < ColumnCount; ++i) {
            if (widths[i] == 0) {
                continue;
            }
            if (!line.isEmpty()) {
                line += QStringLiteral("  ");
            }
            line += row.at(i).leftJustified(widths[i]);
        }
        // Strip the padding of trailing empty cells.
        int end = line.size();
        while (end > 0 && line.at(end - 1) == QLatin1Char(' ')) {
            --end;
        }
        out() << line.left(end) << QLatin1Char('\n');
    }
}

QString countText(int count, const QString& singular, const QString& plural)
{
    return QString::number(count) + QLatin1Char(' ') + (count == 1 ? singular : plural);
}

// "boiler: 24 points (10 int, 2 qreal, ...), 2 entries skipped"
QString summaryLine(const LoadedDictionary& loaded, const QList<DPointDef*>& defs)
{
    static const QStringList tagOrder { QStringLiteral("int"), QStringLiteral("qreal"),
        QStringLiteral("enum"), QStringLiteral("event"), QStringLiteral("text"),
        QStringLiteral("ipv4"), QStringLiteral("time"), QStringLiteral("?") };
    QMap<QString, int> perTag;
    for (const DPointDef* def : defs) {
        ++perTag[typeTag(def->m_type)];
    }
    QStringList perTagTexts;
    for (const QString& tag : tagOrder) {
        if (perTag.value(tag) > 0) {
            perTagTexts.append(QString::number(perTag.value(tag)) + QLatin1Char(' ') + tag);
        }
    }

    // Of the entries the loader read, it skipped some and filed the others; a later one of a name
    // replaces the earlier one in the look-up, and both stay children of the dictionary.
    const int skipped = loaded.loader->skippedCount();
    const int used = loaded.dictionary->children().size();

    QString line = loaded.name + QStringLiteral(": ")
        + countText(defs.size(), QStringLiteral("point"), QStringLiteral("points"));
    if (!perTagTexts.isEmpty()) {
        line += QStringLiteral(" (") + perTagTexts.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    line += QStringLiteral(", ")
        + countText(skipped, QStringLiteral("entry skipped"), QStringLiteral("entries skipped"));
    const int replaced = used - defs.size();
    if (replaced > 0) {
        line += QStringLiteral(", ")
            + countText(replaced, QStringLiteral("entry"), QStringLiteral("entries"))
            + QStringLiteral(" replaced by a later one of the same name");
    }
    return line;
}

} // namespace

int runShow(const QString& measurementsPath, const QStringList& dictionaryPaths,
    const QString& displaySystem)
{
    const QString measurements = measurementsPathOrDefault(measurementsPath);
    const QStringList dictionaries = dictionaryPathsOrDefault(dictionaryPaths);
    if (measurements.isEmpty() || dictionaries.isEmpty()) {
        return ExitFailure;
    }
    const std::unique_ptr<MeasurementRegistry> registry = loadRegistry(measurements, false);
    if (!registry) {
        return ExitFailure;
    }

    int status
        = chooseDisplaySystem(registry.get(), displaySystem, measurements) ? ExitOk : ExitWarnings;
    bool first = true;
    for (const QString& path : dictionaries) {
        const LoadedDictionary loaded = loadDictionary(path, registry.get());
        if (!loaded.dictionary) {
            status = ExitFailure;
            continue;
        }
        if (!first) {
            out() << QLatin1Char('\n');
        }
        first = false;

        const QList<DPointDef*> defs = loaded.dictionary->getAllDefs();
        out() << QStringLiteral("Dictionary ") << loaded.name << QStringLiteral(" (") << path
              << QStringLiteral(")\n");
        if (defs.isEmpty()) {
            out() << QStringLiteral("(no points)\n");
        } else {
            QVector<QStringList> rows;
            rows.append(QStringList { QStringLiteral("NAME"), QStringLiteral("TYPE"),
                QStringLiteral("ACCESS"), QStringLiteral("DEFAULT"), QStringLiteral("MIN"),
                QStringLiteral("MAX"), QStringLiteral("RESOLUTION"), QStringLiteral("UNITS"),
                QStringLiteral("NOTES") });
            for (const DPointDef* def : defs) {
                rows.append(rowOf(def));
            }
            printTable(rows);
        }
        out() << summaryLine(loaded, defs) << QLatin1Char('\n');
    }
    return status;
}

} // namespace tool
} // namespace kivo
