#include "view/HistoryList.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace rd780::view {

HistoryLines::HistoryLines(std::size_t capacity) : ring_(std::max<std::size_t>(capacity, 1)) {}

void HistoryLines::append(const QString& line) {
    if (size_ < ring_.size()) {
        ring_[(first_ + size_) % ring_.size()] = line;
        ++size_;
    } else {
        ring_[first_] = line;
        first_ = (first_ + 1) % ring_.size();
    }
    ++appended_;
}

void HistoryLines::clear() {
    for (QString& s : ring_)
        s.clear();
    first_ = 0;
    size_ = 0;
}

HistoryModel::HistoryModel(const HistoryLines& lines, QObject* parent)
    : QAbstractListModel(parent), lines_(lines), shownFirst_(lines.firstNumber()) {}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shownCount_;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shownCount_ || role != Qt::DisplayRole) return {};
    const std::uint64_t n = shownFirst_ + static_cast<std::uint64_t>(index.row());
    // A row dropped from the ring since the last publish shows nothing until then.
    if (n < lines_.firstNumber() || n >= lines_.appended()) return {};
    return lines_.at(static_cast<std::size_t>(n - lines_.firstNumber()));
}

bool HistoryModel::pending() const {
    return shownFirst_ + static_cast<std::uint64_t>(shownCount_) != lines_.appended() ||
           static_cast<std::size_t>(shownCount_) != lines_.size();
}

void HistoryModel::publish() {
    const std::uint64_t first = lines_.firstNumber();
    if (first > shownFirst_ && shownCount_ > 0) {
        const int drop = static_cast<int>(
            std::min<std::uint64_t>(first - shownFirst_, static_cast<std::uint64_t>(shownCount_)));
        beginRemoveRows({}, 0, drop - 1);
        shownFirst_ += static_cast<std::uint64_t>(drop);
        shownCount_ -= drop;
        endRemoveRows();
    }
    if (shownCount_ == 0) shownFirst_ = first;
    const std::uint64_t end = shownFirst_ + static_cast<std::uint64_t>(shownCount_);
    if (lines_.appended() > end) {
        const int add = static_cast<int>(lines_.appended() - end);
        beginInsertRows({}, shownCount_, shownCount_ + add - 1);
        shownCount_ += add;
        endInsertRows();
    }
}

void HistoryModel::reset() {
    beginResetModel();
    shownFirst_ = lines_.firstNumber();
    shownCount_ = 0;
    endResetModel();
}

HistoryList::HistoryList(int limit, QWidget* parent)
    : QListView(parent), lines_(static_cast<std::size_t>(std::max(limit, 1))), model_(lines_) {
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setModel(&model_);
    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(RefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &HistoryList::refreshIfInView);
}

void HistoryList::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    // The style marks the focus only on a current line; the list may have none.
    if (!hasFocus()) return;
    QPainter p(viewport());
    QStyleOptionFocusRect o;
    o.initFrom(this);
    o.rect = viewport()->rect().adjusted(1, 1, -1, -1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, &p, this);
}

void HistoryList::addLine(const QString& line) {
    lines_.append(line);
    // A hidden list is brought up to date when it is shown, one out of view when it
    // comes into view.
    if (isVisible() && !outOfView_ && !refreshTimer_.isActive()) refreshTimer_.start();
}

void HistoryList::refreshIfInView() {
    if (visibleRegion().isEmpty()) {
        outOfView_ = true;
        QWidget* w = window();
        if (w != watched_) {
            if (watched_) watched_->removeEventFilter(this);
            watched_ = w;
            w->installEventFilter(this);
        }
        return;
    }
    refresh();
}

bool HistoryList::eventFilter(QObject* watched, QEvent* event) {
    if (outOfView_ && watched == watched_ && event->type() == QEvent::Resize) {
        // The window's layout places us after its own resize: look once that is done.
        QTimer::singleShot(0, this, [this] {
            if (outOfView_) refreshIfInView();
        });
    }
    return QListView::eventFilter(watched, event);
}

void HistoryList::moveEvent(QMoveEvent* event) {
    QListView::moveEvent(event);
    if (outOfView_) refreshIfInView();
}

void HistoryList::clear() {
    refreshTimer_.stop();
    lines_.clear();
    model_.reset();
}

QString HistoryList::text(int row) const {
    if (row < 0 || row >= count()) return {};
    return lines_.at(static_cast<std::size_t>(row));
}

QString HistoryList::lastText() const {
    return count() > 0 ? text(count() - 1) : QString();
}

int HistoryList::currentRow() {
    refresh();
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

void HistoryList::refresh() {
    refreshTimer_.stop();
    outOfView_ = false;
    if (!model_.pending()) return;
    model_.publish();
    if (model_.rowCount() > 0) setCurrentIndex(model_.index(model_.rowCount() - 1));
}

void HistoryList::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    refresh();
}

} // namespace rd780::view
