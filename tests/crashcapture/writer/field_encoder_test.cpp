// The field encoder against hand-worked wire bytes, one row per type, and the
// dry run that measures without writing.

#include "crashcapture/capture/writer/field_encoder.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tlcrash {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodes one field into a memory file and returns what was written.
template <class T>
Bytes encode(std::uint32_t field, tlcrash_field_type type, const T* value, std::size_t* size) {
  const int fd = ::memfd_create("field", 0);
  tlcrash_async_file file;
  tlcrash_async_file_init(&file, fd, 0);
  *size = tlcrash_writer_pack(&file, field, type, value);
  tlcrash_async_file_flush(&file);
  Bytes bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
  ::pread(fd, bytes.data(), bytes.size(), 0);
  ::close(fd);
  return bytes;
}

struct Row {
  const char* what;
  std::uint32_t field;
  tlcrash_field_type type;
  std::function<Bytes(std::uint32_t, tlcrash_field_type, std::size_t*)> run;
  Bytes expected;
};

template <class T>
auto with(T value) {
  return [value](std::uint32_t field, tlcrash_field_type type, std::size_t* size) {
    return encode(field, type, &value, size);
  };
}

TEST(FieldEncoderTest, WritesTheWireBytesOfEachType) {
  const tlcrash_field_bytes blob{3, "\x01\x02\x03"};
  const std::vector<Row> rows = {
      {"int32", 1, tlcrash_field_type::int32, with<std::int32_t>(150), {0x08, 0x96, 0x01}},
      {"negative int32 takes ten bytes",
       1,
       tlcrash_field_type::int32,
       with<std::int32_t>(-1),
       {0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
      {"sint32 zigzag", 2, tlcrash_field_type::sint32, with<std::int32_t>(-2), {0x10, 0x03}},
      {"sint64 zigzag", 2, tlcrash_field_type::sint64, with<std::int64_t>(-64), {0x10, 0x7f}},
      {"uint32", 3, tlcrash_field_type::uint32, with<std::uint32_t>(300), {0x18, 0xac, 0x02}},
      {"enum", 1, tlcrash_field_type::enumeration, with<std::uint32_t>(5), {0x08, 0x05}},
      {"int64", 4, tlcrash_field_type::int64, with<std::int64_t>(1), {0x20, 0x01}},
      {"uint64 of ten bytes",
       3,
       tlcrash_field_type::uint64,
       with<std::uint64_t>(~0ULL),
       {0x18, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
      {"fixed64",
       1,
       tlcrash_field_type::fixed64,
       with<std::uint64_t>(0x0102030405060708ULL),
       {0x09, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {"double",
       1,
       tlcrash_field_type::float64,
       with<double>(1.0),
       {0x09, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f}},
      {"fixed32",
       1,
       tlcrash_field_type::fixed32,
       with<std::uint32_t>(0x01020304),
       {0x0d, 0x04, 0x03, 0x02, 0x01}},
      {"float", 1, tlcrash_field_type::float32, with<float>(1.0f), {0x0d, 0, 0, 0x80, 0x3f}},
      {"bool", 6, tlcrash_field_type::boolean, with<bool>(true), {0x30, 0x01}},
      {"string",
       1,
       tlcrash_field_type::string,
       [](std::uint32_t field, tlcrash_field_type type, std::size_t* size) {
         return encode(field, type, "SIGSEGV", size);
       },
       {0x0a, 0x07, 'S', 'I', 'G', 'S', 'E', 'G', 'V'}},
      {"empty string",
       3,
       tlcrash_field_type::string,
       [](std::uint32_t field, tlcrash_field_type type, std::size_t* size) {
         return encode(field, type, "", size);
       },
       {0x1a, 0x00}},
      {"bytes", 2, tlcrash_field_type::bytes, with(blob), {0x12, 0x03, 0x01, 0x02, 0x03}},
      {"message header only",
       9,
       tlcrash_field_type::message,
       with<std::uint32_t>(200),
       {0x4a, 0xc8, 0x01}},
      {"field number past 15 takes a two-byte tag",
       16,
       tlcrash_field_type::uint32,
       with<std::uint32_t>(1),
       {0x80, 0x01, 0x01}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::size_t size = 0;
    EXPECT_EQ(row.run(row.field, row.type, &size), row.expected);
    EXPECT_EQ(size, row.expected.size());
  }
}

TEST(FieldEncoderTest, ADryRunMeasuresWithoutWriting) {
  const char* text = "a longer text";
  EXPECT_EQ(tlcrash_writer_pack(nullptr, 1, tlcrash_field_type::string, text), 2u + 13u);
  const std::uint64_t value = 1ULL << 35;
  EXPECT_EQ(tlcrash_writer_pack(nullptr, 3, tlcrash_field_type::uint64, &value), 1u + 6u);
}

TEST(FieldEncoderDeathTest, ATypeOutsideTheEnumerationAborts) {
  const std::uint32_t value = 0;
  EXPECT_DEATH(tlcrash_writer_pack(nullptr, 1, static_cast<tlcrash_field_type>(17), &value), "");
}

}  // namespace
}  // namespace tlcrash
