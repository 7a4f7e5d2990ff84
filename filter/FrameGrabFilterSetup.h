#pragma once

// Registration data of the module: the filter's setup record and the class
// factory table (the filter and its property page).

#include "platform/CFactoryTemplate.h"

extern const AMOVIESETUP_FILTER g_FrameGrabFilterSetup;
