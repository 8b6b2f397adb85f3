#include "progress_bar.h"

#include <gtest/gtest.h>
#include <sstream>

using lumivox::cli::ProgressBar;

TEST(ProgressBar, RedrawsOnlyWhenThePercentageChanges)
{
    std::ostringstream terminal;
    ProgressBar bar(terminal);
    bar.show(3);
    const std::string once = terminal.str();
    bar.show(3);
    EXPECT_EQ(terminal.str(), once);
    bar.show(4);
    EXPECT_GT(terminal.str().size(), once.size());
}

TEST(ProgressBar, DrawsInPlaceWithTheFullBarAtHundred)
{
    std::ostringstream terminal;
    ProgressBar bar(terminal);
    bar.show(0);
    bar.show(100);
    const std::string text = terminal.str();
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const auto lastDraw = text.rfind('\r');
    ASSERT_NE(lastDraw, std::string::npos);
    EXPECT_EQ(text.substr(lastDraw), "\r[" + std::string(40, '#') + "] 100%");
    EXPECT_EQ(text.substr(0, lastDraw), "\r[" + std::string(40, '.') + "]   0%");
}

TEST(ProgressBar, ClampsPositionsOutsideTheRange)
{
    std::ostringstream terminal;
    ProgressBar bar(terminal);
    bar.show(250);
    EXPECT_EQ(bar.shownPercent(), 100);
    bar.show(-4);
    EXPECT_EQ(bar.shownPercent(), 0);
}

TEST(ProgressBar, FinishEndsTheLineOnceAndOnlyAfterADraw)
{
    std::ostringstream terminal;
    ProgressBar bar(terminal);
    bar.finish();
    EXPECT_EQ(terminal.str(), "");
    bar.show(50);
    bar.finish();
    bar.finish();
    const std::string text = terminal.str();
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1);
}
