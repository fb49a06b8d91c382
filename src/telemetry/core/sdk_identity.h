#pragma once

#include <string_view>

namespace tlm {

// The SDK's own name and version as reported in every device record.
inline constexpr std::string_view kTLMSdkName = "daraveved.linux";
inline constexpr std::string_view kTLMSdkVersion = "4.1.0";

// Sources of the device record on Linux, read by the device tracker: the
// operating system's name and release come from uname(2); model and maker
// from DMI when the files are readable.
inline constexpr std::string_view kTLMLinuxOsName = "Linux";
inline constexpr std::string_view kTLMDmiProductNamePath = "/sys/class/dmi/id/product_name";
inline constexpr std::string_view kTLMDmiVendorPath = "/sys/class/dmi/id/sys_vendor";

}  // namespace tlm
