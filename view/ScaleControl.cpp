// Analog scale of the main window.
#include "app/TFCOMM.h"

#include <QWidget>

namespace rd780 {

void TFCOMM::buildScaleSide() {
    KD = new QWidget(Client);
    KD->setObjectName("KD");
    KD->setGeometry(339, 31, 371, 143);
    KD->setAutoFillBackground(true);
}

void TFCOMM::KDsetup(int) {}
void TFCOMM::KDrun(int) {}

} // namespace rd780
