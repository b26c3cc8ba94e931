#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVariant>

#include <functional>

namespace kivo {
class DPointObject;
} // namespace kivo

/// Stands in for the controller behind the panel: reports a point's value once the point has
/// been read (covEnabled), changes the measured values every second, and answers every write
/// 500 ms after it was committed: integers outside the point's limits and pump mode Off are
/// refused with the device's own value and a status. Does not own the points.
class SimulatedDevice : public QObject
{
    Q_OBJECT
public:
    explicit SimulatedDevice(const QList<kivo::DPointObject*>& points, QObject* parent = nullptr);

    /// Starts the one-second measurement tick.
    void start();

Q_SIGNALS:
    /// After each tick: the tick number and how many points the device reports.
    void ticked(int tick, int reporting);

private:
    void startReporting(kivo::DPointObject* point);
    void tick();
    void answer(kivo::DPointObject* point);
    void report(kivo::DPointObject* point, const QVariant& value);

    QTimer m_timer;
    int m_tick = 0;
    // What the device holds, by point: a refused write falls back to it.
    QHash<kivo::DPointObject*, QVariant> m_reporting;
    QHash<QString, std::function<QVariant(int)>> m_signals;
};
