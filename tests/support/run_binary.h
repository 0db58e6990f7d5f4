// Test helper: runs the built kestrel binary as a user would, in a folder of
// the test's own, and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    int status;       // exit status, or 128 + signal number
    std::string out;  // standard output
    std::string err;  // standard error
};

// The program the end-to-end tests run: KESTREL_TEST_BINARY when it is set
// (such as a script that starts kestrel.exe under Wine), else the kestrel built
// beside the tests.
std::string kestrelBinary();

// Runs kestrel with `args` in folder `cwd`, feeding `input` on standard input
// (closed afterwards). With timeoutSeconds > 0 a run that has not ended by then
// is killed by SIGALRM (status 128 + 14).
RunResult runBinary(const std::vector<std::string> &args, const std::string &cwd, const std::string &input = "",
                    unsigned timeoutSeconds = 0);

// A fresh empty folder under the system's temporary folder, removed with its
// contents when the test ends.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// Names of the files in a folder, sorted.
std::vector<std::string> listFolder(const std::string &path);

// A file of the source tree, by its path relative to the repository's top.
std::string sourcePath(const std::string &relative);
