#include "program_arguments.h"

#include <cstdlib>
#include <string>

namespace lumivox::app {

std::string_view usageText()
{
    return R"(Usage: lumivox [--help | --version]

Opens the Lumivox window, a 32-band channel vocoder: name a carrier, a modulator and an
output file, set the sliders, and press Vocode to write the result or Preview to hear it.
Only one Lumivox window runs at a time on a computer. Other arguments are ignored.
To vocode without a window, use lumivox-cli (lumivox-cli --help).

  -h, --help      show this help and exit
  --version       show the version and exit
)";
}

std::optional<int> answerInformationRequest(
    int argumentCount, const char* const* arguments, std::FILE* out)
{
    for (int index = 1; index < argumentCount && arguments[index] != nullptr; ++index) {
        const std::string_view argument = arguments[index];
        if (argument == "--")
            break;
        std::string_view text;
        if (argument == "--help" || argument == "-h")
            text = usageText();
        else if (argument == "--version")
            text = versionLine;
        else
            continue;
        // Text that did not reach its reader (a closed pipe, a full disk) is a failure.
        const bool written
            = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
        return written ? 0 : 1;
    }
    return std::nullopt;
}

std::string_view instanceName()
{
    const char* name = std::getenv("LUMIVOX_INSTANCE_NAME");
    if (name != nullptr && *name != '\0')
        return name;
    return "Lumivox10";
}

} // namespace lumivox::app
