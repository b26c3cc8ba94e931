#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>

class QLabel;
class QTableView;

namespace kivo {
class DPointObject;
class DPointTableModel;
} // namespace kivo

/// The panel: one table row per live point through kivo::DPointTableModel (values in display
/// units, units, limits, display hints) and a status bar that follows each write through
/// request, commit and the device's answer. Does not own the points.
class PanelWindow : public QMainWindow
{
    Q_OBJECT
public:
    PanelWindow(
        const QList<kivo::DPointObject*>& points, const QString& title, QWidget* parent = nullptr);

    /// Selects the row of the point named name and edits its value to text, as typing it into
    /// the table would; false when there is no such row or the model refuses the text.
    bool requestWrite(const QString& name, const QString& text);

public Q_SLOTS:
    /// Shows the device's tick count and how many points it reports.
    void showDeviceState(int tick, int reporting);

private:
    void followWrites(kivo::DPointObject* point);
    void showInputErrors(int firstRow, int lastRow);
    QString nameOf(kivo::DPointObject* point) const;
    /// The value column's data for role, as text.
    QString cell(kivo::DPointObject* point, int role) const;

    kivo::DPointTableModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QLabel* m_deviceLabel = nullptr;
    // The input error last shown per row, so that a row's error is announced once.
    QHash<int, QString> m_shownErrors;
};
