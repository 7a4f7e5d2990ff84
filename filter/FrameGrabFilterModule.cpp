// The module's registration entry points. DllGetClassObject and
// DllCanUnloadNow come from the framework.

#include "platform/CFactoryTemplate.h"

STDAPI DllRegisterServer() {
  return AMovieDllRegisterServer2(TRUE);
}

STDAPI DllUnregisterServer() {
  return AMovieDllRegisterServer2(FALSE);
}
