#include "status/GridFollow.h"

#include <QAbstractItemModel>
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
    view_->scrollToBottom(); // lays out the new rows first
    if (view_->selectionModel())
        view_->selectionModel()->setCurrentIndex(model->index(rows - 1, 0),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    view_->scrollToBottom();
    // The steps on the way may have read as leaving the end; where the view came to rest
    // is what counts.
    QScrollBar* bar = view_->verticalScrollBar();
    policy_.scrolled(bar->value(), bar->maximum());
    ++follows_;
}

} // namespace rd780
