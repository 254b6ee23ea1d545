#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>

// Each test process keeps its store root, and with it the log, to itself: tests that run side
// by side neither share nor rotate away each other's lines.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const kv::test::TempDirectory dataHome;
    setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    return RUN_ALL_TESTS();
}
