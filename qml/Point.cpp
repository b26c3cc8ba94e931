#include "Point.h"

#include "PointProvider.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/measurement/MeasurementRegistry.h>
#include <kivo/models/DPointTableModel.h>
#include <kivo/points/DPointDisplay.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/DPointProvider.h>
#include <kivo/types/DPTypeEnum.h>
#include <kivo/types/DPTypeNumber.h>
#include <kivo/types/DPTypeReal.h>

#include <QMetaMethod>
#include <QQmlInfo>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

// A limit in display units; undefined where the definition has none (both limits 0 or NaN).
QVariant displayLimit(const kivo::DPointDef* def, bool upper)
{
    double min = 0.0;
    double max = 0.0;
    const kivo::DPTypeBase* type = def ? def->m_type : nullptr;
    if (const auto* number = qobject_cast<const kivo::DPTypeNumber*>(type)) {
        min = number->m_min;
        max = number->m_max;
    } else if (const auto* real = qobject_cast<const kivo::DPTypeReal*>(type)) {
        min = real->m_min;
        max = real->m_max;
    }
    if ((min == 0.0 && max == 0.0) || std::isnan(min) || std::isnan(max))
        return QVariant();
    const bool integer = qobject_cast<const kivo::DPTypeNumber*>(type) != nullptr;
    const double raw = upper ? max : min;
    return kivo::DPointDisplay::displayValue(def, integer ? QVariant(int(raw)) : QVariant(raw));
}

// Edits (insertions, deletions, substitutions) that turn a into b, letter case ignored.
int editDistance(const QString& a, const QString& b)
{
    const QString from = a.toCaseFolded();
    const QString to = b.toCaseFolded();
    QVector<int> row(to.size() + 1);
    for (int j = 0; j <= to.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= from.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= to.size(); ++j) {
            const int substituted = diagonal + (from.at(i - 1) == to.at(j - 1) ? 0 : 1);
            diagonal = row[j];
            row[j] = std::min({ row[j] + 1, row[j - 1] + 1, substituted });
        }
    }
    return row[to.size()];
}

// The name of provider's point nearest to name, the first in the device's order of those
// equally near; empty when it has no points.
QString nearestName(kivo::DPointProvider* provider, const QString& name)
{
    QString nearest;
    int best = -1;
    for (const kivo::DPointObject* point : PointProvider::pointsOf(provider)) {
        const kivo::DPointDef* def = point->getDPointDef();
        const QString candidate = def ? def->objectName() : point->objectName();
        const int distance = editDistance(name, candidate);
        if (best < 0 || distance < best) {
            best = distance;
            nearest = candidate;
        }
    }
    return nearest;
}

} // namespace

Point::Point(QObject* parent)
    : QObject(parent)
{ }

Point::~Point() = default;

void Point::setProvider(QObject* provider)
{
    if (provider == m_provider)
        return;
    PointProvider::follow(m_provider, provider, this, &Point::resolve);
    const bool wasOnline = isOnline();
    disconnect(m_onlineConnection);
    m_provider = provider;
    if (auto* loading = qobject_cast<PointProvider*>(provider))
        m_onlineConnection
            = connect(loading, &PointProvider::onlineChanged, this, &Point::onlineChanged);
    Q_EMIT providerChanged();
    resolve();
    if (isOnline() != wasOnline)
        Q_EMIT onlineChanged();
}

bool Point::isOnline() const
{
    const auto* provider = qobject_cast<const PointProvider*>(m_provider);
    return !provider || provider->isOnline();
}

void Point::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    Q_EMIT nameChanged();
    resolve();
}

void Point::resolve()
{
    auto* provider = qobject_cast<kivo::DPointProvider*>(m_provider);
    kivo::DPointObject* point
        = provider && !m_name.isEmpty() ? provider->getDPointByName(m_name) : nullptr;
    if (point == m_point) {
        warnIfUnknown();
        return;
    }
    m_point = point;
    m_follower.reset();
    disconnect(m_unitsConnection);
    const kivo::DPointDef* def = definition();
    if (def && def->m_registry) {
        m_unitsConnection
            = connect(def->m_registry, &kivo::MeasurementRegistry::displaySystemIdChanged, this,
                &Point::onDisplaySystemChanged);
    }
    if (m_following)
        follow();
    if (!m_error.isEmpty()) {
        m_error.clear();
        Q_EMIT errorChanged();
    }
    Q_EMIT definitionChanged();
    Q_EMIT displayUnitsChanged();
    refresh();
    warnIfUnknown();
}

void Point::componentComplete()
{
    m_complete = true;
    warnIfUnknown();
}

void Point::warnIfUnknown()
{
    auto* provider = qobject_cast<kivo::DPointProvider*>(m_provider);
    if (m_point || !m_complete || !provider || m_name.isEmpty()) {
        m_warnedName.clear();
        return;
    }
    // A PointProvider that has not loaded (or could not) has no names to compare with.
    const auto* loading = qobject_cast<const PointProvider*>(provider);
    if ((loading && loading->status() != PointProvider::Ready)
        || m_name.compare(m_warnedName, Qt::CaseInsensitive) == 0)
        return;
    // Without points (none loaded yet, or all dropped) there is nothing to be near.
    const QString nearest = nearestName(provider, m_name);
    if (nearest.isEmpty())
        return;
    m_warnedName = m_name;
    qmlWarning(this) << tr("No point named \"%1\" in the provider; the nearest name is \"%2\"")
                            .arg(m_name, nearest);
}

