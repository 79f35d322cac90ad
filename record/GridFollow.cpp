#include "record/GridFollow.h"

#include <algorithm>

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleOptionHeader>
#include <QStyleOptionSlider>
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
    // Each header is a view of its own that does the same, though the indicator is no
    // concern of the column header's.
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(view),
                                 static_cast<QAbstractItemView*>(view->horizontalHeader()),
                                 static_cast<QAbstractItemView*>(view->verticalHeader())}) {
        if (!QObject::disconnect(model, SIGNAL(headerDataChanged(Qt::Orientation, int, int)), v,
                                 SLOT(_q_headerDataChanged())))
            continue;
        connect(model, &QAbstractItemModel::headerDataChanged, v, [this, v](Qt::Orientation o) {
            const QHeaderView* rows = view_->verticalHeader();
            const auto* header = qobject_cast<const QHeaderView*>(v);
            if (header && header->orientation() != o) return;
            if (o == Qt::Vertical && rows->sectionResizeMode(0) == QHeaderView::Fixed &&
                rows->minimumWidth() == rows->maximumWidth())
                return;
            QMetaObject::invokeMethod(v, "_q_headerDataChanged", Qt::DirectConnection);
        });
    }
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex& parent, int first) {
                if (!parent.isValid()) rowsComing(first);
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
    setHorizontalHeader(new GridColumnHeader(this));
    setVerticalScrollBar(new GridScrollBar(Qt::Vertical, this));
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

GridColumnHeader::GridColumnHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    // As the table view sets up the header it makes itself.
    setSectionsClickable(true);
    setHighlightSections(true);
}

std::vector<char> GridColumnHeader::sectionMarks() const {
    std::vector<char> marks;
    const QItemSelectionModel* s = selectionModel();
    if (!s || !highlightSections()) return marks; // the sections do not show the selection
    for (int i = 0; i < count(); ++i)
        marks.push_back(char(int(s->columnIntersectsSelection(i, rootIndex())) |
                             int(s->isColumnSelected(i, rootIndex())) << 1));
    return marks;
}

void GridColumnHeader::selectionChanged(const QItemSelection& selected,
                                        const QItemSelection& deselected) {
    std::vector<char> now = sectionMarks();
    if (now == marks_) return;
    marks_ = std::move(now);
    QHeaderView::selectionChanged(selected, deselected);
}

GridScrollBar::Look GridScrollBar::look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
}

void GridScrollBar::sliderChange(SliderChange change) {
    if (held_ || (painted_ && look() == shown_)) return; // the same picture
    QScrollBar::sliderChange(change);
}

void GridScrollBar::release() {
    if (--held_ == 0 && !(painted_ && look() == shown_)) update();
}

void GridScrollBar::paintEvent(QPaintEvent* event) {
    shown_ = look();
    painted_ = true;
    QScrollBar::paintEvent(event);
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

void GridRowHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    // The option as the header makes it for a section.
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    const QBrush button = opt.palette.brush(QPalette::Button);
    const QBrush window = opt.palette.brush(QPalette::Window);
    initStyleOptionForIndex(&opt, logicalIndex);
    opt.rect = rect;
    if (opt.palette.brush(QPalette::Button) != button ||
        opt.palette.brush(QPalette::Window) != window || !opt.icon.isNull()) {
        // Brushes or an icon of the section's own: drawn as the header draws it.
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    const Look look{rect.size(),
                    ratio,
                    int(opt.state),
                    int(opt.position) | int(opt.direction) << 8,
                    int(opt.selectedPosition),
                    int(opt.textAlignment),
                    opt.text,
                    opt.palette.cacheKey(),
                    painter->font().key()};
    auto it =
        std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.look == look; });
    if (it == kept_.end()) {
        QPixmap picture((QSizeF(rect.size()) * ratio).toSize());
        picture.setDevicePixelRatio(ratio);
        picture.fill(palette().color(viewport()->backgroundRole()));
        QPainter p(&picture);
        p.setFont(painter->font());
        p.setRenderHints(painter->renderHints());
        QStyleOptionHeader at = opt;
        at.rect = QRect(QPoint(0, 0), rect.size());
        style()->drawControl(QStyle::CE_Header, &at, &p, this);
        p.end();
        ++drawn_;
        kept_.insert(kept_.begin(), Kept{look, std::move(picture)});
        if (kept_.size() > 8) kept_.pop_back();
        it = kept_.begin();
    } else if (it != kept_.begin()) {
        std::rotate(kept_.begin(), it, it + 1);
        it = kept_.begin();
    }
    painter->drawPixmap(rect.topLeft(), it->picture);
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
    if (!growRange()) QMetaObject::invokeMethod(view_, "updateGeometries", Qt::DirectConnection);
    unpaintedFrom_ = unpaintedFrom_ < 0 ? oldCount : std::min(unpaintedFrom_, oldCount);
}

