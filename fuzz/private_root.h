// Fuzz support: every program linking fuzz_support starts, before main and so before any
// thread, in a fresh device root (flash/, flash/boot/, flash/var/pdb/, ram/,
// rw/pckg/.download/, tmp/) on a tmpfs of a mount namespace of its own, with /usr and /proc
// of the host visible read-only for the sanitizers. The working directory stays, so the
// fuzzer's relative paths (corpus, crash files) still name the host's files.
#pragma once

#include <initializer_list>
#include <set>
#include <string>

// Every path below the dirs (directories end in "/").
std::set<std::string> pathsBelow(std::initializer_list<const char*> dirs);
// Writes content to path (truncating), making its parent directories.
void writeWholeFile(const std::string& path, const std::string& content);
// Ends the process with a message on standard error; libFuzzer records the input.
[[noreturn]] void fuzzFailure(const std::string& what);
