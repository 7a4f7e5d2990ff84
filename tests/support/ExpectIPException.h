#pragma once

// The one way the image library's tests expect a failure: an IPException
// with a given code and text.

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kelvo::test {

// Whether body throws an IPException with `code` whose text is `text`. The
// text is either the whole of what() ("IPException: <message> - <where>") or
// only the where-string, which the code's message is put in front of.
::testing::AssertionResult ThrowsIPException(const std::function<void()>& body, int code,
                                             const std::string& text);

inline void ExpectIPException(const std::function<void()>& body, int code,
                              const std::string& text) {
  EXPECT_TRUE(ThrowsIPException(body, code, text));
}

// The code of the IPException body throws; -1 when it throws nothing, -2
// when it throws something else.
int CodeOf(const std::function<void()>& body);

}  // namespace kelvo::test
