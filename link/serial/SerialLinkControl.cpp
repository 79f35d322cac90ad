// Serial link controls of the main window.
#include "app/TFCOMM.h"

namespace rd780 {

void TFCOMM::buildSerialSide() {}
void TFCOMM::destroySerialSide() {}
void TFCOMM::BindSerialReceiveHandler() {}
void TFCOMM::H520RData(void*, const uint8_t*, int) {}
void TFCOMM::FormResize() {}
void TFCOMM::BtDiscon1Click() {}

} // namespace rd780
