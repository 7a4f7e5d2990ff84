// Defines the module's own class and interface identifiers once; the
// system's identifiers come from its import libraries (uuid, strmiids).
#include <initguid.h>

#include "filter/FrameGrabFilterIds.h"
