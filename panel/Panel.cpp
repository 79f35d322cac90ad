#include "panel/Panel.h"
