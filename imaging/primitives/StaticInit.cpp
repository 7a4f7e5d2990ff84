#include <cstdlib>
#include <cstring>
#include <mutex>

#include "hwy/highway.h"
#include "hwy/targets.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Dispatch.h"

namespace kelvo::primitives::detail {

bool SimdDisabledByEnvironment() {
  const char* v = std::getenv("KELVO_NO_SIMD");
  return v != nullptr && v[0] != '\0' && std::strcmp(v, "0") != 0;
}

}  // namespace kelvo::primitives::detail

extern "C" IppStatus ippStaticInit(void) noexcept {
  static std::once_flag once;
  std::call_once(once, [] {
    if (kelvo::primitives::detail::SimdDisabledByEnvironment()) {
      // Permanent: SupportedTargets() never reports a SIMD target again.
      hwy::DisableTargets(~static_cast<int64_t>(HWY_STATIC_TARGET));
    }
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
  });
  return ippStsNoErr;
}
