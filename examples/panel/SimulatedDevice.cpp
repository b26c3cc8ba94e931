#include "SimulatedDevice.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/points/DPointObject.h>
#include <kivo/types/DPTypeNumber.h>

#include <QDateTime>

#include <cmath>

namespace {

// A smooth, repeatable wave, so that every run (and every screenshot) looks alike.
std::function<QVariant(int)> wave(double base, double amplitude, double period)
{
    return [=](int tick) {
        return QVariant(int(std::lround(base + amplitude * std::sin(tick * 6.283 / period))));
    };
}

std::function<QVariant(int)> realWave(double base, double amplitude, double period)
{
    return [=](int tick) {
        return QVariant(std::round(10 * (base + amplitude * std::sin(tick * 6.283 / period))) / 10);
    };
}

} // namespace

SimulatedDevice::SimulatedDevice(const QList<kivo::DPointObject*>& points, QObject* parent)
    : QObject(parent)
{
    // Raw values in the units of the sample dictionary (for example 0.1 degC for temperatures).
    m_signals.insert(QStringLiteral("SupplyTemp"), wave(815, 12, 9));
    m_signals.insert(QStringLiteral("ReturnTemp"), wave(640, 8, 13));
    m_signals.insert(QStringLiteral("OutdoorTemp"), wave(45, 6, 40));
    m_signals.insert(QStringLiteral("FlueGasTemp"), wave(162, 9, 7));
    m_signals.insert(QStringLiteral("SystemPressure"), wave(152, 3, 5));
    m_signals.insert(QStringLiteral("GasPressure"), wave(24, 2, 6));
    m_signals.insert(QStringLiteral("FlowRate"), wave(118, 6, 11));
    m_signals.insert(QStringLiteral("HeatOutput"), wave(860, 90, 9));
    m_signals.insert(QStringLiteral("FanSpeed"), wave(3300, 450, 9));
    m_signals.insert(QStringLiteral("SupplyVoltage"), wave(231, 2, 4));
    m_signals.insert(QStringLiteral("HeatOutputFiltered"), realWave(860, 40, 18));
    m_signals.insert(QStringLiteral("EfficiencyEstimate"), realWave(91.5, 0.8, 13));
    m_signals.insert(
        QStringLiteral("BurnerHours"), [](int tick) { return QVariant(12840 + tick / 60); });
    m_signals.insert(
        QStringLiteral("ControllerUptime"), [](int tick) { return QVariant(86400 * 3 + tick); });
    m_signals.insert(QStringLiteral("ControllerClock"),
        [](int) { return QVariant(int(QDateTime::currentSecsSinceEpoch())); });
    m_signals.insert(QStringLiteral("BurnerState"), [](int tick) {
        return QVariant(std::sin(tick * 6.283 / 9) > 0 ? 4 : 3); // high fire / low fire
    });

    for (kivo::DPointObject* point : points) {
        // covEnabled comes while the point holds its own lock: report after it has let go.
        connect(
            point, &kivo::DPointObject::covEnabled, this,
            [this, point](bool on) {
                if (on)
                    startReporting(point);
            },
            Qt::QueuedConnection);
        connect(point, &kivo::DPointObject::updatePending, this, [this, point] { answer(point); });
    }
    connect(&m_timer, &QTimer::timeout, this, &SimulatedDevice::tick);
}

void SimulatedDevice::start()
{
    m_timer.start(1000);
}

void SimulatedDevice::startReporting(kivo::DPointObject* point)
{
    const kivo::DPointDef* def = point->getDPointDef();
    QVariant value = def && def->m_type ? def->m_type->getDefaultValue() : QVariant();
    const auto simulated = m_signals.constFind(def ? def->objectName() : QString());
    if (simulated != m_signals.constEnd())
        value = (*simulated)(m_tick);
    else if (def && def->objectName() == QLatin1String("ControllerAddress"))
        value = int(0xC0A80A14u); // 192.168.10.20; addresses travel as 32-bit integers
    else if (def && def->objectName() == QLatin1String("BmsGateway"))
        value = int(0xC0A80A01u);
    report(point, value);
}

void SimulatedDevice::tick()
{
    ++m_tick;
    for (auto it = m_reporting.begin(); it != m_reporting.end(); ++it) {
        kivo::DPointObject* point = it.key();
        const auto simulated = m_signals.constFind(point->getDPointDef()->objectName());
        if (simulated != m_signals.constEnd() && !point->isPending()) {
            it.value() = (*simulated)(m_tick);
            point->setCurrentValue(it.value());
        }
    }
    Q_EMIT ticked(m_tick, int(m_reporting.size()));
}

void SimulatedDevice::answer(kivo::DPointObject* point)
{
    const QVariant requested = point->getPendingValue();
    // A controller takes a moment to carry out a write; the panel shows the point as pending
    // until the answer arrives.
    QTimer::singleShot(500, this, [this, point, requested] {
        const kivo::DPointDef* def = point->getDPointDef();
        const auto* number = qobject_cast<const kivo::DPTypeNumber*>(def->m_type);
        QString refusal;
        if (number && (requested.toInt() < number->m_min || requested.toInt() > number->m_max))
            refusal = QStringLiteral("Device refused the value");
        else if (def->objectName() == QLatin1String("PumpMode") && requested.toInt() == 0)
            refusal = QStringLiteral("The pump must run while the boiler is enabled");
        if (refusal.isEmpty()) {
            m_reporting[point] = requested;
            point->setUpdateComplete(requested, kivo::StatRef());
            return;
        }
        // A refusal answers with the value the device actually holds, and says why.
        point->setUpdateComplete(m_reporting.value(point),
            kivo::StatRef(new kivo::StatBase(QStringLiteral("E42"), refusal)));
    });
}

void SimulatedDevice::report(kivo::DPointObject* point, const QVariant& value)
{
    m_reporting.insert(point, value);
    point->setCurrentValue(value);
}
