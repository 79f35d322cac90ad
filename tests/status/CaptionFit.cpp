#include "tests/status/CaptionFit.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QToolButton>

#include <algorithm>
#include <optional>

namespace rd780::test {

namespace {

// Where a caption's text lies in its widget: from left, needing `needed` pixels, with
// `available` pixels of room the widget gives it.
struct Span {
    QString text;
    QFont font;
    int left = 0;
    int needed = 0;
    int available = 0;
};

QString nameOf(const QWidget* w) {
    if (!w->objectName().isEmpty()) return w->objectName();
    const QString cls = QString::fromLatin1(w->metaObject()->className());
    return w->parentWidget() ? nameOf(w->parentWidget()) + "/" + cls : cls;
}

QString withoutMnemonic(QString text) {
    text.replace(QLatin1String("&&"), QChar(0xE000));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(0xE000), QLatin1Char('&'));
    return text;
}

int widest(const QFontMetrics& fm, const QString& text) {
    int w = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        w = std::max(w, fm.horizontalAdvance(line));
    return w;
}

int placeLeft(Qt::Alignment a, int left, int room, int needed) {
    if (a & Qt::AlignRight) return left + room - needed;
    if (a & Qt::AlignHCenter) return left + (room - needed) / 2;
    return left;
}

std::optional<Span> labelSpan(QLabel* l) {
    if (l->text().isEmpty() || l->wordWrap()) return std::nullopt;
    if (l->textFormat() == Qt::RichText ||
        (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text())))
        return std::nullopt;
    const QFontMetrics fm(l->font());
    const QRect cr = l->contentsRect().adjusted(l->margin(), 0, -l->margin(), 0);
    int indent = l->indent();
    if (indent < 0) indent = l->frameWidth() > 0 ? fm.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const int room = cr.width() - indent;
    Span s{l->text(), l->font(), 0, widest(fm, l->text()), room};
    s.left = placeLeft(l->alignment(), cr.left() + indent, room, s.needed);
    if (s.left < cr.left() + indent) s.left = cr.left() + indent; // cut at the start too
    return s;
}

std::optional<Span> buttonSpan(QAbstractButton* b) {
    const QString text = withoutMnemonic(b->text());
    if (text.isEmpty()) return std::nullopt;
    const QFontMetrics fm(b->font());
    const int needed = widest(fm, text);
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    opt.icon = b->icon();
    opt.iconSize = b->iconSize();
    QStyle* st = b->style();
    if (qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b)) {
        const QRect r =
            st->subElementRect(qobject_cast<QCheckBox*>(b) ? QStyle::SE_CheckBoxContents
                                                           : QStyle::SE_RadioButtonContents,
                               &opt, b);
        int left = r.left();
        if (!b->icon().isNull()) left += b->iconSize().width() + 4;
        return Span{text, b->font(), left, needed, r.right() + 1 - left};
    }
    if (auto* tb = qobject_cast<QToolButton*>(b)) {
        const bool iconShown = !tb->icon().isNull();
        if (iconShown && tb->toolButtonStyle() == Qt::ToolButtonIconOnly) return std::nullopt;
        const int fw = st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, tb);
        int left = fw;
        if (iconShown && tb->toolButtonStyle() == Qt::ToolButtonTextBesideIcon)
            left += tb->iconSize().width() + 4;
        const int room = tb->width() - fw - left;
        return Span{text, b->font(), placeLeft(Qt::AlignHCenter, left, room, needed), needed, room};
    }
    if (auto* pb = qobject_cast<QPushButton*>(b)) {
        if (pb->isFlat()) opt.features |= QStyleOptionButton::Flat;
        const QRect r = st->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        int left = r.left();
        if (!b->icon().isNull()) left += b->iconSize().width() + 4;
        const int room = r.right() + 1 - left;
        return Span{text, b->font(), placeLeft(Qt::AlignHCenter, left, room, needed), needed, room};
    }
    return std::nullopt;
}

std::optional<Span> groupBoxSpan(QGroupBox* g) {
    if (g->title().isEmpty()) return std::nullopt;
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = g->title();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.textAlignment = g->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable()) opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    const QRect r =
        g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    const int needed = QFontMetrics(g->font()).horizontalAdvance(withoutMnemonic(g->title()));
    return Span{g->title(), g->font(), r.left(), needed, g->width() - r.left()};
}

// The non-blank runs of a caption and where each ends, from the caption's start.
std::vector<std::pair<int, int>> wordExtents(const QFontMetrics& fm, const QString& text) {
    std::vector<std::pair<int, int>> out;
    const QString line = text.section(QLatin1Char('\n'), 0, 0);
    int i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i].isSpace())
            ++i;
        if (i >= line.size()) break;
        int j = i;
        while (j < line.size() && !line[j].isSpace())
            ++j;
        out.emplace_back(fm.horizontalAdvance(line.left(i)), fm.horizontalAdvance(line.left(j)));
        i = j;
    }
    return out;
}

