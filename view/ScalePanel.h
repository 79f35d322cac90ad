#pragma once
// The analog scale panel KD: the face is drawn once on the image KD1, and per reading only
// the old pointer is erased and the new one drawn.
#include "view/ScaleGeometry.h"

#include <QFrame>
#include <QImage>
#include <QRect>

#include <functional>

class QLabel;
class QToolButton;

namespace rd780::view {

// KD1: a bitmap shown one to one, so what the scale draws is what the user sees.
class ScaleImage : public QWidget {
    Q_OBJECT
public:
    explicit ScaleImage(QWidget* parent);
    QImage canvas;

protected:
    void paintEvent(QPaintEvent*) override;
};

class ScalePanel : public QFrame {
public:
    explicit ScalePanel(QWidget* parent);

    ScaleImage* KD1 = nullptr;
    QToolButton* KdFd = nullptr; // enlarge
    QToolButton* KdSx = nullptr; // restore
    QLabel* oltext = nullptr;    // "OL !!", never shown

    // Redraws the whole face; afterwards no pointer is shown until the next movePointer.
    void drawFace(const FaceSettings& settings);
    const FaceSettings& face() const { return face_; }
    // The pointer and the ticked limits in words, for assistive technology.
    QString describe() const;
    // Erases the remembered pointer in the panel's colour and draws the one for v.
    void movePointer(int v, int divisions, bool fixedMode);

    ScaleGeometry faceGeometry() const { return scaleGeometry(width(), height()); }
    const QImage& image() const { return KD1->canvas; }
    PointerLine pointer() const { return pointer_; }
    bool pointerShown() const { return pointerShown_; }
    int pointerValue() const { return pointerValue_; }
    int faceDraws() const { return faceDraws_; }

    // Enlarge to the given bounds, or restore the bounds saved by the last enlarge.
    bool enlarged() const { return width() >= 470; }
    void enlargeTo(const QRect& bounds);
    void restore();
    QRect savedBounds() const { return saved_; }

    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    bool ensureCanvas(); // true when a new bitmap was made
    QColor eraseColour() const;

    PointerLine pointer_; // the line last drawn, (0,0)-(0,0) at start
    bool pointerShown_ = false;
    int pointerValue_ = 0;
    int faceDraws_ = 0;
    QRect saved_;
    FaceSettings face_;
};

} // namespace rd780::view
