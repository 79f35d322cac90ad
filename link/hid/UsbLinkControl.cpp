// USB link controls of the main window.
#include "app/TFCOMM.h"

#include <QToolButton>

namespace rd780 {

void TFCOMM::buildUsbSide() {
    USBCon = new QToolButton(Client);
    USBCon->setObjectName("USBCon");
    USBCon->setText("Connect");
    USBCon->setToolTip("USB Connect");
    USBCon->setCheckable(true);
    USBCon->setGeometry(3, 7, 102, 22);
}

void TFCOMM::createHidController() {}
void TFCOMM::destroyHidController() {}
void TFCOMM::USBConClick() {}
void TFCOMM::SendDataClick() {}

} // namespace rd780
