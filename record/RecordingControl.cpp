// Reading table, recording rule, recall stamps and data files of the main window.
#include "app/TFCOMM.h"

namespace rd780 {

void TFCOMM::buildRecordSide() {}
void TFCOMM::OpenReadingTable() {}
void TFCOMM::CloseReadingTable() {}
void TFCOMM::INDataToTable() {}

} // namespace rd780
