#pragma once

#include <QList>
#include <QMainWindow>
#include <QVariant>

class QLabel;
class QTableView;

namespace kivo {
class DPointObject;
class DPointTableModel;
class MeasurementRegistry;
} // namespace kivo

/// The panel: one table row per live point (name, value in display units, display hints) and a
/// status bar that follows each write through request, commit and the device's answer.
/// Edits in the value column request a write instead of setting the value directly.
/// Does not own the points or the registry.
class PanelWindow : public QMainWindow
{
    Q_OBJECT
public:
    PanelWindow(const QList<kivo::DPointObject*>& points, kivo::MeasurementRegistry* registry,
        const QString& title, QWidget* parent = nullptr);

    /// Requests a write of the display text to the point named name, as an edit in the table
    /// would; false when there is no such row or the text does not fit the point.
    bool requestWrite(const QString& name, const QString& text);

public Q_SLOTS:
    /// Shows the device's tick count and how many points it reports.
    void showDeviceState(int tick, int reporting);

private:
    void followWrites(kivo::DPointObject* point);
    QString nameOf(kivo::DPointObject* point) const;
    QString valueOf(kivo::DPointObject* point) const;

    kivo::MeasurementRegistry* m_registry = nullptr;
    kivo::DPointTableModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QLabel* m_deviceLabel = nullptr;
};