void check(QWidget* root, QWidget* w, const Span& s, std::vector<ClippedCaption>& out) {
    const QString cls = QString::fromLatin1(w->metaObject()->className());
    const QFontMetrics fm(s.font);
    const int textTop = (w->height() - fm.height()) / 2;
    const QRect band(s.left, textTop, s.needed, fm.height());
    // Wholly outside an ancestor (below the start height, say) is not shown, not cut.
    for (QWidget* a = w->parentWidget(); a; a = a->parentWidget()) {
        if (!a->rect().intersects(QRect(w->mapTo(a, band.topLeft()), band.size()))) return;
        if (a == root) break;
    }
    // Every cause is listed: a font that fits the box may still run under a sibling.
    if (s.needed > s.available)
        out.push_back({nameOf(w), cls, s.text, s.needed, s.available, "too narrow"});
    // Siblings laid over the text (later children paint on top).
    if (QWidget* parent = w->parentWidget()) {
        const QObjectList& kids = parent->children();
        const int self = int(kids.indexOf(w));
        for (int k = self + 1; k < kids.size(); ++k) {
            auto* sib = qobject_cast<QWidget*>(kids[k]);
            if (!sib || sib->isWindow() || !sib->isVisibleTo(root)) continue;
            const QRect over = sib->geometry().translated(-w->pos());
            if (!over.intersects(band)) continue;
            for (auto [from, to] : wordExtents(fm, s.text)) {
                const QRect word(s.left + from, band.top(), to - from, band.height());
                if (!word.intersects(over)) continue;
                out.push_back(
                    {nameOf(w), cls, s.text, to, over.left() - s.left, "under " + nameOf(sib)});
                break;
            }
        }
    }
    // Ancestors that end before the text does.
    for (QWidget* a = w->parentWidget(); a; a = a->parentWidget()) {
        const QRect inA(w->mapTo(a, band.topLeft()), band.size());
        if (!a->rect().contains(inA)) {
            out.push_back({nameOf(w), cls, s.text, s.needed, inA.intersected(a->rect()).width(),
                           "cut by " + nameOf(a)});
            return;
        }
        if (a == root) break;
    }
}

void checkHeader(QHeaderView* h, std::vector<ClippedCaption>& out) {
    QAbstractItemModel* m = h->model();
    if (!m) return;
    const QFontMetrics fm(h->font());
    const int margin = h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
    const QWidget* owner = h->parentWidget() ? h->parentWidget() : h;
    for (int v = 0; v < h->count(); ++v) {
        const int logical = h->logicalIndex(v);
        if (h->isSectionHidden(logical)) continue;
        const QString text = m->headerData(logical, h->orientation(), Qt::DisplayRole).toString();
        if (text.isEmpty()) continue;
        int needed = fm.horizontalAdvance(text) + 2 * margin;
        if (h->isSortIndicatorShown() && h->sortIndicatorSection() == logical)
            needed += h->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, h) + margin;
        // A section the header's end cuts shows only its visible part (one past the end
        // is reached by scrolling, not cut).
        int available = h->orientation() == Qt::Horizontal ? h->sectionSize(logical) : h->width();
        const int start = h->sectionViewportPosition(logical);
        const int length = h->orientation() == Qt::Horizontal ? h->width() : h->height();
        if (h->orientation() == Qt::Horizontal && start >= 0 && start < length)
            available = std::min(available, length - start);
        if (needed > available)
            out.push_back({QStringLiteral("%1 header %2").arg(nameOf(owner)).arg(logical),
                           QString::fromLatin1(h->metaObject()->className()), text, needed,
                           available, "too narrow"});
    }
}

} // namespace

std::vector<ClippedCaption> findClippedCaptions(QWidget* root) {
    std::vector<ClippedCaption> out;
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        if (w != root && !w->isVisibleTo(root)) continue;
        if (w->isWindow() && w != root) continue;
        std::optional<Span> s;
        if (auto* l = qobject_cast<QLabel*>(w))
            s = labelSpan(l);
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            s = buttonSpan(b);
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            s = groupBoxSpan(g);
        else if (auto* h = qobject_cast<QHeaderView*>(w))
            checkHeader(h, out);
        if (s) check(root, w, *s, out);
    }
    return out;
}

QString describe(const std::vector<ClippedCaption>& clipped) {
    QString s;
    for (const ClippedCaption& c : clipped)
        s += QStringLiteral("%1 (%2) \"%3\": needs %4 px, has %5 px, %6\n")
                 .arg(c.objectName, c.className, c.text)
                 .arg(c.needed)
                 .arg(c.available)
                 .arg(c.cause);
    return s;
}

} // namespace rd780::test
