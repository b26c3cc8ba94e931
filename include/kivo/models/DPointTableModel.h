#pragma once

#include <kivo/kivodpoints_export.h>

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVector>

namespace kivo {

class DPointModelItemData;
class DPointObject;

/// A flat table of live points, one DPointModelItemData row per point, that speaks display units
/// and walks the write cycle: the value column shows DPointDisplay texts, and an edit becomes a
/// write request (setUpdatePending with automatic commit) whose progress WriteStateRole shows.
/// Owns its row items (QObject children), not the points; used from its own thread only.
///
/// A point's valueChanged, updatePending and updateCompleted emit dataChanged for its whole row
/// in the model's thread (queued when the point reports from another thread); a change of the
/// display system of a definition's registry emits it for the value, units and limits columns
/// of the rows using that registry. A destroyed point's row is removed at once when the point
/// dies in the model's thread, on the model's next event-loop pass otherwise; meanwhile a
/// QPointer guard makes the row read invalid and refuse edits, so the dead point is never used.
/// A point must not be deleted while the model's thread is reading it.
class KIVODPOINTS_EXPORT DPointTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    /// Columns: the external name, the value, the units label, the limits (DPointDisplay), the
    /// "Worksheet" hint, the line id, the "LargeDisplay" hint and the "DisplayHints" groups.
    enum Column {
        NameColumn = 0, ///< the external name
        ValueColumn = 1, ///< the value, in display units
        UnitsColumn = 2, ///< the units label
        LimitsColumn = 3, ///< the limits
        WorksheetColumn = 4, ///< the "Worksheet" hint
        LineIdColumn = 5, ///< the line id
        LargeDisplayColumn = 6, ///< the "LargeDisplay" hint
        GroupsColumn = 7, ///< the "DisplayHints" groups
        ColumnCount = 8 ///< the number of columns
    };
    Q_ENUM(Column)

    /// Where a row's last write stands.
    enum WriteState {
        NoWrite = 0, ///< none requested, or its answer was followed by another value
        WritePending = 1, ///< requested and not yet answered by the device
        WriteConfirmed = 2, ///< the device answered with a successful status
        WriteRefused = 3 ///< the device answered with a failure status (see WriteStatusRole)
    };
    Q_ENUM(WriteState)

    /// Row-wide roles, answered on every column.
    enum Role {
        WriteStateRole = Qt::UserRole + 110, ///< int: the WriteState
        WriteStatusRole = Qt::UserRole + 111, ///< text: the write state for people; for a
                                              ///< refused write the status chain's messages
        InputErrorRole = Qt::UserRole + 112, ///< text: why the row's last edit was refused
        RawValueRole = Qt::UserRole + 113 ///< the point's current value, unconverted
    };
    Q_ENUM(Role)

    /// An empty model.
    explicit DPointTableModel(QObject* parent = nullptr);
    ~DPointTableModel() override;

    /// Appends a row for point; returns its row, the existing row when the point is already shown,
    /// or -1 for a null point.
    int addPoint(DPointObject* point);
    /// Appends one row per point in list order (one insertion), skipping null points and points
    /// already shown; returns the number of rows added.
    int addPoints(QList<DPointObject*> const& points);
    /// Appends item (a subclass may answer the name column differently) and takes ownership of
    /// it; returns its row, or -1 (item deleted) when it is null, has no point, or its point is
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
    /// Why the last refused edit was refused ("Above the upper limit 203.0 °F"); empty when the
    /// last edit was accepted or none was made.
    QString lastInputError() const;

    /// Number of rows; 0 below the root.
    int rowCount(QModelIndex const& parent = QModelIndex()) const override;
    /// ColumnCount; 0 below the root.
    int columnCount(QModelIndex const& parent = QModelIndex()) const override;
    /// Qt::DisplayRole: the column's text, the value as DPointDisplay::displayText (empty while
    /// the point has no value); Qt::EditRole: the value as DPointDisplay::displayValue (a number
    /// in display units, an enumeration label), other columns as for display; Qt::ToolTipRole
    /// on the value column: the input error, else the write status. WorksheetRole and the Role
    /// values on every column; PointRole and DefinitionRole from the item's roleData(). Invalid
    /// for other roles, bad indexes and dead points.
    QVariant data(QModelIndex const& index, int role = Qt::DisplayRole) const override;
    /// Takes a Qt::EditRole edit of the value column given as text or a number in display units
    /// (DPointDisplay::rawValue), checks it with checkDPointType, DPointDisplay::checkLimits and
    /// the definition's writability, and requests the write with setUpdatePending(raw, true);
    /// the value the point already holds is accepted without a write.
    /// False, the point untouched and the reason in InputErrorRole and lastInputError(), when
    /// refused; false without a reason for other roles and columns.
    bool setData(QModelIndex const& index, QVariant const& value, int role = Qt::EditRole) override;
    /// Enabled and selectable; the value column also editable when the definition is writable.
    Qt::ItemFlags flags(QModelIndex const& index) const override;
    /// The translated column titles for the horizontal display role; the base's answer otherwise.
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    /// The base's roles plus "point", "definition", "worksheet", "writeState", "writeStatus",
    /// "inputError" and "rawValue".
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
        WriteState writeState = NoWrite;
        QString writeStatus;
        // The value the device answered with; the next different value ends the answer's display.
        QVariant answeredValue;
        QString inputError;
    };

    Row makeRow(DPointModelItemData* item);
    int rowOfSender(QObject const* point) const;
    void rowChanged(int row);
    void onValueChanged(QObject const* point);
    void onUpdatePending(QObject const* point);
    void onUpdateCompleted(QObject const* point, bool success);
    bool requestWrite(Row& row, QVariant const& value, QString* reason);
    QVariant cellData(Row const& row, int column, int role) const;
    void onPointDestroyed(QObject* object);
    void releaseRow(Row const& row);
    void onDisplaySystemChanged();

    QVector<Row> m_rows;
    QString m_lastInputError;
};

} // namespace kivo
