#include "record/GridFollow.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
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
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid()) rowsAppended(first, last);
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        policy_.reset();
        toEnd();
    });
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
    // The rows above do not move: grow the scroll range and paint the new rows only.
    QMetaObject::invokeMethod(view_, "updateGeometries", Qt::DirectConnection);
    const int top = view_->rowViewportPosition(oldCount);
    QWidget* port = view_->viewport();
    if (top < port->height()) {
        const int bottom =
            view_->rowViewportPosition(newCount - 1) + view_->rowHeight(newCount - 1);
        port->update(QRect(0, top, port->width(), bottom - top));
    }
}

void GridFollower::rowsAppended(int, int last) {
    // Rows put in above the end move nothing the user looks at.
    if (last != view_->model()->rowCount() - 1) return;
    if (!policy_.following()) return;
    toEnd();
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
