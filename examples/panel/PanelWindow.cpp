#include "PanelWindow.h"

#include "ValueText.h"

#include <kivo/core/StatBase.h>
#include <kivo/core/StatRef.h>
#include <kivo/dictionary/DPointDef.h>
#include <kivo/models/DPointModelItemData.h>
#include <kivo/models/DPointTableModel.h>
#include <kivo/points/DPointObject.h>
#include <kivo/points/checkDPointType.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <functional>

namespace {

using WriteRequested = std::function<void(kivo::DPointObject*, const QVariant&)>;

// A row whose edits go to the device: the edited value becomes a pending write (committed
// 100 ms later) instead of the point's current value.
class WritingItem : public kivo::DPointModelItemData
{
public:
    WritingItem(kivo::DPointObject* point, WriteRequested requested)
        : DPointModelItemData(point)
        , m_requested(std::move(requested))
    { }

    bool setData(int /*column*/, const QVariant& value) override
    {
        if (!m_dpoint)
            return false;
        const QVariant converted = kivo::checkDPointType(value, *m_dpoint);
        if (!converted.isValid())
            return false;
        m_dpoint->setUpdatePending(converted);
        m_requested(m_dpoint, converted);
        return true;
    }

private:
    WriteRequested m_requested;
};

// Shows values in display units and marks points whose write is still pending; edits are
// typed in display units and converted back to raw values.
class ValueDelegate : public QStyledItemDelegate
{
public:
    ValueDelegate(kivo::MeasurementRegistry* registry, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_registry(registry)
    { }

    QWidget* createEditor(
        QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return new QLineEdit(parent);
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        static_cast<QLineEdit*>(editor)->setText(
            panel::displayText(definition(index), index.data(Qt::EditRole), m_registry, false));
    }

    void setModelData(
        QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        const QString text = static_cast<QLineEdit*>(editor)->text();
        model->setData(index, panel::rawFromText(definition(index), text, m_registry));
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != kivo::DPointTableModel::ValueColumn)
            return;
        option->text = panel::displayText(definition(index), index.data(Qt::EditRole), m_registry);
        auto* point = index.data(kivo::DPointModelItemData::PointRole).value<kivo::DPointObject*>();
        if (point && point->isPending())
            option->backgroundBrush = QColor(255, 226, 140);
    }

private:
    static const kivo::DPointDef* definition(const QModelIndex& index)
    {
        return index.data(kivo::DPointModelItemData::DefinitionRole).value<kivo::DPointDef*>();
    }

    kivo::MeasurementRegistry* m_registry;
};

} // namespace

PanelWindow::PanelWindow(const QList<kivo::DPointObject*>& points,
    kivo::MeasurementRegistry* registry, const QString& title, QWidget* parent)
    : QMainWindow(parent)
    , m_registry(registry)
    , m_model(new kivo::DPointTableModel(this))
{
    setWindowTitle(title);
    const WriteRequested requested = [this](kivo::DPointObject* point, const QVariant&) {
        statusBar()->showMessage(tr("%1: write of %2 requested")
                                     .arg(nameOf(point),
                                         panel::displayText(point->getDPointDef(),
                                             point->getPendingValue(), m_registry)));
    };
    for (kivo::DPointObject* point : points) {
        m_model->addItem(new WritingItem(point, requested));
        followWrites(point);
    }

    m_view = new QTableView(this);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new ValueDelegate(registry, m_view));
    m_view->setAlternatingRowColors(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 8);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setColumnWidth(kivo::DPointTableModel::NameColumn, 260);
    m_view->setColumnWidth(kivo::DPointTableModel::ValueColumn, 230);

    auto* hint = new QLabel(
        tr("Values in US display units. Double-click a writable value to change it; the row "
           "stays highlighted until the device answers."),
        this);
    hint->setWordWrap(true);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(hint);
    layout->addWidget(m_view);
    setCentralWidget(central);

    m_deviceLabel = new QLabel(this);
    statusBar()->addPermanentWidget(m_deviceLabel);
    statusBar()->showMessage(tr("%n point(s) loaded", nullptr, points.size()));
    resize(1000, 720);
}

bool PanelWindow::requestWrite(const QString& name, const QString& text)
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        kivo::DPointObject* point = m_model->pointAt(row);
        if (point && point->getDPointDef()->objectName() == name) {
            const QModelIndex index = m_model->index(row, kivo::DPointTableModel::ValueColumn);
            m_view->scrollTo(index);
            return m_model->setData(
                index, panel::rawFromText(point->getDPointDef(), text, m_registry));
        }
    }
    return false;
}

void PanelWindow::showDeviceState(int tick, int reporting)
{
    m_deviceLabel->setText(tr("Device: reporting %1 points, update %2").arg(reporting).arg(tick));
}

void PanelWindow::followWrites(kivo::DPointObject* point)
{
    connect(point, &kivo::DPointObject::updatePending, this, [this, point] {
        statusBar()->showMessage(tr("%1: %2 sent to the device, waiting for its answer")
                                     .arg(nameOf(point), valueOf(point)));
    });
    connect(point, &kivo::DPointObject::updateCompleted, this, [this, point](bool success) {
        if (success) {
            statusBar()->showMessage(
                tr("%1: the device confirmed %2").arg(nameOf(point), valueOf(point)));
            return;
        }
        const kivo::StatRef status = point->getUpdateStatus();
        const QString reason = status.m_stat
            ? QStringLiteral("[%1] %2").arg(status.m_stat->getCode(), status.m_stat->getMsg())
            : tr("no reason given");
        statusBar()->showMessage(
            tr("%1: the device refused the write (%2); the value is back to %3")
                .arg(nameOf(point), reason, valueOf(point)));
    });
}

QString PanelWindow::nameOf(kivo::DPointObject* point) const
{
    return point->getDPointDef()->m_externalName;
}

QString PanelWindow::valueOf(kivo::DPointObject* point) const
{
    return panel::displayText(point->getDPointDef(), point->getCurrentValue(), m_registry);
}