bool GridFollower::growRange() {
    // While the rows already overflow the view, more of them change only the scroll range.
    // Laying the view out again would repaint the scroll bar each time whether it moved
    // or not. The range is the view's own: the rows that fit at the end make one page.
    QScrollBar* bar = view_->verticalScrollBar();
    if (view_->verticalScrollMode() != QAbstractItemView::ScrollPerItem || bar->maximum() <= 0)
        return false;
    const QHeaderView* rows = view_->verticalHeader();
    const int height = view_->viewport()->height();
    int fit = 0;
    for (int used = 0, row = rows->count() - 1; row >= 0; --row) {
        const int logical = rows->logicalIndex(row);
        if (rows->isSectionHidden(logical)) continue;
        used += rows->sectionSize(logical);
        if (used > height) break;
        ++fit;
    }
    fit = std::max(fit, 1);
    // Quiet: the scroll area answers a range change by laying out its scroll bars and
    // repainting them, though a growing range leaves the bar needed as it was.
    const QSignalBlocker quiet(bar);
    bar->setRange(0, rows->count() - rows->hiddenSectionCount() - fit);
    bar->setPageStep(fit);
    return true;
}

void GridFollower::rowsComing(int first) {
    if (first != view_->model()->rowCount()) return;
    // The range grows, then the view follows: the bar is drawn once for both, if at all.
    if (auto* bar = qobject_cast<GridScrollBar*>(view_->verticalScrollBar())) {
        bar->hold();
        heldBar_ = bar;
    }
    // The row header repaints all it shows for any rows put in. Appended rows move none of
    // the sections shown: the new ones are painted below, with the grid's.
    QWidget* header = view_->verticalHeader()->viewport();
    if (!header->updatesEnabled()) return;
    header->setAttribute(Qt::WA_UpdatesDisabled, true);
    headerQuiet_ = true;
}

void GridFollower::rowsAppended(int, int last) {
    QWidget* header = view_->verticalHeader()->viewport();
    const bool quiet = headerQuiet_;
    if (quiet) {
        // By the attribute: enabling updates by setUpdatesEnabled repaints the whole widget.
        // Before the scroll, which a widget with updates disabled does not move.
        header->setAttribute(Qt::WA_UpdatesDisabled, false);
        headerQuiet_ = false;
    }
    // Rows put in above the end move nothing the user looks at.
    if (last == view_->model()->rowCount() - 1 && policy_.following()) toEnd();
    if (heldBar_) {
        heldBar_->release();
        heldBar_ = nullptr;
    }
    if (unpaintedFrom_ < 0) {
        if (quiet) header->update();
        return;
    }
    const int first = unpaintedFrom_;
    unpaintedFrom_ = -1;
    const int end = view_->model()->rowCount() - 1;
    if (first > end) return;
    QWidget* port = view_->viewport();
    const int top = view_->rowViewportPosition(first);
    const int bottom = view_->rowViewportPosition(end) + view_->rowHeight(end);
    const QRect rows = QRect(0, top, port->width(), bottom - top) & port->rect();
    if (!rows.isEmpty()) port->update(rows);
    const QRect sections = QRect(0, top, header->width(), bottom - top) & header->rect();
    if (quiet && !sections.isEmpty()) header->update(sections);
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
