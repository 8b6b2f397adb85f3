#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace lumivox::cli::test {

// A fresh folder per test, removed afterwards.
class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "lumivox-cli-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a scratch folder");
        folder = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    [[nodiscard]] std::string pathOf(const std::string& name) const
    {
        return (folder / name).string();
    }

    std::filesystem::path folder;
};

} // namespace lumivox::cli::test
