#include "typed_path.h"

#include <gtest/gtest.h>
#include <string>

namespace lumivox::app {
namespace {

    // What the boxes hold and the full paths they stand for, with home "/home/me", the carrier's
    // chooser last in "/snd/synths" and the modulator's in "/snd/voices" (empty: none kept).
    struct TypedPathCase {
        const char* name;
        BoxPaths typed;
        BoxPaths resolved;
        QString carrierChooser = QStringLiteral("/snd/synths");
        QString modulatorChooser = QStringLiteral("/snd/voices");
    };

    const TypedPathCase typedPathCases[] = {
        { "FullPathsStayAsTheyAre", { "/a/c.wav", "/b/m.wav", "/c/o.wav" },
            { "/a/c.wav", "/b/m.wav", "/c/o.wav" } },
        { "TildeSlashIsTheHomeFolder", { "~/c.wav", "~/takes/m.wav", "~/x.wav" },
            { "/home/me/c.wav", "/home/me/takes/m.wav", "/home/me/x.wav" } },
        { "TildeAloneIsTheHomeFolder", { "/a/c.wav", "/b/m.wav", "~" },
            { "/a/c.wav", "/b/m.wav", "/home/me" } },
        { "TildeElsewhereOrBeforeANameIsAName", { "/a/~/c.wav", "/b/m.wav", "~other/o.wav" },
            { "/a/~/c.wav", "/b/m.wav", "/b/~other/o.wav" } },
        { "ARelativeOutputGoesBesideTheVoice", { "/a/c.wav", "/b/m.wav", "out.wav" },
            { "/a/c.wav", "/b/m.wav", "/b/out.wav" } },
        { "ADotSlashAddsNothing", { "/a/c.wav", "/b/m.wav", "././takes/out.wav" },
            { "/a/c.wav", "/b/m.wav", "/b/takes/out.wav" } },
        { "ARelativeOutputFollowsATildeVoice", { "", "~/v/m.wav", "out.wav" },
            { "", "/home/me/v/m.wav", "/home/me/v/out.wav" } },
        { "ARelativeInputIsBesideTheOtherInput", { "c.wav", "/b/m.wav", "o.wav" },
            { "/b/c.wav", "/b/m.wav", "/b/o.wav" } },
        { "ARelativeVoiceIsBesideTheCarrier", { "/a/c.wav", "m.wav", "o.wav" },
            { "/a/c.wav", "/a/m.wav", "/a/o.wav" } },
        { "BothRelativeTakeTheirChoosersFolders", { "c.wav", "m.wav", "o.wav" },
            { "/snd/synths/c.wav", "/snd/voices/m.wav", "/snd/voices/o.wav" } },
        { "NoChooserFolderMeansHome", { "", "m.wav", "o.wav" },
            { "", "/home/me/m.wav", "/home/me/o.wav" }, "", "" },
        { "EmptyBoxesStayEmpty", { "", "", "o.wav" }, { "", "", "/snd/voices/o.wav" } },
    };

    class TypedPath : public testing::TestWithParam<TypedPathCase> { };

    TEST_P(TypedPath, NamesTheFileAShellWouldBesideTheOtherFilesOfTheWork)
    {
        const TypedPathCase& c = GetParam();
        const BoxPaths resolved = resolvedBoxPaths(
            c.typed, QStringLiteral("/home/me"), c.carrierChooser, c.modulatorChooser);
        EXPECT_EQ(resolved.carrier, c.resolved.carrier);
        EXPECT_EQ(resolved.modulator, c.resolved.modulator);
        EXPECT_EQ(resolved.output, c.resolved.output);
    }

    INSTANTIATE_TEST_SUITE_P(Boxes, TypedPath, testing::ValuesIn(typedPathCases),
        [](const testing::TestParamInfo<TypedPathCase>& c) { return std::string(c.param.name); });

} // namespace
} // namespace lumivox::app
