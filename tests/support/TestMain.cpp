// Test entry point: selects the primitives' code path the way the library's
// users do (ippStaticInit, which honours KELVO_NO_SIMD), then runs the tests.
#include <gtest/gtest.h>

#include "imaging/primitives/Primitives.h"

int main(int argc, char** argv) {
  ippStaticInit();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
