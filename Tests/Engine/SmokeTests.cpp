#include "ProcessUtil.h"

#include <gtest/gtest.h>

using namespace trevlin;

TEST(ProcessUtil, ListsItself) {
    auto pids = allPids();
    EXPECT_NE(std::find(pids.begin(), pids.end(), myPid()), pids.end());
}
