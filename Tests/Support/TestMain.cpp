#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // A test that signals its own children must never be stopped by a stray
    // SIGTTOU/SIGTTIN when run from a terminal.
    std::signal(SIGTTOU, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
