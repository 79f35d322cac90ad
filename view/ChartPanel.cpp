#include "view/ChartPanel.h"

#include "base/Guard.h"
#include "view/IntegerText.h"
#include "view/KeyFilter.h"
#include "view/LimitMarks.h"
#include "view/Pictures.h"
#include "view/WaveChart.h"
#include "view/Waveform.h"

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

#include <cmath>

namespace rd780 {

namespace {

QToolButton* toolButton(QWidget* parent, const char* name, const QRect& at, const QString& text,
                        const QString& hint, bool visible) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setGeometry(at);
    b->setText(text);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setCursor(Qt::ArrowCursor);
    b->setVisible(visible);
    return b;
}

} // namespace

ChartPanel::ChartPanel(const PanelContext& context, QObject* parent) : Panel(context, parent) {
    Chtshow = new view::WaveChart(Client);
    Chtshow->setGeometry(338, 175, 371, 287);
    QWidget* chart = Chtshow;

    ScopeNo = new QLabel(chart);
    ScopeNo->setObjectName("ScopeNo");
    ScopeNo->setGeometry(3, 3, 25, 24);
    ScopeNo->setPixmap(view::scopePicture(false));
    Scopeok = new QLabel(chart);
    Scopeok->setObjectName("Scopeok");
    Scopeok->setGeometry(5, 3, 25, 24);
    Scopeok->setPixmap(view::scopePicture(true));
    Scopeok->hide();

    ComboBox1 = new QComboBox(chart);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->addItem("atile");
    ComboBox1->addItem("btile");
    ComboBox1->setGeometry(56, 35, 65, 21);
    ComboBox1->setStyleSheet("background: rgb(192, 221, 248)");
    ComboBox1->setCursor(Qt::ArrowCursor);
    ComboBox1->hide();
    // Only a choice by the user is a change; selecting an item from code raises nothing.
    connect(ComboBox1, &QComboBox::activated, this,
            [this] { Guarded([this] { ComboBox1Change(); }); });

    Maxrecord = new QLineEdit("100", chart);
    Maxrecord->setObjectName("Maxrecord");
    Maxrecord->setGeometry(72, 3, 41, 21);
    Maxrecord->setCursor(Qt::ArrowCursor);
    Maxrecord->installEventFilter(new view::KeyFilter(view::digitKeyAllowed, Maxrecord));
    Maxrecord->hide();
    connect(Maxrecord, &QLineEdit::textChanged, this,
            [this] { Guarded([this] { MaxrecordExit(); }); });

    BtFirst = toolButton(chart, "BtFirst", {118, 3, 25, 21}, "|<", "First", false);
    BTPrevious = toolButton(chart, "BTPrevious", {142, 3, 25, 21}, "<", "Previous", false);
    Bt10 = toolButton(chart, "Bt10", {166, 3, 25, 21}, "1", "Page No.", false);
    Bt10->setStyleSheet("color: blue");
    BtNext = toolButton(chart, "BtNext", {190, 3, 25, 21}, ">", "Next", false);
    BTlast = toolButton(chart, "BTlast", {214, 3, 25, 21}, ">|", "last", false);
    BtNew = toolButton(chart, "BtNew", {254, 3, 35, 21}, "New", "New", true);
    BtSave = toolButton(chart, "BtSave", {288, 3, 35, 21}, "Save", "Save", true);
    TbFd = toolButton(chart, "TbFd", {329, 3, 25, 25}, QString(), "Graphic Enlarge", true);
    TbFd->setIcon(view::enlargePicture(21));
    TbSx = toolButton(chart, "TbSx", {331, 3, 25, 25}, QString(), "Graphic Restore", false);
    TbSx->setIcon(view::restorePicture(21));

    Onescope = new QPushButton("One scope", Client);
    Onescope->setObjectName("Onescope");
    Onescope->setGeometry(360, 16, 73, 17);
    Onescope->hide();

    auto bind = [this](QAbstractButton* b, void (ChartPanel::*handler)()) {
        connect(b, &QAbstractButton::clicked, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    bind(BtFirst, &ChartPanel::BtFirstClick);
    bind(BTPrevious, &ChartPanel::BTPreviousClick);
    bind(BtNext, &ChartPanel::BtNextClick);
    bind(BTlast, &ChartPanel::BTlastClick);
    bind(BtNew, &ChartPanel::BtNewClick);
    bind(BtSave, &ChartPanel::BtSaveClick);
    bind(TbFd, &ChartPanel::TbFdClick);
    bind(TbSx, &ChartPanel::TbFdClick);
    bind(Onescope, &ChartPanel::OnescopeClick);
}

void ChartPanel::ResetChartSeries() {
    for (int i = 0; i < Chtshow->seriesCount(); ++i)
        Chtshow->showPlaceholder(i);
}

void ChartPanel::PlotFrameWaveform(const std::string& frame) {
    // Decoded whole before the chart is touched, so a bad frame leaves the chart as it was.
    const auto wave = view::decodeWaveform(frame);
    for (int i = 0; i < Chtshow->seriesCount(); ++i)
        if (i != view::WaveChart::Series1) Chtshow->showPlaceholder(i);
    // The waveform replaces the placeholder, so its points are numbered 0 to 159.
    std::vector<view::WaveChart::Point> points;
    points.reserve(wave.size());
    for (int v : wave)
        points.push_back({static_cast<double>(v), QStringLiteral("paper"), QColor(0, 0, 255)});
    Chtshow->setPoints(view::WaveChart::Series1, std::move(points));
}

void ChartPanel::SetChartLeftAxis(double min, double max) {
    Chtshow->setLeftMaximum(max);
    Chtshow->setLeftMinimum(min);
}

void ChartPanel::ShowSeries(int index) {
    if (index < 0 || index >= Chtshow->seriesCount()) throw AppError("List index out of bounds");
    for (int i = 0; i < Chtshow->seriesCount(); ++i)
        Chtshow->setSeriesActive(i, false);
    Chtshow->setSeriesActive(index, true);
}

void ChartPanel::ShowScope(bool shown) {
    Scopeok->setVisible(shown);
    ScopeNo->setVisible(!shown);
}

void ChartPanel::ComboBox1Change() {
    ShowSeries(ComboBox1->currentIndex());
}

void ChartPanel::OnescopeClick() {
    ResetChartSeries();
    {
        const QSignalBlocker quiet(ComboBox1);
        ComboBox1->setCurrentIndex(0);
    }
    Chtshow->setPointsPerPage(161);
    std::vector<view::WaveChart::Point> points;
    for (int i = 0; i <= 160; ++i)
        points.push_back({50.0 * std::sin(i / 8.0), i == 5 ? QStringLiteral("6") : QString(),
                          QColor(255, 0, 0)});
    Chtshow->setPoints(view::WaveChart::Series1, std::move(points));
    Scopeok->show();
    ScopeNo->hide();
}

void ChartPanel::BtNewClick() {
    ResetChartSeries();
    const QSignalBlocker quiet(ComboBox1);
    ComboBox1->setCurrentIndex(0);
}

void ChartPanel::MaxrecordExit() {
    Chtshow->setPointsPerPage(view::toInteger(Maxrecord->text().toStdString()));
}

void ChartPanel::BtFirstClick() {
    BtNext->setEnabled(true);
    BTlast->setEnabled(true);
    BtFirst->setEnabled(false);
    BTPrevious->setEnabled(false);
    Chtshow->setPage(1);
    Bt10->setText("1");
}

void ChartPanel::BTlastClick() {
    BtFirst->setEnabled(true);
    BTPrevious->setEnabled(true);
    BtNext->setEnabled(false);
    BTlast->setEnabled(false);
    Chtshow->setPage(Chtshow->pageCount());
    Bt10->setText(QString::number(Chtshow->page()));
}

void ChartPanel::BtNextClick() {
    BtFirst->setEnabled(true);
    BTPrevious->setEnabled(true);
    if (Chtshow->page() == Chtshow->pageCount()) {
        BtNext->setEnabled(false);
        BTlast->setEnabled(false);
    } else {
        Chtshow->setPage(Chtshow->page() + 1);
    }
    Bt10->setText(QString::number(Chtshow->page()));
}

void ChartPanel::BTPreviousClick() {
    BtNext->setEnabled(true);
    BTlast->setEnabled(true);
    if (Chtshow->page() == 1) {
        BtFirst->setEnabled(false);
        BTPrevious->setEnabled(false);
    } else {
        Chtshow->setPage(Chtshow->page() - 1);
    }
    Bt10->setText(QString::number(Chtshow->page()));
}

void ChartPanel::TbFdClick() {
    QWidget* chart = Chtshow;
    if (chart->y() > 50) {
        TbFd->hide();
        TbSx->show();
        ChartSavedTop = chart->y();
        ChartSavedLeft = chart->x();
        ChartSavedHeight = chart->height();
        ChartSavedWidth = chart->width();
        // The visible client area less a small border, over the grid and the scale.
        const QSize area = VisibleArea();
        chart->setGeometry(2, 28, area.width() - 4, area.height() - 31);
        chart->raise();
    } else {
        TbSx->hide();
        TbFd->show();
        chart->setGeometry(ChartSavedLeft, ChartSavedTop, ChartSavedWidth, ChartSavedHeight);
    }
}

void ChartPanel::BtSaveClick() {
    QWidget* chart = Chtshow;
    if (!chart) throw AppError("There is no chart to save");
    QImage image(chart->size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    chart->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QString path = QDir::current().absoluteFilePath("databmp.bmp");
    // Written first, so the message only ever names a file that is there.
    if (!image.save(path, "BMP"))
        throw AppError("Could not write the chart bitmap " + path.toStdString());
    ShowMessage("graphic has saved on " + path);
}

} // namespace rd780
