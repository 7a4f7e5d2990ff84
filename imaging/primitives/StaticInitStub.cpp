// Placeholder until the dispatch lands.
#include "imaging/primitives/Primitives.h"
extern "C" IppStatus ippStaticInit(void) noexcept { return ippStsNoErr; }
