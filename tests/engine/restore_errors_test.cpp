#include "engine/restore_errors.h"

#include <gtest/gtest.h>

namespace wendrix {
namespace {

TEST(RestoreErrorsTest, DomainsCodesAndDescriptions) {
  struct Case {
    base::Error error;
    const char* domain;
  };
  const Case cases[] = {
      {InvalidAppError{IApp{}}.asError(), "Wendrix.InvalidAppError"},
      {FailedToOpenApp{}.asError(), "Wendrix.FailedToOpenApp"},
      {NilWeakSelfError{}.asError(), "Wendrix.NilWeakSelfError"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.domain);
    EXPECT_EQ(c.error.domain, c.domain);
    EXPECT_EQ(c.error.code, 1);
    EXPECT_EQ(c.error.description,
              std::string("The operation couldn\u2019t be completed. (") + c.domain + " error 1.)");
  }
  EXPECT_TRUE(InvalidAppError::is(cases[0].error));
  EXPECT_FALSE(InvalidAppError::is(cases[1].error));
  EXPECT_TRUE(FailedToOpenApp::is(cases[1].error));
  EXPECT_TRUE(NilWeakSelfError::is(cases[2].error));
}

}  // namespace
}  // namespace wendrix