void Point::onDisplaySystemChanged()
{
    Q_EMIT displayUnitsChanged();
    refresh();
}

void Point::connectNotify(const QMetaMethod& signal)
{
    static const QMetaMethod reads[] = { QMetaMethod::fromSignal(&Point::valueChanged),
        QMetaMethod::fromSignal(&Point::displayTextChanged),
        QMetaMethod::fromSignal(&Point::displayValueChanged) };
    static const QMetaMethod follows[] = { QMetaMethod::fromSignal(&Point::availableChanged),
        QMetaMethod::fromSignal(&Point::writeStateChanged),
        QMetaMethod::fromSignal(&Point::statusTextChanged) };
    const bool read = std::find(std::begin(reads), std::end(reads), signal) != std::end(reads);
    if (!read && std::find(std::begin(follows), std::end(follows), signal) == std::end(follows))
        return;
    m_reading = m_reading || read;
    // Connected while QML evaluates a binding: the point is read and followed right after.
    if (!m_startQueued) {
        m_startQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_startQueued = false;
                m_following = true;
                follow();
                refresh();
            },
            Qt::QueuedConnection);
    }
}

void Point::follow()
{
    if (!m_point)
        return;
    if (!m_follower) {
        m_follower = std::make_unique<kivo::DPointTableModel>();
        m_follower->addPoint(m_point);
        connect(m_follower.get(), &QAbstractItemModel::dataChanged, this, &Point::refresh);
        connect(m_follower.get(), &QAbstractItemModel::rowsRemoved, this, &Point::refresh);
    }
    // The first read switches on the point's change reporting.
    if (m_reading)
        m_point->getCurrentValue();
}

Point::Shown Point::shown() const
{
    Shown shown;
    if (m_reading && m_point) {
        shown.value = value();
        shown.displayText = displayText();
        shown.displayValue = displayValue();
    }
    shown.available = isAvailable();
    shown.writeState = writeState();
    shown.statusText = statusText();
    return shown;
}

void Point::refresh()
{
    const Shown now = shown();
    const Shown before = std::exchange(m_shown, now);
    if (now.value != before.value || now.value.userType() != before.value.userType())
        Q_EMIT valueChanged();
    if (now.displayText != before.displayText)
        Q_EMIT displayTextChanged();
    if (now.displayValue != before.displayValue)
        Q_EMIT displayValueChanged();
    if (now.available != before.available)
        Q_EMIT availableChanged();
    if (now.writeState != before.writeState)
        Q_EMIT writeStateChanged();
    if (now.statusText != before.statusText)
        Q_EMIT statusTextChanged();
}

const kivo::DPointDef* Point::definition() const
{
    return m_point ? m_point->getDPointDef() : nullptr;
}

bool Point::isValid() const
{
    return !m_point.isNull();
}

QString Point::externalName() const
{
    const kivo::DPointDef* def = definition();
    return def ? def->m_externalName : QString();
}

QVariant Point::value() const
{
    return m_point ? m_point->getCurrentValue() : QVariant();
}

QString Point::displayText() const
{
    return m_point ? kivo::DPointDisplay::displayText(definition(), m_point->getCurrentValue())
                   : QString();
}

QVariant Point::displayValue() const
{
    return m_point ? kivo::DPointDisplay::displayValue(definition(), m_point->getCurrentValue())
                   : QVariant();
}

QString Point::units() const
{
    return kivo::DPointDisplay::unitsLabel(definition());
}

QVariant Point::minimum() const
{
    return displayLimit(definition(), false);
}

QVariant Point::maximum() const
{
    return displayLimit(definition(), true);
}

QString Point::limitsText() const
{
    return kivo::DPointDisplay::limitsText(definition());
}

QStringList Point::labels() const
{
    const kivo::DPointDef* def = definition();
    const auto* enumeration = def ? qobject_cast<const kivo::DPTypeEnum*>(def->m_type) : nullptr;
    if (!enumeration)
        return QStringList();
    QList<int> keys = enumeration->m_values.keys();
    std::sort(keys.begin(), keys.end());
    QStringList labels;
    for (int key : qAsConst(keys))
        labels << enumeration->m_values.value(key);
    return labels;
}

bool Point::isWritable() const
{
    const kivo::DPointDef* def = definition();
    return def && def->m_writable;
}

bool Point::isAvailable() const
{
    return m_point && m_point->isAvailable();
}

Point::WriteState Point::writeState() const
{
    if (!m_follower || m_follower->rowCount() == 0)
        return Idle;
    return WriteState(m_follower->index(0, 0).data(kivo::DPointTableModel::WriteStateRole).toInt());
}

QString Point::statusText() const
{
    return writeState() == Refused ? kivo::DPointDisplay::statusText(m_point->getUpdateStatus())
                                   : QString();
}

bool Point::write(const QVariant& displayValue)
{
    QString error;
    bool accepted = false;
    if (!isValid()) {
        error = tr("There is no point named \"%1\"").arg(m_name);
    } else {
        follow();
        accepted = m_follower->setData(
            m_follower->index(0, kivo::DPointTableModel::ValueColumn), displayValue);
        error = m_follower->lastInputError();
    }
    if (error != m_error) {
        m_error = error;
        Q_EMIT errorChanged();
    }
    refresh();
    return accepted;
}

} // namespace kivo
