// Test helper: runs shell commands for their output and cuts text into lines.
// It does not run kestrel (run_binary.h does, with its own pipes) and does not
// drive tmux (tmux_session.h).
#pragma once

#include <string>
#include <vector>

// Standard output of `command` run by /bin/sh; its wait status lands in
// `status` (-1, with empty output, when the shell cannot be started).
std::string shellOutput(const std::string &command, int *status = nullptr);

// `text` as one single-quoted shell word, whatever bytes it holds.
std::string shellWord(const std::string &text);

// True when `name` is a program found on the PATH.
bool haveProgram(const char *name);

// The lines of `text` without their '\n'; a last line without one counts too,
// so "" gives no line and "a\n\nb" three.
std::vector<std::string> splitLines(const std::string &text);

// True when `part` stands anywhere in `text`.
bool contains(const std::string &text, const std::string &part);
