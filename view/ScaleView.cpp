#include "view/ScaleView.h"

#include "view/ScalePanel.h"

#include <QToolButton>

namespace rd780 {

ScaleView::ScaleView(const PanelContext& context, const ScaleState& scale, const LimitState& limits,
                     QObject* parent)
    : Panel(context, parent), scale_(scale), limits_(limits) {
    KdPanel = new view::ScalePanel(Client);
    KD = KdPanel;
    KdPanel->setGeometry(339, 31, 371, 143);
    QObject::connect(KdPanel->KdFd, &QToolButton::clicked, this,
                     [this] { Guarded([this] { KdFdClick(); }); });
    QObject::connect(KdPanel->KdSx, &QToolButton::clicked, this,
                     [this] { Guarded([this] { KdFdClick(); }); });
    KdPanel->onResize = [this] { Guarded([this] { KDResize(); }); };
    KDResize();
}

void ScaleView::KDsetup(int) {
    view::FaceSettings face;
    face.labelSet = scale_.ScaleLabelSet;
    face.divisions = scale_.ScaleDivisions;
    face.zeroOffset = scale_.ScaleZeroOffset;
    face.fixedMode = scale_.ScaleFixedMode;
    face.limits = {limits_.LimitHigh, limits_.LimitLow, HighLimitOn && HighLimitOn(),
                   LowLimitOn && LowLimitOn()};
    KdPanel->drawFace(face);
}

void ScaleView::KDrun(int value) {
    KdPanel->movePointer(value, scale_.ScaleDivisions, scale_.ScaleFixedMode);
}

void ScaleView::KdFdClick() {
    const bool hadPointer = KdPanel->pointerShown();
    if (KdPanel->enlarged()) {
        KdPanel->restore();
        if (ShowChart) ShowChart(true);
    } else {
        // The visible client area less a small border; the chart below is hidden meanwhile.
        const QSize area = VisibleArea();
        KdPanel->enlargeTo(QRect(2, 28, area.width() - 4, area.height() - 31));
        if (ShowChart) ShowChart(false);
    }
    KDResize(); // a hidden panel gets no resize event until shown
    // Face and pointer are drawn again at the new size so they stay in register.
    KDsetup(1);
    if (hadPointer) KDrun(KdPanel->pointerValue());
}

void ScaleView::KDResize() {
    KdPanel->KdFd->move(KdPanel->width() - 30, KdPanel->KdFd->y());
    KdPanel->KdSx->move(KdPanel->width() - 30, KdPanel->KdSx->y());
}

} // namespace rd780
