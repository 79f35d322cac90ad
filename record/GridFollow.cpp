#include "record/GridFollow.h"

#include <algorithm>

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>

namespace rd780 {

GridFollower::GridFollower(QTableView* view) : QObject(view), view_(view) {
    QScrollBar* bar = view->verticalScrollBar();
    // Only a moved position says where the user is. A range that grows under new rows
    // leaves the position alone and says nothing; one that shrinks below it clamps the
    // position, which reports the end.
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { policy_.scrolled(value, bar->maximum()); });
    // Appends are laid out here; other changes of the row count go to the view as before.
    if (QObject::disconnect(view->verticalHeader(), SIGNAL(sectionCountChanged(int, int)), view,
                            SLOT(rowCountChanged(int, int))))
        connect(view->verticalHeader(), &QHeaderView::sectionCountChanged, this,
                &GridFollower::rowCountChanged);
    QAbstractItemModel* model = view->model();
    if (!model) return;
    // The row indicator moves to each appended row through the model's header data. The
    // view answers any header change with a full layout and repaint of what it shows; the
    // row header repaints the two sections itself, and rows of fixed height and a header of
    // fixed width have nothing to lay out.
    if (QObject::disconnect(model, SIGNAL(headerDataChanged(Qt::Orientation, int, int)), view,
                            SLOT(_q_headerDataChanged())))
        connect(model, &QAbstractItemModel::headerDataChanged, this, [this](Qt::Orientation o) {
            const QHeaderView* rows = view_->verticalHeader();
            if (o == Qt::Vertical && rows->sectionResizeMode(0) == QHeaderView::Fixed &&
                rows->minimumWidth() == rows->maximumWidth())
                return;
            QMetaObject::invokeMethod(view_, "_q_headerDataChanged", Qt::DirectConnection);
        });
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) rowsAppended(first, last);
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        unpaintedFrom_ = -1; // the view repaints all it shows after a reset
        policy_.reset();
        toEnd();
    });
}

ReadingGrid::ReadingGrid(QWidget* parent) : QTableView(parent) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void ReadingGrid::paintEvent(QPaintEvent* event) {
    // What the style would have put behind the cells: the viewport's base colour, which a
    // style sheet's background sets.
    QPainter(viewport()).fillRect(event->rect(), viewport()->palette().brush(QPalette::Base));
    QTableView::paintEvent(event);
}

QSize GridRowHeader::sizeHint() const {
    if (minimumWidth() == maximumWidth()) return {minimumWidth(), defaultSectionSize()};
    return QHeaderView::sizeHint();
}

void GridFollower::rowCountChanged(int oldCount, int newCount) {
    if (newCount <= oldCount || view_->verticalHeader()->count() != newCount) {
        QMetaObject::invokeMethod(view_, "rowCountChanged", Qt::DirectConnection,
                                  Q_ARG(int, oldCount), Q_ARG(int, newCount));
        return;
    }
    // The rows above do not move: grow the scroll range and paint the new rows only, once
    // the view has followed them. An area marked before a scroll makes the scroll repaint
    // all the view shows instead of moving what it shows.
    QMetaObject::invokeMethod(view_, "updateGeometries", Qt::DirectConnection);
    unpaintedFrom_ = unpaintedFrom_ < 0 ? oldCount : std::min(unpaintedFrom_, oldCount);
}

void GridFollower::rowsAppended(int, int last) {
    // Rows put in above the end move nothing the user looks at.
    if (last == view_->model()->rowCount() - 1 && policy_.following()) toEnd();
    if (unpaintedFrom_ < 0) return;
    const int first = unpaintedFrom_;
    unpaintedFrom_ = -1;
    const int end = view_->model()->rowCount() - 1;
    if (first > end) return;
    QWidget* port = view_->viewport();
    const int top = view_->rowViewportPosition(first);
    const int bottom = view_->rowViewportPosition(end) + view_->rowHeight(end);
    const QRect rows = QRect(0, top, port->width(), bottom - top) & port->rect();
    if (!rows.isEmpty()) port->update(rows);
}

void GridFollower::toEnd() {
    QAbstractItemModel* model = view_->model();
    const int rows = model->rowCount();
    if (rows == 0) return;
    // Once: appended rows are laid out already, and the first scroll lays out any others.
    view_->scrollToBottom();
    if (view_->selectionModel())
        view_->selectionModel()->setCurrentIndex(model->index(rows - 1, 0),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    // The steps on the way may have read as leaving the end; where the view came to rest
    // is what counts.
    QScrollBar* bar = view_->verticalScrollBar();
    policy_.scrolled(bar->value(), bar->maximum());
    ++follows_;
}

} // namespace rd780
