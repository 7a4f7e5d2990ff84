#pragma once

// The one way the image library's tests expect a failure: an IPException
// with a given code and text.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

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

// The failure checks of one routine: Failures("X::Y")(body, code) holds when
// body throws an IPException with `code` from X::Y; `detail` is what the
// routine appends to its name, such as "(opacity value)".
class Failures {
 public:
  explicit Failures(std::string where) : where_(std::move(where)) {}
  ::testing::AssertionResult operator()(const std::function<void()>& body, int code,
                                        const std::string& detail = "") const {
    return ThrowsIPException(body, code, where_ + detail);
  }

 private:
  std::string where_;
};

// The code of the IPException body throws; -1 when it throws nothing, -2
// when it throws something else.
int CodeOf(const std::function<void()>& body);

}  // namespace kelvo::test
