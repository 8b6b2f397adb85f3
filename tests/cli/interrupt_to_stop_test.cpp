#include "interrupt_to_stop.h"

#include <csignal>
#include <gtest/gtest.h>

using lumivox::cli::InterruptToStop;

TEST(InterruptToStop, InterruptRaisesTheStopFlag)
{
    std::atomic<bool> stopRequested { false };
    const InterruptToStop guard(stopRequested);
    EXPECT_FALSE(guard.interrupted());
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_TRUE(stopRequested.load());
    EXPECT_TRUE(guard.interrupted());
}

TEST(InterruptToStop, ThePreviousHandlerReturnsAfterwards)
{
    struct sigaction before { };
    ASSERT_EQ(sigaction(SIGINT, nullptr, &before), 0);
    {
        std::atomic<bool> stopRequested { false };
        const InterruptToStop guard(stopRequested);
        struct sigaction during { };
        ASSERT_EQ(sigaction(SIGINT, nullptr, &during), 0);
        EXPECT_NE(during.sa_handler, before.sa_handler);
    }
    struct sigaction after { };
    ASSERT_EQ(sigaction(SIGINT, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}
