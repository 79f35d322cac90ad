#include "view/ScalePanel.h"

#include "view/Pictures.h"

#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace rd780::view {

namespace {

QColor toColour(FaceColour c) {
    switch (c) {
    case FaceColour::Red:
        return QColor(255, 0, 0);
    case FaceColour::White:
        return Qt::white;
    case FaceColour::Black:
        break;
    }
    return Qt::black;
}

} // namespace

ScaleImage::ScaleImage(QWidget* parent) : QWidget(parent) {
    setObjectName("KD1");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ScaleImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!canvas.isNull()) p.drawImage(0, 0, canvas);
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(1, 1, -2, -2));
    }
}

ScalePanel::ScalePanel(QWidget* parent) : QFrame(parent) {
    setObjectName("KD");
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    resize(371, 143);

    KD1 = new ScaleImage(this);
    KD1->setGeometry(2, 2, width() - 4, height() - 4);
    // The face is a picture that carries the reading: Tab reaches it for a screen reader.
    KD1->setFocusPolicy(Qt::TabFocus);
    KD1->setAccessibleName("Analog scale");

    KdFd = new QToolButton(this);
    KdFd->setObjectName("KdFd");
    KdFd->setGeometry(264, 5, 25, 25);
    KdFd->setIcon(enlargePicture(21));
    KdFd->setAutoRaise(true);
    KdFd->setToolTip("Enlarge");
    KdFd->setAccessibleName("Enlarge the scale");
    KdFd->hide();

    KdSx = new QToolButton(this);
    KdSx->setObjectName("KdSx");
    KdSx->setGeometry(288, 5, 25, 25);
    KdSx->setIcon(restorePicture(21));
    KdSx->setAutoRaise(true);
    KdSx->setToolTip("Restore");
    KdSx->setAccessibleName("Restore the scale");
    KdSx->hide();

    oltext = new QLabel("OL !!", this);
    oltext->setObjectName("oltext");
    oltext->hide();
}

QColor ScalePanel::eraseColour() const {
    return palette().color(QPalette::Window);
}

bool ScalePanel::ensureCanvas() {
    // The bitmap takes the image's size when it is made; a new size needs a new bitmap.
    // It has the screen's pixels, so the face stays crisp at any scale factor.
    const qreal dpr = KD1->devicePixelRatioF();
    const QSize size = (QSizeF(KD1->size().expandedTo(QSize(1, 1))) * dpr).toSize();
    if (KD1->canvas.size() == size && KD1->canvas.devicePixelRatio() == dpr) return false;
    KD1->canvas = QImage(size, QImage::Format_RGB32);
    KD1->canvas.setDevicePixelRatio(dpr);
    KD1->canvas.fill(Qt::white);
    return true;
}

void ScalePanel::drawFace(const FaceSettings& settings) {
    // A pointer remembered from another size would not lie where the erase expects it.
    if (ensureCanvas()) pointer_ = {};
    QImage& img = KD1->canvas;
    img.fill(Qt::white);
    const FacePlan plan = planFace(faceGeometry(), settings);
    face_ = settings;

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont f = font();
    f.setPixelSize(11);
    f.setBold(false);
    p.setFont(f);
    p.setPen(Qt::black);
    for (const FaceLabel& l : plan.labels)
        p.drawText(QRect(l.at.x, l.at.y, 200, 40), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromStdString(l.text));
    auto dot = [&](const FaceDot& d) {
        p.setPen(QPen(toColour(d.colour), d.penWidth));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRect(d.at.x, d.at.y, 2, 2));
    };
    for (const FaceDot& d : plan.marks)
        dot(d);
    for (const FaceDot& d : plan.arc)
        dot(d);
    p.end();

    pointerShown_ = false;
    ++faceDraws_;
    KD1->update();
}

void ScalePanel::movePointer(int v, int divisions, bool fixedMode) {
    ensureCanvas();
    const PointerLine next = pointerLine(faceGeometry(), v, divisions, fixedMode);
    QPainter p(&KD1->canvas);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(eraseColour(), 2));
    p.drawLine(pointer_.tip.x, pointer_.tip.y, pointer_.base.x, pointer_.base.y);
    pointer_ = next;
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(next.tip.x, next.tip.y, next.base.x, next.base.y);
    p.end();
    pointerShown_ = true;
    pointerValue_ = v;
    KD1->update();
}

QString ScalePanel::describe() const {
    // Positions count tenths of a division from the left end; the labels count divisions.
    auto atPosition = [this](int v) {
        return QString::number((v - face_.zeroOffset) / 10.0, 'f', 1);
    };
    QString text = pointerShown_ ? "pointer at " + atPosition(pointerValue_) : "no pointer";
    text += " on a scale from " + atPosition(0) + " to " + atPosition(face_.divisions * 10);
    const LimitMarks& l = face_.limits;
    text += l.highOn ? "; SetMax " + QString::number(double(l.high)) : "; SetMax off";
    text += l.lowOn ? "; SetMin " + QString::number(double(l.low)) : "; SetMin off";
    return text;
}

void ScalePanel::enlargeTo(const QRect& bounds) {
    saved_ = geometry();
    KdFd->hide();
    KdSx->show();
    setGeometry(bounds);
    KD1->setGeometry(2, 2, width() - 4, height() - 4);
    raise();
}

void ScalePanel::restore() {
    KdSx->hide();
    KdFd->show();
    setGeometry(saved_);
    KD1->setGeometry(2, 2, width() - 4, height() - 4);
}

void ScalePanel::resizeEvent(QResizeEvent* e) {
    QFrame::resizeEvent(e);
    if (onResize) onResize();
}

} // namespace rd780::view
