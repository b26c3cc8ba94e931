#pragma once

#include <kivo/kivodpoints_export.h>

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QVector>

namespace kivo {

class DPointModelItemData;
class DPointObject;

/// A flat table of live points: one DPointModelItemData row per point, columns name, value, hints.
/// Owns its row items (QObject children), not the points; used from its own thread only.
///
/// A point's valueChanged emits dataChanged for its whole row in the model's thread (queued when
/// the point reports from another thread). A destroyed point's row is removed at once when the
/// point dies in the model's thread, on the model's next event-loop pass otherwise; meanwhile a
/// QPointer guard makes the row read invalid and refuse edits, so the dead point is never used.
/// A point must not be deleted while the model's thread is reading it.
class KIVODPOINTS_EXPORT DPointTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    /// Column numbers of the row items.
    enum Column { NameColumn = 0, ValueColumn = 1, HintsColumn = 2, ColumnCount = 3 };

    /// An empty model.
    explicit DPointTableModel(QObject* parent = nullptr);
    ~DPointTableModel() override;

    /// Appends a row for point; returns its row, the existing row when the point is already shown,
    /// or -1 for a null point.
    int addPoint(DPointObject* point);
    /// Appends one row per point in list order (one insertion), skipping null points and points
    /// already shown; returns the number of rows added.
    int addPoints(QList<DPointObject*> const& points);
    /// Appends item (a subclass may answer its cells differently) and takes ownership of it;
    /// returns its row, or -1 (item deleted) when it is null, has no point, or its point is
    /// already shown.
    int addItem(DPointModelItemData* item);
    /// Removes all rows and deletes their items.
    void clear();

    /// The row item at row; null when row is out of range.
    DPointModelItemData* itemAt(int row) const;
    /// The point shown at row; null when row is out of range or the point was destroyed.
    DPointObject* pointAt(int row) const;
    /// The row showing point; -1 when none does (or the point was destroyed).
    int rowOfPoint(DPointObject const* point) const;

    /// Number of rows; 0 below the root.
    int rowCount(QModelIndex const& parent = QModelIndex()) const override;
    /// 3; 0 below the root.
    int columnCount(QModelIndex const& parent = QModelIndex()) const override;
    /// The row item's answer for Qt::DisplayRole, Qt::EditRole and WorksheetRole, its roleData()
    /// for PointRole and DefinitionRole; invalid for other roles, bad indexes and dead points.
    QVariant data(QModelIndex const& index, int role = Qt::DisplayRole) const override;
    /// Whether the row item took a Qt::EditRole edit of an editable cell; dataChanged follows
    /// from the point's valueChanged when the value really changes.
    bool setData(QModelIndex const& index, QVariant const& value, int role = Qt::EditRole) override;
    /// Enabled and selectable; the value column also editable when the definition is writable.
    Qt::ItemFlags flags(QModelIndex const& index) const override;
    /// "Name", "Value" and "Hints" for the horizontal display role; the base's answer otherwise.
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    /// The base's roles plus "point", "definition" and "worksheet".
    QHash<int, QByteArray> roleNames() const override;
    /// Removes count rows from row and deletes their items; false for a range outside the table.
    bool removeRows(int row, int count, QModelIndex const& parent = QModelIndex()) override;

private:
    struct Row
    {
        DPointModelItemData* item = nullptr;
        // Kept raw for matching destroyed(): the guard is already null when that signal comes.
        QObject const* point = nullptr;
        QPointer<DPointObject> guard;
    };

    Row makeRow(DPointModelItemData* item);
    void onPointDestroyed(QObject* object);
    void releaseRow(Row const& row);

    QVector<Row> m_rows;
};

} // namespace kivo
