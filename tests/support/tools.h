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

// The Python that has jsonschema: the first on the PATH, else Debian's own
// (python3-jsonschema installs for it); empty when neither has it.
inline std::string pythonWithJsonschema() {
    for (const char *python : {"python3", "/usr/bin/python3"})
        if (toolWorks(std::string(python) + " -c 'import jsonschema'")) return python;
    return "";
}

// What tests/support/check_json_lines.py says of the JSON Lines file at
// `linesPath` against doc/kestrel-json.schema.json, with `valid` set when
// every line is valid.
inline std::string jsonLinesVerdict(const std::string &schemaPath, const std::string &checkerPath,
                                    const std::string &linesPath, bool &valid) {
    int status = -1;
    std::string verdict =
        shellOutput(pythonWithJsonschema() + " " + checkerPath + " " + schemaPath + " " + linesPath, &status);
    valid = status == 0;
    return verdict;
}
