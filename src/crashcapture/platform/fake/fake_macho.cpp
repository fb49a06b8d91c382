#include "crashcapture/platform/fake/fake_macho.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "crashcapture/platform/macho_format.h"

namespace tlcrash {
namespace {

// Reads the file's fields in its byte order.
class FileReader {
 public:
  FileReader(std::span<const std::uint8_t> file, bool swapped) : file_(file), swapped_(swapped) {}

  bool has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= file_.size() && length <= file_.size() - offset;
  }
  std::uint32_t u32(std::uint64_t offset) const {
    std::uint32_t value;
    std::memcpy(&value, file_.data() + offset, sizeof value);
    return swapped_ ? __builtin_bswap32(value) : value;
  }
  std::uint64_t u64(std::uint64_t offset) const {
    std::uint64_t value;
    std::memcpy(&value, file_.data() + offset, sizeof value);
    return swapped_ ? __builtin_bswap64(value) : value;
  }

 private:
  std::span<const std::uint8_t> file_;
  bool swapped_;
};

struct Segment {
  std::uint64_t vmaddr, vmsize, fileoff, filesize;
};

}  // namespace

std::optional<tlcrash_vm_address_t> loadMachO(FakeTask& task, std::span<const std::uint8_t> file,
                                              tlcrash_vm_off_t slide) {
  if (file.size() < macho::kHeaderSize32) return std::nullopt;
  std::uint32_t magic;
  std::memcpy(&magic, file.data(), sizeof magic);
  const bool m64 = magic == macho::MH_MAGIC_64 || magic == macho::MH_CIGAM_64;
  const bool swapped = magic == macho::MH_CIGAM || magic == macho::MH_CIGAM_64;
  if (!m64 && magic != macho::MH_MAGIC && magic != macho::MH_CIGAM) return std::nullopt;
  const FileReader reader(file, swapped);
  const std::uint32_t ncmds = reader.u32(16);

  std::vector<Segment> segments;
  std::uint64_t offset = m64 ? macho::kHeaderSize64 : macho::kHeaderSize32;
  for (std::uint32_t index = 0; index < ncmds; ++index) {
    if (!reader.has(offset, macho::kLoadCommandSize)) return std::nullopt;
    const std::uint32_t cmd = reader.u32(offset);
    const std::uint32_t cmdsize = reader.u32(offset + 4);
    if (cmdsize < macho::kLoadCommandSize || !reader.has(offset, cmdsize)) return std::nullopt;
    if (cmd == (m64 ? macho::LC_SEGMENT_64 : macho::LC_SEGMENT)) {
      const std::uint64_t at = offset + macho::kLoadCommandSize + macho::kNameSize;
      Segment segment;
      if (m64) {
        if (cmdsize < macho::kSegmentCommandSize64) return std::nullopt;
        segment = {reader.u64(at), reader.u64(at + 8), reader.u64(at + 16), reader.u64(at + 24)};
      } else {
        if (cmdsize < macho::kSegmentCommandSize32) return std::nullopt;
        segment = {reader.u32(at), reader.u32(at + 4), reader.u32(at + 8), reader.u32(at + 12)};
      }
      const std::uint32_t initprot = reader.u32(at + (m64 ? 36 : 20));
      const bool reservedOnly = segment.filesize == 0 && initprot == 0;
      if (!reservedOnly && segment.vmsize != 0) {
        if (!reader.has(segment.fileoff, segment.filesize)) return std::nullopt;
        if (segment.vmaddr + segment.vmsize < segment.vmaddr) return std::nullopt;
        segments.push_back(segment);
      }
    }
    offset += cmdsize;
  }

  const auto header = std::find_if(segments.begin(), segments.end(), [](const Segment& segment) {
    return segment.fileoff == 0 && segment.filesize != 0;
  });
  if (header == segments.end()) return std::nullopt;
  std::uint64_t low = UINT64_MAX;
  std::uint64_t high = 0;
  for (const Segment& segment : segments) {
    low = std::min(low, segment.vmaddr);
    high = std::max(high, segment.vmaddr + segment.vmsize);
  }
  // The loader's limit for a test image.
  if (high - low > (std::uint64_t{1} << 30)) return std::nullopt;
  std::vector<std::uint8_t> memory(static_cast<std::size_t>(high - low), 0);
  for (const Segment& segment : segments) {
    const std::uint64_t count = std::min(segment.filesize, segment.vmsize);
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(segment.fileoff),
                static_cast<std::ptrdiff_t>(count),
                memory.begin() + static_cast<std::ptrdiff_t>(segment.vmaddr - low));
  }
  const auto base = low + static_cast<std::uint64_t>(slide);
  if (!task.map(base, memory)) return std::nullopt;
  return header->vmaddr + static_cast<std::uint64_t>(slide);
}

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace tlcrash
