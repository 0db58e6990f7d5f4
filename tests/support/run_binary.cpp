#include "support/run_binary.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

void drainPipes(int inFd, const std::string &input, int outFd, int errFd, RunResult &result) {
    size_t written = 0;
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    char buffer[65536];
    while (outFd >= 0 || errFd >= 0) {
        struct pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
        poll(fds, 3, -1);
        if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = write(inFd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 || written == input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
        int *fdsToRead[2] = {&outFd, &errFd};
        std::string *targets[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (*fdsToRead[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(*fdsToRead[i], buffer, sizeof buffer);
            if (n > 0) {
                targets[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(*fdsToRead[i]);
                *fdsToRead[i] = -1;
            }
        }
    }
    if (inFd >= 0) close(inFd);
}

}  // namespace

std::string kestrelBinary() {
    const char *override = std::getenv("KESTREL_TEST_BINARY");
    return override && *override ? override : KESTREL_BINARY;
}

RunResult runBinary(const std::vector<std::string> &args, const std::string &cwd, const std::string &input,
                    unsigned timeoutSeconds) {
    // With a standard stream closed (CI may start us without standard input),
    // a pipe would take its number and the child would lose it again.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(125);
        std::vector<char *> argv;
        std::string binary = kestrelBinary();
        argv.push_back(binary.data());
        std::vector<std::string> copies = args;
        for (auto &arg : copies) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (timeoutSeconds > 0) alarm(timeoutSeconds);  // the timer survives execv
        execv(binary.c_str(), argv.data());
        _exit(126);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    signal(SIGPIPE, SIG_IGN);
    RunResult result{-1, "", ""};
    drainPipes(inPipe[1], input, outPipe[0], errPipe[0], result);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> listFolder(const std::string &path) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string sourcePath(const std::string &relative) { return std::string(KESTREL_SOURCE_DIR) + "/" + relative; }
