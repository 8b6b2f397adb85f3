#pragma once

#include <cstdio>
#include <optional>
#include <string_view>

namespace lumivox::app {

// The project's version, the one lumivox-cli and the package give (set by the build).
inline constexpr std::string_view programVersion = LUMIVOX_VERSION;
inline constexpr std::string_view versionLine = "Lumivox " LUMIVOX_VERSION "\n";

// The usage text "lumivox --help" prints.
std::string_view usageText();

// What the window program does with its arguments: "--help" (or "-h") prints the usage and
// "--version" the version on out, and the program then ends with the exit code returned, before
// any window or single-instance check. Every other argument is ignored, as it always was: the
// result is then empty and the window opens.
std::optional<int> answerInformationRequest(
    int argumentCount, const char* const* arguments, std::FILE* out);

// The single-instance name: LUMIVOX_INSTANCE_NAME when set and not empty (so that tests, and a
// developer's second build, can run beside an open window), else the program's own.
std::string_view instanceName();

} // namespace lumivox::app
