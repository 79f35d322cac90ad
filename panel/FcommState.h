#pragma once
// Module state of the main window's unit: everything that more than one panel reads or
// writes, kept in one place so the window can hand each panel its part.
#include "panel/ModuleState.h"

namespace rd780 {

struct FcommState : ReadingState, RecordState, ScaleState, LimitState {};

} // namespace rd780
