#pragma once

#include <kivo/kivomodels_export.h>

#include <QObject>
#include <QVariant>

namespace kivo {

/// One row of an item model: answers the row's cells by column and role.
/// A plain base with empty answers; subclasses supply the content. Items have no parent by default.
class KIVOMODELS_EXPORT ModelItemData : public QObject
{
    Q_OBJECT
public:
    ModelItemData();
    ~ModelItemData() override;

    /// Does nothing in this base; subclasses that know their columns ignore it too.
    virtual void setColumnCount(int count);
    /// Number of columns of the row; 0 in this base.
    virtual int columnCount() const;
    /// Cell content for a column and role; invalid in this base.
    virtual QVariant data(int column, int role) const;
    /// Stores an edit into the row; returns false (refused) in this base.
    virtual bool setData(int column, const QVariant& value);
    /// Row-wide data for a role; invalid in this base.
    virtual QVariant roleData(int role) const;
};

} // namespace kivo
