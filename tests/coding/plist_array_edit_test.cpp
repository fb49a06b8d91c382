#include "coding/plist_array_edit.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "coding/plist.h"

namespace coding {
namespace {

Value record(int i) {
  return Dictionary{{"name", "Layout " + std::to_string(i)},
                    {"apps", Array{Dictionary{{"id", "org.example.App"}, {"n", i}}}},
                    {"on", i % 2 == 0}};
}

base::Bytes listOf(int count) {
  Array list;
  for (int i = 0; i < count; ++i)
    list.push_back(record(i));
  return encodePropertyList(Value(list)).value();
}

PlistArrayElement kept(std::size_t i) {
  return {i, nullptr};
}

// `previous` edited, whole: its unchanged bytes, then the edit's tail.
base::Bytes edit(const base::Bytes& previous, std::span<const PlistArrayElement> elements) {
  auto edited = editBinaryPlistArray(previous, elements);
  if (!edited) {
    ADD_FAILURE() << edited.error().description;
    return {};
  }
  EXPECT_LE(edited->unchangedPrefix, previous.size());
  base::Bytes out(previous.begin(),
                  previous.begin() + static_cast<std::ptrdiff_t>(edited->unchangedPrefix));
  out.insert(out.end(), edited->tail.begin(), edited->tail.end());
  return out;
}

TEST(PlistArrayEditTest, KeepsReordersDropsAndAppendsElements) {
  const base::Bytes before = listOf(4);
  const Value added = record(10);
  const Value replacing = record(11);
  const std::vector<PlistArrayElement> elements = {
      kept(3), {std::nullopt, &replacing}, kept(0), {std::nullopt, &added}};
  // The earlier objects stay where they are: only what follows them is new.
  auto tail = editBinaryPlistArray(before, elements);
  ASSERT_TRUE(tail) << tail.error().description;
  EXPECT_GT(tail->unchangedPrefix, 8u);
  const base::Bytes edited = edit(before, elements);
  EXPECT_EQ(decodePropertyList(edited).value(),
            Value(Array{record(3), record(11), record(0), record(10)}));
  EXPECT_EQ(binaryPlistArrayCount(edited), 4u);

  // An edited list edits again; and an empty list is a list.
  const std::vector<PlistArrayElement> again = {kept(3), kept(1)};
  const base::Bytes twice = edit(edited, again);
  EXPECT_EQ(decodePropertyList(twice).value(), Value(Array{record(10), record(11)}));
  const base::Bytes emptied = edit(twice, {});
  EXPECT_EQ(decodePropertyList(emptied).value(), Value(Array{}));
  const std::vector<PlistArrayElement> refilled = {{std::nullopt, &added}};
  EXPECT_EQ(decodePropertyList(edit(emptied, refilled)).value(), Value(Array{record(10)}));
}

TEST(PlistArrayEditTest, LongListsWithWideCountsAndReferences) {
  // Over 15 elements (the count follows the marker) and over 256 objects
  // (two-byte references).
  const base::Bytes before = listOf(100);
  std::vector<PlistArrayElement> elements;
  Array expected;
  for (std::size_t i = 1; i < 100; ++i) {
    elements.push_back(kept(i));
    expected.push_back(record(static_cast<int>(i)));
  }
  const Value added = record(500);
  elements.push_back({std::nullopt, &added});
  expected.push_back(added);
  EXPECT_EQ(decodePropertyList(edit(before, elements)).value(), Value(expected));
}

TEST(PlistArrayEditTest, RefusesWhatItCannotEdit) {
  const base::Bytes list = listOf(2);
  const Value one = record(1);
  const std::vector<PlistArrayElement> outOfRange = {kept(2)};
  EXPECT_FALSE(editBinaryPlistArray(list, outOfRange));

  const base::Bytes notAList = encodePropertyList(record(0)).value();
  EXPECT_FALSE(editBinaryPlistArray(notAList, {}));
  EXPECT_EQ(binaryPlistArrayCount(notAList), std::nullopt);
  const base::Bytes xml = encodePropertyList(Value(Array{}), PlistFormat::xml).value();
  EXPECT_FALSE(editBinaryPlistArray(xml, {}));
  base::Bytes truncated = list;
  truncated.resize(truncated.size() - 1);
  EXPECT_FALSE(editBinaryPlistArray(truncated, {}));

  // One-byte references cannot reach past 255 objects.
  const base::Bytes small = listOf(1);
  Array big;
  for (int i = 0; i < 300; ++i)
    big.push_back(i);
  const Value wide(big);
  const std::vector<PlistArrayElement> tooMany = {{std::nullopt, &wide}};
  EXPECT_FALSE(editBinaryPlistArray(small, tooMany));

  const Value bad(Array{Value()});  // a null cannot be written
  const std::vector<PlistArrayElement> unwritable = {{std::nullopt, &bad}};
  EXPECT_FALSE(editBinaryPlistArray(list, unwritable));
}

}  // namespace
}  // namespace coding
