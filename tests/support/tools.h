// Test helper: tests that need an outside tool (jq, python3 with jsonschema,
// cc1541 ...) skip themselves, naming it, when it is missing; in CI, where
// .ci/run installs every one of them, a missing tool fails the test instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/shell.h"

// True when the shell command `probe` succeeds.
inline bool toolWorks(const std::string &probe) {
    int status = -1;
    shellOutput(probe + " >/dev/null 2>&1", &status);
    return status == 0;
}

#define REQUIRE_TOOL(probe, what)                                                   \
    do {                                                                            \
        if (!toolWorks(probe)) {                                                    \
            if (std::getenv("CI")) FAIL() << (what) << " is missing in CI";         \
            GTEST_SKIP() << (what) << " is not installed";                          \
        }                                                                           \
    } while (0)
