#pragma once

// The handle of the module the framework is linked into: where its
// resources are found and the module path written at registration.

#include "platform/Windows.h"

HINSTANCE KelvoModuleInstance();
