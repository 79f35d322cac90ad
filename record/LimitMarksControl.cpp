// Limit marks of the main window.
#include "app/TFCOMM.h"

namespace rd780 {

void TFCOMM::buildLimitSide() {}

} // namespace rd780
