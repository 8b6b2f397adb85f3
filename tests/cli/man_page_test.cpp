#include "command_line.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string readManPage()
{
    std::ifstream file(LUMIVOX_CLI_MAN_PAGE);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The text of one section (".SH NAME" up to the next ".SH") with the roff markup taken out:
// escaped dashes become dashes, font changes and the macro names at line starts go.
std::string manSection(const std::string& page, const std::string& name)
{
    const std::string heading = ".SH " + name + "\n";
    const auto start = page.find(heading);
    if (start == std::string::npos)
        return {};
    const auto bodyStart = start + heading.size();
    const auto end = page.find("\n.SH ", bodyStart);
    std::string body = page.substr(bodyStart, end == std::string::npos ? end : end - bodyStart);
    body = std::regex_replace(body, std::regex(R"(\\-)"), "-");
    body = std::regex_replace(body, std::regex(R"(\\f[BIRP])"), "");
    return std::regex_replace(body, std::regex(R"((^|\n)\.[A-Z]+ ?)"), "$1");
}

// Every word that is an option: a dash or two and a name, standing on its own, so "Ctrl-C" or
// "8-bit" are not taken and "--gain=80" counts as "--gain".
std::set<std::string> optionsIn(const std::string& text)
{
    const std::regex option(R"((?:^|[\s\[(,|])(--?[a-zA-Z][a-zA-Z-]*))");
    std::set<std::string> found;
    for (std::sregex_iterator match(text.begin(), text.end(), option), end; match != end; ++match)
        found.insert((*match)[1]);
    return found;
}

std::set<std::string> numbersIn(const std::string& text)
{
    const std::regex number(R"(\b\d+\b)");
    std::set<std::string> found;
    for (std::sregex_iterator match(text.begin(), text.end(), number), end; match != end; ++match)
        found.insert(match->str());
    return found;
}

} // namespace

TEST(ManPage, DescribesExactlyTheOptionsThatHelpShows)
{
    const std::string options = manSection(readManPage(), "OPTIONS");
    ASSERT_FALSE(options.empty()) << "no OPTIONS section in " << LUMIVOX_CLI_MAN_PAGE;

    const auto fromHelp = optionsIn(lumivox::cli::usageText());
    const auto fromManPage = optionsIn(options);
    EXPECT_GE(fromHelp.size(), 8U); // a sanity check on the parsing itself
    for (const auto& option : fromHelp)
        EXPECT_TRUE(fromManPage.contains(option)) << option << " is in --help, not in the man page";
    for (const auto& option : fromManPage)
        EXPECT_TRUE(fromHelp.contains(option)) << option << " is in the man page, not in --help";
}

TEST(ManPage, ExplainsEveryExitStatusThatHelpNames)
{
    const std::string help = lumivox::cli::usageText();
    const auto statusStart = help.find("Exit status:");
    ASSERT_NE(statusStart, std::string::npos);
    const auto fromHelp = numbersIn(help.substr(statusStart));
    EXPECT_TRUE(fromHelp.contains("130"));

    const auto fromManPage = numbersIn(manSection(readManPage(), "EXIT STATUS"));
    for (const auto& status : fromHelp)
        EXPECT_TRUE(fromManPage.contains(status))
            << "exit status " << status << " is not explained";
}
