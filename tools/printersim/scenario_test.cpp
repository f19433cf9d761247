#include <gtest/gtest.h>

#include "tools/printersim/scenario.h"

namespace printersim {
namespace {

TEST(Scenario, ValuesRunOutToTheLastAndReloadStartsAgain) {
    Scenario s;
    s.Parse("# link drops once\nRequestStatus = 0 -1 0\nPrintLabel=4 0   # retry\n"
            "delay TestSram 250\nfault Feed\nbogus line\n");
    EXPECT_EQ(s.Next("RequestStatus"), 0);
    EXPECT_EQ(s.Next("RequestStatus"), -1);
    EXPECT_EQ(s.Next("RequestStatus"), 0);
    EXPECT_EQ(s.Next("RequestStatus"), 0);
    EXPECT_EQ(s.Next("PrintLabel"), 4);
    EXPECT_EQ(s.Next("PrintLabel"), 0);
    EXPECT_EQ(s.Next("Status"), 0);  // unscripted
    EXPECT_EQ(s.DelayMs("TestSram"), 250u);
    EXPECT_EQ(s.DelayMs("Feed"), 0u);
    EXPECT_TRUE(s.Faults("Feed"));

    s.Parse("RequestStatus = -1\n");
    EXPECT_EQ(s.Next("RequestStatus"), -1);
    EXPECT_FALSE(s.Faults("Feed"));
}

}  // namespace
}  // namespace printersim
