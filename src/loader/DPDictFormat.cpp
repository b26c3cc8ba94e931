#include <kivo/loader/DPDictFormat.h>

#include "loader/DPDictFormat_p.h"

#include <kivo/loader/DPDictLoader.h>

#include <QDateTime>
#include <QDomElement>
#include <QDomNode>

namespace kivo {

// The vocabulary of the format, declared by DPDictLoader.
const QString DPDictLoader::enumDefNode = QStringLiteral("EnumDef");
const QString DPDictLoader::variableDefNode = QStringLiteral("VariableDef");
const QString DPDictLoader::variableNameAttr = QStringLiteral("variableName");
const QString DPDictLoader::dataItemNode = QStringLiteral("DataItem");
const QString DPDictLoader::typeAttr = QStringLiteral("type");
const QString DPDictLoader::externalNameNode = QStringLiteral("ExternalName");
const QString DPDictLoader::lineIdNode = QStringLiteral("LineID");
const QString DPDictLoader::pxcIdNode = QStringLiteral("PxcId");
const QString DPDictLoader::worksheetNode = QStringLiteral("Worksheet");
const QString DPDictLoader::nameNode = QStringLiteral("Name");
const QString DPDictLoader::largeDisplayNode = QStringLiteral("LargeDisplay");
const QString DPDictLoader::showVarNode = QStringLiteral("ShowVar");
const QString DPDictLoader::displayHintsNode = QStringLiteral("DisplayHints");
const QString DPDictLoader::displayHintNode = QStringLiteral("DisplayHint");
const QString DPDictLoader::groupIdAttr = QStringLiteral("grpid");
const QString DPDictLoader::rowIdAttr = QStringLiteral("rowid");
const QString DPDictLoader::accessNode = QStringLiteral("Access");

const QString DPDictLoader::rawDefaultValueNode = QStringLiteral("RawValueDflt");
const QString DPDictLoader::minValueNode = QStringLiteral("RawValueMin");
const QString DPDictLoader::maxValueNode = QStringLiteral("RawValueMax");
const QString DPDictLoader::unitsNode = QStringLiteral("UomId");
const QString DPDictLoader::unitsLabelNode = QStringLiteral("UnitsOfMeasure");
const QString DPDictLoader::enumDefIdNode = QStringLiteral("EnumDefId");
const QString DPDictLoader::enumDefIdAttr = QStringLiteral("enumDefId");
const QString DPDictLoader::defaultValueNode = QStringLiteral("Default");
const QString DPDictLoader::charRegexNode = QStringLiteral("CharRegex");
const QString DPDictLoader::formatNode = QStringLiteral("Format");
const QString DPDictLoader::maxLengthNode = QStringLiteral("LengthMax");
const QString DPDictLoader::epochNode = QStringLiteral("Epoch");
const QString DPDictLoader::eventTypeNode = QStringLiteral("EventType");
const QString DPDictLoader::changeableAttr = QStringLiteral("changeable");
const QString DPDictLoader::ackTypeNode = QStringLiteral("AckType");
const QString DPDictLoader::resetTypeNode = QStringLiteral("ResetType");
const QString DPDictLoader::eventIdNode = QStringLiteral("EventId");
const QString DPDictLoader::descriptionNode = QStringLiteral("Description");
const QString DPDictLoader::explanationNode = QStringLiteral("EventExplanation");
const QString DPDictLoader::associatedVariableNode = QStringLiteral("AssociatedVariable");

const QString DPDictLoader::eventItemAttr = QStringLiteral("Event");
const QString DPDictLoader::ipItemAttr = QStringLiteral("IPv4");
const QString DPDictLoader::enumItemAttr = QStringLiteral("Enum");
const QString DPDictLoader::stringItemAttr = QStringLiteral("String");
const QString DPDictLoader::numberIntItemAttr = QStringLiteral("Int");
const QString DPDictLoader::numberRealItemAttr = QStringLiteral("Real");
const QString DPDictLoader::timeItemAttr = QStringLiteral("Time");

const QString DPDictLoader::trueString = QStringLiteral("true");
const QString DPDictLoader::invalidString = QStringLiteral("_invalid_");
const QString DPDictLoader::invalidString2 = QStringLiteral("-32768");
const QString DPDictLoader::alarmString = QStringLiteral("Alarm");
const QString DPDictLoader::warningString = QStringLiteral("Warning");
const QString DPDictLoader::messageString = QStringLiteral("Message");
const QString DPDictLoader::ackManualString = QStringLiteral("MA");
const QString DPDictLoader::ackAutoString = QStringLiteral("AA");
const QString DPDictLoader::ackNoString = QStringLiteral("NA");
const QString DPDictLoader::resetManualString = QStringLiteral("MR");
const QString DPDictLoader::resetAutoString = QStringLiteral("AR");
const QString DPDictLoader::sysUpTimeString = QStringLiteral("SysUpTime");
const QString DPDictLoader::jan_01_LocalTimeString = QStringLiteral("1970-Jan-01 (local time)");
const QString DPDictLoader::january_1_String = QStringLiteral("January_1");
const QString DPDictLoader::firstOfMonthString = QStringLiteral("1st_Of_Month");
const QString DPDictLoader::midnightString = QStringLiteral("Midnight");
const QString DPDictLoader::jan_01_GMT_String = QStringLiteral("1970-Jan-01 (GMT)");

const QString DPDictLoader::componentItemAttr = QStringLiteral("Component");
const QString DPDictLoader::componentRootNode = QStringLiteral("ComponentsModel");
const QString DPDictLoader::componentInventoryIdNode = QStringLiteral("ComponentInventoryId");
const QString DPDictLoader::componentIdNode = QStringLiteral("ComponentId");
const QString DPDictLoader::componentTypeNode = QStringLiteral("ComponentType");
const QString DPDictLoader::componentTypeEnumAttr = QStringLiteral("enumDefId");
const QString DPDictLoader::componentPosXNode = QStringLiteral("ComponentPosX");
const QString DPDictLoader::componentPosYNode = QStringLiteral("ComponentPosY");
const QString DPDictLoader::componentWidthNode = QStringLiteral("ComponentWidth");
const QString DPDictLoader::componentHeightNode = QStringLiteral("ComponentHeight");

const QString DPDictFormat::currentDateTimeString = QStringLiteral("currentDateTime");

DPDictFormat::PointKind DPDictFormat::selectPointKind(const QString& typeText)
{
    // The order matters: "RealTime" is a real point because Real is tested before Time.
    if (typeText == DPDictLoader::eventItemAttr) {
        return EventPoint;
    }
    if (typeText == DPDictLoader::ipItemAttr) {
        return IPv4Point;
    }
    if (typeText == DPDictLoader::enumItemAttr) {
        return EnumPoint;
    }
    if (typeText == DPDictLoader::stringItemAttr) {
        return StringPoint;
    }
    if (typeText.indexOf(DPDictLoader::numberIntItemAttr) >= 0) {
        return NumberPoint;
    }
    if (typeText.indexOf(DPDictLoader::numberRealItemAttr) >= 0) {
        return RealPoint;
    }
    if (typeText.indexOf(DPDictLoader::timeItemAttr) >= 0) {
        return TimePoint;
    }
    return NoPointKind;
}

bool DPDictFormat::eventTypeForText(const QString& text, DPTypeEvent::EventType* eventType)
{
    if (text == DPDictLoader::alarmString) {
        *eventType = DPTypeEvent::Alarm;
    } else if (text == DPDictLoader::warningString) {
        *eventType = DPTypeEvent::Warning;
    } else if (text == DPDictLoader::messageString) {
        *eventType = DPTypeEvent::Message;
    } else {
        return false;
    }
    return true;
}

bool DPDictFormat::ackTypeForText(const QString& text, DPTypeEvent::AckType* ackType)
{
    if (text.indexOf(DPDictLoader::ackManualString) >= 0) {
        *ackType = DPTypeEvent::AckManual;
    } else if (text.indexOf(DPDictLoader::ackAutoString) >= 0) {
        *ackType = DPTypeEvent::AckAuto;
    } else if (text.indexOf(DPDictLoader::ackNoString) >= 0) {
        *ackType = DPTypeEvent::AckNo;
    } else {
        return false;
    }
    return true;
}

bool DPDictFormat::resetTypeForText(const QString& text, DPTypeEvent::ResetType* resetType)
{
    if (text.indexOf(DPDictLoader::resetManualString) >= 0) {
        *resetType = DPTypeEvent::ResetManual;
    } else if (text.indexOf(DPDictLoader::resetAutoString) >= 0) {
        *resetType = DPTypeEvent::ResetAuto;
    } else {
        return false;
    }
    return true;
}

bool DPDictFormat::epochForText(const QString& text, DPTypeTime::Epoch* epoch)
{
    if (text == DPDictLoader::sysUpTimeString) {
        *epoch = DPTypeTime::SysUpTime;
    } else if (text == DPDictLoader::jan_01_LocalTimeString) {
        *epoch = DPTypeTime::Jan_01_1970_local_time;
    } else if (text == DPDictLoader::january_1_String) {
        *epoch = DPTypeTime::January_1;
    } else if (text == DPDictLoader::firstOfMonthString) {
        *epoch = DPTypeTime::First_Of_Month;
    } else if (text == DPDictLoader::midnightString) {
        *epoch = DPTypeTime::Midnight;
    } else if (text == DPDictLoader::jan_01_GMT_String) {
        *epoch = DPTypeTime::Jan_01_1970_GMT;
    } else {
        return false;
    }
    return true;
}

DPDictFormat::Selection DPDictFormat::selectType(const QDomElement& dataItem)
{
    const auto child
        = [&dataItem](const QString& name) { return dataItem.namedItem(name).toElement(); };
    return selectType(dataItem.attribute(DPDictLoader::typeAttr),
        child(DPDictLoader::eventTypeNode), child(DPDictLoader::ackTypeNode),
        child(DPDictLoader::resetTypeNode), child(DPDictLoader::epochNode));
}

DPDictFormat::Selection DPDictFormat::selectType(const QString& typeText,
    const QDomElement& eventType, const QDomElement& ackType, const QDomElement& resetType,
    const QDomElement& epoch)
{
    const PointKind kind = selectPointKind(typeText);
    if (kind == EventPoint) {
        return selectTypeFromTexts(kind, eventType.text(),
            eventType.attribute(DPDictLoader::changeableAttr), ackType.text(), resetType.text(),
            QString());
    }
    return selectTypeFromTexts(kind, QString(), QString(), QString(), QString(), epoch.text());
}

DPDictFormat::Selection selectTypeFromTexts(DPDictFormat::PointKind kind, const QString& eventType,
    const QString& changeable, const QString& ackType, const QString& resetType,
    const QString& epoch)
{
    DPDictFormat::Selection selection;
    selection.kind = kind;
    switch (kind) {
    case DPDictFormat::NoPointKind:
        selection.skipReason = DPDictFormat::UnknownPointType;
        return selection;
    case DPDictFormat::EventPoint:
        if (!DPDictFormat::eventTypeForText(eventType, &selection.eventType)) {
            selection.skipReason = DPDictFormat::UnknownEventType;
            return selection;
        }
        selection.eventChangeable = DPDictFormat::isTrueText(changeable);
        if (!DPDictFormat::ackTypeForText(ackType, &selection.ackType)) {
            selection.skipReason = DPDictFormat::UnknownAckType;
            return selection;
        }
        if (!DPDictFormat::resetTypeForText(resetType, &selection.resetType)) {
            selection.skipReason = DPDictFormat::UnknownResetType;
            return selection;
        }
        break;
    case DPDictFormat::TimePoint:
        if (!DPDictFormat::epochForText(epoch, &selection.epoch)) {
            selection.skipReason = DPDictFormat::UnknownEpoch;
            return selection;
        }
        break;
    default:
        break;
    }
    selection.skipReason = DPDictFormat::NotSkipped;
    return selection;
}

QString DPDictFormat::skipReasonText(SkipReason reason)
{
    switch (reason) {
    case NotSkipped:
        break;
    case UnknownPointType:
        return QStringLiteral("the DataItem type selects no point type");
    case UnknownEventType:
        return QStringLiteral("the EventType text is not Alarm, Warning or Message");
    case UnknownAckType:
        return QStringLiteral("the AckType text contains none of MA, AA, NA");
    case UnknownResetType:
        return QStringLiteral("the ResetType text contains neither MR nor AR");
    case UnknownEpoch:
        return QStringLiteral("the Epoch text names no known epoch");
    }
    return QString();
}

bool DPDictFormat::isNoDefaultMarker(const QString& rawDefault)
{
    return rawDefault == DPDictLoader::invalidString || rawDefault == DPDictLoader::invalidString2;
}

QVariant DPDictFormat::numberDefault(const QString& rawDefault)
{
    if (isNoDefaultMarker(rawDefault)) {
        return QVariant();
    }
    return QVariant(rawDefault.toInt(nullptr, 10));
}

QVariant DPDictFormat::realDefault(const QString& rawDefault)
{
    if (isNoDefaultMarker(rawDefault)) {
        return QVariant();
    }
    return QVariant(rawDefault);
}

int DPDictFormat::enumDefault(const QString& rawDefault, const QHash<int, QString>& values)
{
    bool isNumber = false;
    const int number = rawDefault.toInt(&isNumber, 10);
    if (isNumber) {
        return number;
    }
    for (auto it = values.cbegin(), end = values.cend(); it != end; ++it) {
        if (it.value() == rawDefault) {
            return it.key();
        }
    }
    return -1;
}

int DPDictFormat::timeDefault(const QString& rawDefault, DPTypeTime::Epoch epoch)
{
    if (rawDefault == currentDateTimeString) {
        // Both clocks count the same seconds since 1970 UTC; the epoch only says which one.
        if (epoch == DPTypeTime::Jan_01_1970_local_time) {
            return static_cast<int>(QDateTime::currentDateTime().toSecsSinceEpoch());
        }
        if (epoch == DPTypeTime::Jan_01_1970_GMT) {
            return static_cast<int>(QDateTime::currentDateTimeUtc().toSecsSinceEpoch());
        }
        return 0;
    }
    return rawDefault.toInt(nullptr, 10);
}

bool DPDictFormat::isTrueText(const QString& text)
{
    return text == DPDictLoader::trueString;
}

bool DPDictFormat::grantsRead(const QString& accessText)
{
    static const QString read = QStringLiteral("R");
    return accessText == read;
}

bool DPDictFormat::grantsWrite(const QString& accessText)
{
    static const QString write = QStringLiteral("W");
    return accessText == write;
}

} // namespace kivo
