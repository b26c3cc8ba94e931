#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <qqml.h>

#include <memory>

namespace kivo {
class DPointDef;
class DPointObject;
class DPointTableModel;

/// The QML type Point: one live point of a provider (a PointProvider or a C++ application's
/// kivo::DPointProvider) found by name, in display units through kivo::DPointDisplay. Reading or
/// binding value, displayText or displayValue reads the point, which switches on its change
/// reporting; until something listens the wrapper does not follow the point at all. Writes go
/// through a one-row kivo::DPointTableModel, whose write cycle and write states it shows.
///
/// Once the component is complete, a name that none of the provider's points has is reported
/// on the QML console, once, with the nearest name it has.
class Point : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    /// The provider the point is looked up in: a PointProvider, or a C++ application's
    /// kivo::DPointProvider. Null (the default): no point. The point is looked up again when
    /// this or name changes and whenever a PointProvider has loaded its points again.
    Q_PROPERTY(QObject* provider READ provider WRITE setProvider NOTIFY providerChanged)
    /// The point's name, in any letter case ("SupplySetpoint"); empty: no point.
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    /// Whether provider has a point called name. Without one, texts are empty, numbers
    /// undefined, labels empty, writable and available false, and write refuses.
    Q_PROPERTY(bool valid READ isValid NOTIFY definitionChanged)
    /// The point's label for people ("Supply water setpoint"); empty without a point.
    Q_PROPERTY(QString externalName READ externalName NOTIFY definitionChanged)
    /// The current value as the device reports it, unconverted: a number in the units and scale
    /// the device keeps (235 for 23.5 °C kept in tenths), an enumeration's number, a text.
    /// Undefined until the device has reported one, and without a point.
    Q_PROPERTY(QVariant value READ value NOTIFY valueChanged)
    /// The value as people read it: a number converted into the display units and rounded to
    /// their resolution, followed by the units ("74.3 °F"); an enumeration's label ("Hand"); a
    /// dotted address, a date or duration, a text. Empty until the device has reported a value,
    /// and without a point. Changes with the value and with the provider's display system.
    Q_PROPERTY(QString displayText READ displayText NOTIFY displayTextChanged)
    /// The value as people edit it: a number in display units (74.3), an enumeration's label,
    /// otherwise displayText. Undefined until the device has reported a value, and without a
    /// point. Changes with the value and with the provider's display system.
    Q_PROPERTY(QVariant displayValue READ displayValue NOTIFY displayValueChanged)
    /// The display units' label shown after numbers ("°F", "%"); empty for enumerations, texts
    /// and the other types without units, and without a point.
    Q_PROPERTY(QString units READ units NOTIFY displayUnitsChanged)
    /// The lowest value a write takes, a number in display units; undefined when the point has
    /// no limits (enumerations, texts, numbers without limits) and without a point.
    Q_PROPERTY(QVariant minimum READ minimum NOTIFY displayUnitsChanged)
    /// The highest value a write takes, a number in display units; undefined when the point has
    /// no limits (enumerations, texts, numbers without limits) and without a point.
    Q_PROPERTY(QVariant maximum READ maximum NOTIFY displayUnitsChanged)
    /// The limits for people: the range in display units without the units ("86.0 – 203.0"),
    /// an enumeration's choices ("Off, On"), "up to N characters" for texts; empty when there
    /// are none.
    Q_PROPERTY(QString limitsText READ limitsText NOTIFY displayUnitsChanged)
    /// An enumeration's labels in the order of their values (["Off", "On"]); empty for other
    /// types and without a point.
    Q_PROPERTY(QStringList labels READ labels NOTIFY definitionChanged)
    /// Whether the point takes writes; false for a read-only point and without a point.
    Q_PROPERTY(bool writable READ isWritable NOTIFY definitionChanged)
    /// Whether the point has a value: false until the device has reported one.
    Q_PROPERTY(bool available READ isAvailable NOTIFY availableChanged)
    /// Where the point's last write stands: Point.Idle, Pending, Confirmed or Refused. An
    /// answer stays shown until the device reports another value.
    Q_PROPERTY(WriteState writeState READ writeState NOTIFY writeStateChanged)
    /// Why the device refused the last write, its messages joined by "; " ("Not while the
    /// burner runs"); empty unless writeState is Refused.
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    /// Why the last call of write was refused before anything was sent ("Above the upper limit
    /// 203.0 °F", "The point is read-only"); empty after an accepted write and once another
    /// point (or none) is looked up.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    /// Whether the provider's values are current: for a PointProvider mirroring a remote
    /// device, whether the device is online and its broker reachable; any other provider (or
    /// none) counts as online.
    Q_PROPERTY(bool online READ isOnline NOTIFY onlineChanged)
    /// Whether the value shown is the last one known of a device that is offline (not online).
    Q_PROPERTY(bool stale READ isStale NOTIFY onlineChanged)

public:
    /// Where a write stands, as kivo::DPointTableModel::WriteState has it.
    enum WriteState {
        Idle, ///< no write requested, or its answer was followed by another value
        Pending, ///< requested; the device has not answered yet
        Confirmed, ///< the device took the value
        Refused ///< the device refused the value; statusText says why
    };
    Q_ENUM(WriteState)

