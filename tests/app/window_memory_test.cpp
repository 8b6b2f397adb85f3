#include "main_window.h"
#include "window_memory.h"

#include <QScreen>
#include <functional>
#include <gtest/gtest.h>

namespace lumivox::app {
namespace {

    // A remembered size and the size the window must open at, both from the screen's available
    // area and the window's minimum size.
    struct RememberedSizeCase {
        const char* name;
        std::function<QSize(QSize available, QSize minimum)> remembered;
        std::function<QSize(QSize available, QSize minimum)> opened;
    };

    const RememberedSizeCase rememberedSizes[] = {
        { "FromAHandEditedSettingsFile", [](QSize, QSize) { return QSize(100000, 100000); },
            [](QSize available, QSize minimum) { return available.expandedTo(minimum); } },
        { "FromABiggerMonitor", [](QSize available, QSize) { return available + QSize(600, 400); },
            [](QSize available, QSize minimum) { return available.expandedTo(minimum); } },
        { "TallerThanTheScreenOnly",
            [](QSize available, QSize minimum) {
                return QSize(minimum.width() + 10, available.height() + 300);
            },
            [](QSize available, QSize minimum) {
                return QSize(minimum.width() + 10, std::max(available.height(), minimum.height()));
            } },
        { "SmallerThanTheMinimum", [](QSize, QSize minimum) { return minimum - QSize(40, 30); },
            [](QSize, QSize minimum) { return minimum; } },
    };

    class WindowMemorySize : public testing::TestWithParam<RememberedSizeCase> {
    protected:
        void TearDown() override { rememberWindowSize(QSize()); }
    };

    TEST_P(WindowMemorySize, OpensWithinTheScreenAndNoSmallerThanTheMinimum)
    {
        QSize available;
        QSize minimum;
        {
            const MainWindow probe;
            ASSERT_NE(probe.screen(), nullptr);
            available = probe.screen()->availableGeometry().size();
            minimum = probe.minimumSize();
        }
        ASSERT_FALSE(available.isEmpty());
        rememberWindowSize(GetParam().remembered(available, minimum));
        const MainWindow window;
        EXPECT_EQ(window.size(), GetParam().opened(available, minimum));
    }

    INSTANTIATE_TEST_SUITE_P(Sizes, WindowMemorySize, testing::ValuesIn(rememberedSizes),
        [](const testing::TestParamInfo<RememberedSizeCase>& size) {
            return std::string(size.param.name);
        });

    TEST(WindowMemoryFit, ASizeThatFitsIsKeptAsItWas)
    {
        const QSize kept(700, 500);
        EXPECT_EQ(fittedWindowSize(kept, QSize(600, 400), QSize(1400, 1000)), kept);
        EXPECT_EQ(fittedWindowSize(kept, QSize(600, 400), QSize()), kept);
    }

} // namespace
} // namespace lumivox::app
