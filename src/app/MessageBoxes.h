#pragma once

// The message boxes live with the other widget helpers; code that knows them
// by this name keeps finding them here.
#include "widgets/MessageBoxes.h"
