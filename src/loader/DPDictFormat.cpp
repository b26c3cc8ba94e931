#include <kivo/loader/DPDictFormat.h>

#include <kivo/loader/DPDictLoader.h>

#include <QDateTime>
#include <QDomElement>
#include <QDomNode>

namespace kivo {

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
    Selection selection;
    selection.kind = selectPointKind(typeText);
    switch (selection.kind) {
    case NoPointKind:
        selection.skipReason = UnknownPointType;
        return selection;
    case EventPoint:
        if (!eventTypeForText(eventType.text(), &selection.eventType)) {
            selection.skipReason = UnknownEventType;
            return selection;
        }
        selection.eventChangeable = isTrueText(eventType.attribute(DPDictLoader::changeableAttr));
        if (!ackTypeForText(ackType.text(), &selection.ackType)) {
            selection.skipReason = UnknownAckType;
            return selection;
        }
        if (!resetTypeForText(resetType.text(), &selection.resetType)) {
            selection.skipReason = UnknownResetType;
            return selection;
        }
        break;
    case TimePoint:
        if (!epochForText(epoch.text(), &selection.epoch)) {
            selection.skipReason = UnknownEpoch;
            return selection;
        }
        break;
    default:
        break;
    }
    selection.skipReason = NotSkipped;
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
