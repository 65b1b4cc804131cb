// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/channel_plan.h"

#include <gtest/gtest.h>

using namespace talvor;

namespace {

TEST(ChannelPlanTest, TenKilohertzPlanEntries) {
    EXPECT_EQ(ChannelPlan10[0], 0);
    EXPECT_EQ(ChannelPlan10[1], 520);
    EXPECT_EQ(ChannelPlan10[2], 530);
    EXPECT_EQ(ChannelPlan10[3], 550);
    EXPECT_EQ(ChannelPlan10[105], 1680);
    EXPECT_EQ(ChannelPlan10[106], 1690);
    EXPECT_EQ(ChannelPlan10[107], 1700);
    int expected = 1;
    for (int f = 520; f <= 1700; f += 10) {
        if (f % 90 == 0 && f != 1620) continue;
        ASSERT_LT(expected, 108);
        EXPECT_EQ(ChannelPlan10[expected], f) << "entry " << expected;
        ++expected;
    }
    EXPECT_EQ(expected, 108);
}

TEST(ChannelPlanTest, NineKilohertzPlanEntries) {
    EXPECT_EQ(ChannelPlan9[0], 0);
    EXPECT_EQ(ChannelPlan9[1], 531);
    EXPECT_EQ(ChannelPlan9[2], 549);
    EXPECT_EQ(ChannelPlan9[3], 558);
    EXPECT_EQ(ChannelPlan9[115], 1674);
    EXPECT_EQ(ChannelPlan9[118], 1701);
    int expected = 1;
    for (int f = 531; f <= 1701; f += 9) {
        if (f % 90 == 0) continue;
        ASSERT_LT(expected, 119);
        EXPECT_EQ(ChannelPlan9[expected], f) << "entry " << expected;
        ++expected;
    }
    EXPECT_EQ(expected, 119);
}

TEST(ChannelPlanTest, SpacingChoosesRange) {
    struct Case {
        int spacing;
        const int* plan;
        int first, last;
    };
    const Case cases[] = {{10, ChannelPlan10, 2, 105},
                          {9, ChannelPlan9, 3, 115},
                          {0, ChannelPlan9, 3, 115},
                          {-10, ChannelPlan9, 3, 115}};
    for (const Case& c : cases) {
        ChannelRange range = ChooseChannelRange(c.spacing);
        EXPECT_EQ(range.plan, c.plan) << c.spacing;
        EXPECT_EQ(range.first, c.first) << c.spacing;
        EXPECT_EQ(range.last, c.last) << c.spacing;
    }
}
}  // namespace
