#include <fstream>
#include <string>

#include "data/storage/BootIdSystem.h"

namespace xbase {

// The kernel names each boot with a UUID.
BootId BootIdSystem::read()
{
    BootId b {};
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string text;
    if (!std::getline(in, text)) return b;
    return hexBytes(text, b) == b.size() ? b : BootId {};
}

}  // namespace xbase
