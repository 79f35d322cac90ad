#include "panel/Panel.h"
#include "panel/LinkPanel.h"
