#pragma once

// Small helpers shared by the fuzz targets (not part of any product library).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A private folder for targets whose entry point reads or writes files, made
// once per process: in /dev/shm when there is one (so the stores' syncs cost
// nothing), else in the temporary folder.
std::filesystem::path scratchFolder();

// Removes everything inside `folder`, leaving the folder.
void emptyFolder(const std::filesystem::path& folder);

}  // namespace fuzz
