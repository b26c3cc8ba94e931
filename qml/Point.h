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
    Q_PROPERTY(QObject* provider READ provider WRITE setProvider NOTIFY providerChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(bool valid READ isValid NOTIFY definitionChanged)
    Q_PROPERTY(QString externalName READ externalName NOTIFY definitionChanged)
    Q_PROPERTY(QVariant value READ value NOTIFY valueChanged)
    Q_PROPERTY(QString displayText READ displayText NOTIFY displayTextChanged)
    Q_PROPERTY(QVariant displayValue READ displayValue NOTIFY displayValueChanged)
    Q_PROPERTY(QString units READ units NOTIFY displayUnitsChanged)
    Q_PROPERTY(QVariant minimum READ minimum NOTIFY displayUnitsChanged)
    Q_PROPERTY(QVariant maximum READ maximum NOTIFY displayUnitsChanged)
    Q_PROPERTY(QString limitsText READ limitsText NOTIFY displayUnitsChanged)
    Q_PROPERTY(QStringList labels READ labels NOTIFY definitionChanged)
    Q_PROPERTY(bool writable READ isWritable NOTIFY definitionChanged)
    Q_PROPERTY(bool available READ isAvailable NOTIFY availableChanged)
    Q_PROPERTY(WriteState writeState READ writeState NOTIFY writeStateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(bool online READ isOnline NOTIFY onlineChanged)
    Q_PROPERTY(bool stale READ isStale NOTIFY onlineChanged)

public:
    /// The values of kivo::DPointTableModel::WriteState.
    enum WriteState { Idle, Pending, Confirmed, Refused };
    Q_ENUM(WriteState)

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
    /// The limits in display units as kivo::DPointDisplay::limitsText gives them.
    QString limitsText() const;
    QStringList labels() const;
    bool isWritable() const;
    bool isAvailable() const;
    WriteState writeState() const;
    QString statusText() const;
    QString error() const { return m_error; }
    /// Whether the provider's values are current: a remote device's PointProvider says whether
    /// the device is online; any other provider counts as online.
    bool isOnline() const;
    /// Whether the value shown is the last one known of a device that is offline.
    bool isStale() const { return !isOnline(); }

    /// Requests a write of displayValue (a number in display units, a label, or text as
    /// displayText shows it); false, with the reason in error, when it is refused.
    Q_INVOKABLE bool write(const QVariant& displayValue);

    void classBegin() override { }
    void componentComplete() override;

Q_SIGNALS:
    void providerChanged();
    void nameChanged();
    void definitionChanged();
    void valueChanged();
    void displayTextChanged();
    void displayValueChanged();
    void availableChanged();
    void writeStateChanged();
    void statusTextChanged();
    void errorChanged();
    void onlineChanged();
    /// units, minimum, maximum or limitsText may show other figures: another definition, or
    /// another display system.
    void displayUnitsChanged();

protected:
    void connectNotify(const QMetaMethod& signal) override;

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
