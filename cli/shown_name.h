#pragma once

#include <string>
#include <string_view>

namespace lumivox::cli {

// A file name (or any text from outside) as a terminal may show it: printable characters as they
// are, and every other byte escaped as `ls -b` does, so that a name cannot move the cursor, change
// colours or begin a new line: "\n", "\t" and the like for the usual controls, a backslash as
// "\\", anything else, a byte that is not part of a valid UTF-8 character included, as "\ooo" in
// octal.
[[nodiscard]] std::string shownName(std::string_view name);

// An argument as a message shows it: shownName in single quotes.
[[nodiscard]] std::string quotedName(std::string_view text);

} // namespace lumivox::cli
