// The caption checker on crafted widgets: each way a caption is cut is found, and a
// caption that shows whole is not reported.
#include "tests/status/CaptionFit.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

namespace rd780::test {
namespace {

int advance(const QWidget* w, const QString& text) {
    return QFontMetrics(w->font()).horizontalAdvance(text);
}

const ClippedCaption* find(const std::vector<ClippedCaption>& all, const QString& name) {
    for (const ClippedCaption& c : all)
        if (c.objectName == name) return &c;
    return nullptr;
}

QString names(const std::vector<ClippedCaption>& all) {
    QStringList n;
    for (const ClippedCaption& c : all)
        n << c.objectName;
    return n.join(",");
}

TEST(CaptionFit, TooNarrowLabelsButtonsAndCheckBoxes) {
    QWidget root;
    root.resize(600, 300);
    auto place = [&](QWidget* w, const char* name, int y, int width) {
        w->setObjectName(name);
        w->setGeometry(5, y, width, 22);
    };
    auto* cut = new QLabel("Sampling Interval", &root);
    place(cut, "cutLabel", 0, advance(cut, "Sampling Interval") - 3);
    auto* whole = new QLabel("Sampling Interval", &root);
    place(whole, "wholeLabel", 25, advance(whole, "Sampling Interval") + 2);
    auto* right = new QLabel("Interval", &root);
    right->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    place(right, "rightLabel", 50, advance(right, "Interval") - 2);

    auto* box = new QCheckBox("Repeat", &root);
    // Room for the text alone is not enough: the indicator takes its share.
    place(box, "cutBox", 75, advance(box, "Repeat") + 2);
    auto* roomyBox = new QCheckBox("Repeat", &root);
    place(roomyBox, "roomyBox", 100, roomyBox->sizeHint().width() + 2);

    auto* push = new QPushButton("Disconnect", &root);
    place(push, "cutPush", 125, advance(push, "Disconnect"));
    auto* tool = new QToolButton(&root);
    tool->setText("Connect");
    place(tool, "cutTool", 150, advance(tool, "Connect") - 4);
    auto* iconOnly = new QToolButton(&root);
    iconOnly->setText("Close Data");
    iconOnly->setIcon(root.style()->standardIcon(QStyle::SP_FileIcon));
    place(iconOnly, "iconOnly", 175, 23);
    auto* hidden = new QLabel("a hidden label much too long", &root);
    place(hidden, "hiddenLabel", 200, 10);
    hidden->hide();
    auto* group = new QGroupBox("Limit marks of the scale", &root);
    place(group, "cutGroup", 225, 40);

    const auto found = findClippedCaptions(&root);
    const QString all = names(found);
    for (const char* n : {"cutLabel", "rightLabel", "cutBox", "cutPush", "cutTool", "cutGroup"})
        EXPECT_TRUE(find(found, n)) << n << " not found in " << all.toStdString();
    for (const char* n : {"wholeLabel", "roomyBox", "iconOnly", "hiddenLabel"})
        EXPECT_FALSE(find(found, n)) << n << " reported: " << describe(found).toStdString();

    const ClippedCaption* c = find(found, "cutLabel");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->text, "Sampling Interval");
    EXPECT_EQ(c->className, "QLabel");
    EXPECT_EQ(c->needed, advance(cut, "Sampling Interval"));
    EXPECT_EQ(c->available, c->needed - 3);
    EXPECT_EQ(c->cause, "too narrow");
    const ClippedCaption* b = find(found, "cutBox");
    ASSERT_TRUE(b);
    EXPECT_LT(b->available, advance(box, "Repeat")) << "the indicator's room is not the text's";
}

TEST(CaptionFit, ASmallerFontMakesACaptionFit) {
    QWidget root;
    root.resize(300, 100);
    auto* box = new QCheckBox("Repeat", &root);
    box->setObjectName("RepeatSet");
    QFont big = box->font();
    big.setPixelSize(16);
    box->setFont(big);
    box->setGeometry(3, 3, 54, 20);
    EXPECT_TRUE(find(findClippedCaptions(&root), "RepeatSet"));
    QFont small = box->font();
    small.setPixelSize(6);
    box->setFont(small);
    EXPECT_FALSE(find(findClippedCaptions(&root), "RepeatSet"))
        << describe(findClippedCaptions(&root)).toStdString();
}

TEST(CaptionFit, SiblingsLaidOverAWordAndAncestorsThatEndFirst) {
    QWidget root;
    root.resize(400, 200);
    auto* label = new QLabel("Sampling Interval        'S", &root);
    label->setObjectName("covered");
    label->setGeometry(10, 10, 300, 20);
    const int intervalEnd = 10 + advance(label, "Sampling Interval");
    // Laid over the last letters of "Interval".
    auto* edit = new QLineEdit(&root);
    edit->setObjectName("edit");
    edit->setGeometry(intervalEnd - 4, 10, 27, 20);

    auto* spaces = new QLabel("Sampling Interval        'S", &root);
    spaces->setObjectName("overSpaces");
    spaces->setGeometry(10, 40, 300, 20);
    // Over the blanks between the words only.
    auto* edit2 = new QLineEdit(&root);
    edit2->setGeometry(intervalEnd + 4, 40, advance(spaces, "   "), 20);

    // An edit created first lies beneath the label that follows it: the text paints on top.
    auto* under = new QLineEdit(&root);
    under->setGeometry(10, 70, 40, 20);
    auto* above = new QLabel("StartTime:", &root);
    above->setObjectName("aboveEdit");
    above->setGeometry(10, 70, 120, 20);

    auto* panel = new QWidget(&root);
    panel->setGeometry(0, 100, 60, 30);
    auto* inside = new QLabel("No such file or directory", panel);
    inside->setObjectName("SerialNote");
    inside->setGeometry(2, 2, 300, 20);

    const auto found = findClippedCaptions(&root);
    const ClippedCaption* c = find(found, "covered");
    ASSERT_TRUE(c) << describe(found).toStdString();
    EXPECT_EQ(c->cause, "under edit");
    EXPECT_EQ(c->needed, advance(label, "Sampling Interval"));
    EXPECT_EQ(c->available, advance(label, "Sampling Interval") - 4);
    EXPECT_FALSE(find(found, "overSpaces")) << describe(found).toStdString();
    EXPECT_FALSE(find(found, "aboveEdit"));
    const ClippedCaption* s = find(found, "SerialNote");
    ASSERT_TRUE(s) << describe(found).toStdString();
    EXPECT_TRUE(s->cause.startsWith("cut by ")) << s->cause.toStdString();
    EXPECT_EQ(s->available, 58);
}

TEST(CaptionFit, HeaderSectionsNarrowerThanTheirTitles) {
    QWidget root;
    root.resize(400, 300);
    QStandardItemModel model(3, 3);
    model.setHorizontalHeaderLabels({"No", "Time", "AUTO"});
    auto* grid = new QTableView(&root);
    grid->setObjectName("DBGrid1");
    grid->setModel(&model);
    grid->setGeometry(0, 0, 390, 200);
    QHeaderView* h = grid->horizontalHeader();
    h->resizeSection(0, 60);
    h->resizeSection(1, 60);
    h->resizeSection(2, QFontMetrics(h->font()).horizontalAdvance("AUTO") - 2);
    root.show(); // the header is laid out
    const auto found = findClippedCaptions(&root);
    const ClippedCaption* c = find(found, "DBGrid1 header 2");
    ASSERT_TRUE(c) << describe(found).toStdString();
    EXPECT_EQ(c->text, "AUTO");
    EXPECT_GT(c->needed, c->available);
    EXPECT_FALSE(find(found, "DBGrid1 header 0"));
    EXPECT_FALSE(find(found, "DBGrid1 header 1"));
}

} // namespace
} // namespace rd780::test
