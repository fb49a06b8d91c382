#include "telemetry/model/typed_property.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tlm {
namespace {

template <class T, class V>
std::shared_ptr<T> property(const char* name, V value) {
  auto p = std::make_shared<T>();
  p->name = name;
  p->value = value;
  return p;
}

TEST(TypedPropertyTest, EqualityComparesKindAndValueNotName) {
  EXPECT_EQ(*property<TLMLongTypedProperty>("a", 5), *property<TLMLongTypedProperty>("b", 5));
  EXPECT_FALSE(*property<TLMLongTypedProperty>("a", 5) == *property<TLMLongTypedProperty>("a", 6));
  EXPECT_FALSE(*property<TLMLongTypedProperty>("a", 5) ==
               *property<TLMDoubleTypedProperty>("a", 5.0));
  EXPECT_FALSE(*property<TLMDoubleTypedProperty>("a", NAN) ==
               *property<TLMDoubleTypedProperty>("a", NAN));
  EXPECT_EQ(TLMStringTypedProperty(), TLMStringTypedProperty());  // both values unset
  EXPECT_FALSE(TLMStringTypedProperty() == *property<TLMStringTypedProperty>("a", "x"));
}

}  // namespace
}  // namespace tlm
