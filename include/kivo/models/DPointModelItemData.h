#pragma once

#include <kivo/kivodpoints_export.h>

#include <kivo/ModelItemData.h>

#include <QVariant>

namespace kivo {

class DPointDef;
class DPointObject;

/// One live point as one three-column row of an item model: name, value (enumeration labels,
/// type defaults) and display hints. The point is not owned and may be null; the item has no
/// parent of its own. Uses the meta-object of ModelItemData (it declares none itself).
class KIVODPOINTS_EXPORT DPointModelItemData : public ModelItemData
{
public:
    /// Role of roleData(): the point, as a QVariant holding a DPointObject*.
    static constexpr int PointRole = Qt::UserRole + 103;
    /// Role of roleData(): the point's definition, as a QVariant holding a DPointDef*.
    static constexpr int DefinitionRole = Qt::UserRole + 104;
    /// Role of data() on the hints column: the "Worksheet" hint alone.
    static constexpr int WorksheetRole = Qt::UserRole + 106;

    /// Constructs an item showing point (not owned; null gives an item that shows nothing).
    explicit DPointModelItemData(DPointObject* point);
    ~DPointModelItemData() override;

    /// Always 3 (name, value, hints), whatever setColumnCount was asked.
    int columnCount() const override;
    /// Column 0 the external name; column 1 the value (enumeration label for roles other than
    /// Qt::EditRole, the type's default when the point has no value); higher columns the
    /// "Worksheet" hint for WorksheetRole, otherwise "name;lineId;largeDisplay;worksheet".
    /// Invalid for an item without a point or whose point has no definition.
    QVariant data(int column, int role) const override;
    /// Converts value to the point's type and makes it the point's current value; false (point
    /// untouched) when the item has no point or the value does not fit. column is not used.
    bool setData(int column, QVariant const& value) override;
    /// PointRole: the point; DefinitionRole: its definition (null pointers for an item without a
    /// point); an invalid QVariant for every other role.
    QVariant roleData(int role) const override;

    /// The point's definition; null when the item has no point or the point has none.
    DPointDef* getDPointDef() const;
    /// The point this item shows (not owned); null when none.
    DPointObject* getDPointObject() const;

protected:
    DPointObject* m_dpoint = nullptr; ///< the point shown (not owned); null for none
};

} // namespace kivo
