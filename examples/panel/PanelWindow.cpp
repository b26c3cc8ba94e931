#include "PanelWindow.h"

#include <kivo/dictionary/DPointDef.h>
#include <kivo/models/DPointTableModel.h>
#include <kivo/points/DPointObject.h>

#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <iterator>

using kivo::DPointTableModel;

namespace {

// Colours a value cell by its write state: amber while the device has not answered, red after
// a refusal. The cell is painted as unselected so that the colour shows on a selected row too.
class WriteStateDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != DPointTableModel::ValueColumn)
            return;
        switch (index.data(DPointTableModel::WriteStateRole).toInt()) {
        case DPointTableModel::WritePending:
            option->backgroundBrush = QColor(255, 214, 102);
            break;
        case DPointTableModel::WriteRefused:
            option->backgroundBrush = QColor(244, 163, 163);
            break;
        default:
            return;
        }
        option->state &= ~QStyle::State_Selected;
    }
};

} // namespace

PanelWindow::PanelWindow(
    const QList<kivo::DPointObject*>& points, const QString& title, QWidget* parent)
    : QMainWindow(parent)
    , m_model(new DPointTableModel(this))
{
    setWindowTitle(title);
    m_model->addPoints(points);
    for (kivo::DPointObject* point : points)
        followWrites(point);
    connect(m_model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex& from, const QModelIndex& to) {
            showInputErrors(from.row(), to.row());
        });

    m_view = new QTableView(this);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new WriteStateDelegate(m_view));
    m_view->setAlternatingRowColors(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 8);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = { 250, 140, 60, 130, 85, 85, 150 };
    for (int column = 0; column < int(std::size(widths)); ++column)
        m_view->setColumnWidth(column, widths[column]);

    auto* hint = new QLabel(
        tr("Values in US display units. Double-click a writable value to change it: the cell "
           "stays amber until the device answers, and turns red when the device refuses."),
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
    resize(1200, 720);
}

bool PanelWindow::requestWrite(const QString& name, const QString& text)
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        kivo::DPointObject* point = m_model->pointAt(row);
        if (point && point->getDPointDef()->objectName() == name) {
            const QModelIndex index = m_model->index(row, DPointTableModel::ValueColumn);
            m_view->scrollTo(index);
            m_view->selectRow(row);
            return m_model->setData(index, text);
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
    // The model follows the point first (it connected first), so its roles are up to date here.
    connect(point, &kivo::DPointObject::updatePending, this, [this, point] {
        if (!point->isPending())
            return;
        statusBar()->showMessage(tr("%1: %2 sent to the device, waiting for its answer")
                                     .arg(nameOf(point), cell(point, Qt::DisplayRole)));
    });
    connect(point, &kivo::DPointObject::updateCompleted, this, [this, point](bool success) {
        const QString name = nameOf(point);
        if (success) {
            statusBar()->showMessage(
                tr("%1: the device confirmed %2").arg(name, cell(point, Qt::DisplayRole)));
            return;
        }
        statusBar()->showMessage(tr("%1: %2; the value is back to %3")
                                     .arg(name, cell(point, DPointTableModel::WriteStatusRole),
                                         cell(point, Qt::DisplayRole)));
    });
}

void PanelWindow::showInputErrors(int firstRow, int lastRow)
{
    for (int row = firstRow; row <= lastRow; ++row) {
        const QString error = m_model->index(row, DPointTableModel::ValueColumn)
                                  .data(DPointTableModel::InputErrorRole)
                                  .toString();
        if (error == m_shownErrors.value(row))
            continue;
        m_shownErrors.insert(row, error);
        if (!error.isEmpty()) {
            statusBar()->showMessage(
                tr("%1: %2, not sent").arg(nameOf(m_model->pointAt(row)), error));
        }
    }
}

QString PanelWindow::nameOf(kivo::DPointObject* point) const
{
    return m_model->index(m_model->rowOfPoint(point), DPointTableModel::NameColumn)
        .data()
        .toString();
}

QString PanelWindow::cell(kivo::DPointObject* point, int role) const
{
    return m_model->index(m_model->rowOfPoint(point), DPointTableModel::ValueColumn)
        .data(role)
        .toString();
}
