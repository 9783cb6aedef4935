#pragma once
// The boot's name as each system gives it: BootIdPosix.cpp (the kernel's
// boot_id) and BootIdWindows.cpp (the registry's boot count, the machine's
// GUID). BootId.cpp holds what both share.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "data/storage/JournalFormat.h"

namespace xbase::BootIdSystem {

// This boot's name, or all zeros when the system does not say.
BootId read();

// Fills `out` from the hex digits of `text` (other characters skipped, a
// lone last digit ignored): how many bytes were filled, or out.size() + 1
// when the text holds more than fit.
size_t hexBytes(std::string_view text, std::span<uint8_t> out);

}  // namespace xbase::BootIdSystem
