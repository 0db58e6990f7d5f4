#include "support/shell.h"

#include <cstdio>

std::string shellOutput(const std::string &command, int *status) {
    std::string out;
    if (status) *status = -1;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    int result = pclose(pipe);
    if (status) *status = result;
    return out;
}

std::string shellWord(const std::string &text) {
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

bool haveProgram(const char *name) {
    int status = -1;
    shellOutput(std::string("command -v ") + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(text.substr(from, at - from));
    if (from < text.size()) lines.push_back(text.substr(from));
    return lines;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }
