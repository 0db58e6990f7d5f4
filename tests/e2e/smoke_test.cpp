#include <gtest/gtest.h>

#include "support/run_binary.h"

TEST(Smoke, EmptyCommandLineShowsUsage) {
    TempDir dir;
    RunResult result = runBinary({}, dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("A tool to view and manipulate d64 files."), std::string::npos);
}
