#pragma once

// The image primitives of the Kelvo image library.
#include "imaging/primitives/Primitives.h"
