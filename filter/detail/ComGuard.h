#pragma once

// Every COM method of the filter runs its body through ComGuard: no C++
// exception may cross a COM interface, so an exception becomes a result code
// (E_OUTOFMEMORY for a failed allocation, E_FAIL for anything else).

#include <new>

#include "platform/Windows.h"

namespace kelvo::filter::detail {

template <class Body>
HRESULT ComGuard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace kelvo::filter::detail
