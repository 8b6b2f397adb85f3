#pragma once

#include <string>

namespace lumivox::job {

// True when both paths lead to one existing file (same device and inode), however they are
// spelled and whatever links lie between.
[[nodiscard]] bool namesSameFile(const std::string& first, const std::string& second);

} // namespace lumivox::job
