// Analog scale of the main window.
#include "app/TFCOMM.h"
#include "view/ScalePanel.h"
#include "view/WaveChart.h"

#include <QCheckBox>
#include <QToolButton>

namespace rd780 {

QSize visibleClientArea(const TFCOMM& w); // ChartControl.cpp

void TFCOMM::buildScaleSide() {
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

void TFCOMM::KDsetup(int) {
    view::FaceSettings face;
    face.labelSet = S.ScaleLabelSet;
    face.divisions = S.ScaleDivisions;
    face.zeroOffset = S.ScaleZeroOffset;
    face.fixedMode = S.ScaleFixedMode;
    face.limits = {S.LimitHigh, S.LimitLow, SetMaxB && SetMaxB->isChecked(),
                   SetMinB && SetMinB->isChecked()};
    KdPanel->drawFace(face);
}

void TFCOMM::KDrun(int value) {
    KdPanel->movePointer(value, S.ScaleDivisions, S.ScaleFixedMode);
}

void TFCOMM::KdFdClick() {
    const bool hadPointer = KdPanel->pointerShown();
    if (KdPanel->enlarged()) {
        KdPanel->restore();
        if (Chtshow) Chtshow->show();
    } else {
        // The visible client area less a small border; the chart below is hidden meanwhile.
        const QSize area = visibleClientArea(*this);
        KdPanel->enlargeTo(QRect(2, 28, area.width() - 4, area.height() - 26));
        if (Chtshow) Chtshow->hide();
    }
    KDResize(); // a hidden panel gets no resize event until shown
    // Face and pointer are drawn again at the new size so they stay in register.
    KDsetup(1);
    if (hadPointer) KDrun(KdPanel->pointerValue());
}

void TFCOMM::KDResize() {
    KdPanel->KdFd->move(KdPanel->width() - 30, KdPanel->KdFd->y());
    KdPanel->KdSx->move(KdPanel->width() - 30, KdPanel->KdSx->y());
}

} // namespace rd780