    /// @cond
    explicit Point(QObject* parent = nullptr);
    ~Point() override;

    QObject* provider() const { return m_provider; }
    void setProvider(QObject* provider);
    QString name() const { return m_name; }
    void setName(const QString& name);

    bool isValid() const;
    QString externalName() const;
    QVariant value() const;
    QString displayText() const;
    QVariant displayValue() const;
    QString units() const;
    QVariant minimum() const;
    QVariant maximum() const;
    QString limitsText() const;
    QStringList labels() const;
    bool isWritable() const;
    bool isAvailable() const;
    WriteState writeState() const;
    QString statusText() const;
    QString error() const { return m_error; }
    bool isOnline() const;
    bool isStale() const { return !isOnline(); }
    /// @endcond

    /// Requests a write of displayValue: a number in display units, an enumeration's label (any
    /// letter case), or text as displayText shows it, with or without the units. Checks the
    /// point's type, limits and writability, then asks the device: writeState becomes Pending,
    /// then Confirmed or Refused when the device answers. True when the write was requested
    /// (or the point already holds the value); false, with the reason in error and nothing
    /// sent, when it is refused.
    Q_INVOKABLE bool write(const QVariant& displayValue);

    /// @cond
    void classBegin() override { }
    void componentComplete() override;
    /// @endcond

Q_SIGNALS:
    /// @cond
    void providerChanged();
    void nameChanged();
    /// @endcond

    /// Another point was found for name, or none: valid, externalName, labels and writable
    /// may have changed.
    void definitionChanged();

    /// @cond
    void valueChanged();
    void displayTextChanged();
    void displayValueChanged();
    void availableChanged();
    void writeStateChanged();
    void statusTextChanged();
    void errorChanged();
    /// @endcond

    /// online and stale changed: another provider, or the remote device went offline or came
    /// back.
    void onlineChanged();
    /// units, minimum, maximum or limitsText may show other figures: another definition, or
    /// another display system.
    void displayUnitsChanged();

protected:
    /// @cond
    void connectNotify(const QMetaMethod& signal) override;
    /// @endcond

private Q_SLOTS:
    void resolve();
    void refresh();

private:
    struct Shown
    {
        QVariant value;
        QString displayText;
        QVariant displayValue;
        bool available = false;
        int writeState = 0;
        QString statusText;
    };

    void follow();
    void warnIfUnknown();
    void onDisplaySystemChanged();
    Shown shown() const;
    const kivo::DPointDef* definition() const;

    QPointer<QObject> m_provider;
    QString m_name;
    QPointer<kivo::DPointObject> m_point;
    // Follows the point (its write states above all) once something listens or a write is made.
    std::unique_ptr<kivo::DPointTableModel> m_follower;
    bool m_reading = false; // value, displayText or displayValue is listened to
    bool m_following = false; // a property that changes with the point is listened to
    bool m_startQueued = false;
    bool m_complete = false;
    QString m_warnedName; // the unknown name last reported, so that it is reported once
    QMetaObject::Connection m_unitsConnection; // the definition's registry's display system
    QMetaObject::Connection m_onlineConnection; // the provider's online state
    Shown m_shown;
    QString m_error;
};

} // namespace kivo
