#include "shown_name.h"

#include <gtest/gtest.h>

namespace lumivox::cli {
namespace {

    struct NameCase {
        std::string_view name;
        std::string_view shown;
    };

    class ShownName : public ::testing::TestWithParam<NameCase> { };

    // Nothing in a name can act on the terminal: every byte that is not printable, or not part
    // of a valid UTF-8 character, is escaped, and the backslash too so that the escapes stay
    // unambiguous.
    TEST_P(ShownName, EscapesWhatATerminalWouldActOn)
    {
        const NameCase c = GetParam();
        const std::string shown = shownName(c.name);
        EXPECT_EQ(shown, c.shown);
        for (const char byte : shown) {
            const auto value = static_cast<unsigned char>(byte);
            EXPECT_TRUE(value >= 0x20 && value != 0x7f) << "byte " << int(value) << " in " << shown;
        }
    }

    INSTANTIATE_TEST_SUITE_P(Names, ShownName,
        ::testing::Values(NameCase { "out.wav", "out.wav" },
            NameCase { "my song (take 2).wav", "my song (take 2).wav" },
            NameCase { "a\nb.wav", "a\\nb.wav" }, NameCase { "tab\there", "tab\\there" },
            NameCase { "\x1b[31mred.wav", "\\033[31mred.wav" },
            NameCase { "back\\slash", "back\\\\slash" }, NameCase { "del\x7f", "del\\177" },
            NameCase { "bell\a\b\v\f\r", "bell\\a\\b\\v\\f\\r" },
            NameCase { "caf\xc3\xa9.wav", "caf\xc3\xa9.wav" }, // valid UTF-8 stays
            NameCase { "\xe6\x97\xa5\xe6\x9c\xac.flac", "\xe6\x97\xa5\xe6\x9c\xac.flac" },
            NameCase { "latin1 caf\xe9.wav", "latin1 caf\\351.wav" }, // not UTF-8
            NameCase { "c1 \xc2\x9b"
                       "31m",
                "c1 \\302\\23331m" }, // a C1 control (CSI)
            NameCase { "cut \xe6\x97", "cut \\346\\227" },
            NameCase { "overlong \xc0\xaf", "overlong \\300\\257" }));

} // namespace
} // namespace lumivox::cli
