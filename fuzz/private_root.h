// Fuzz support: a private device root for targets whose code works on /flash, /ram and
// /rw, and small helpers on its files.
#pragma once

#include <cstdint>
#include <set>
#include <string>

// Enters a fresh, empty device root (flash/, flash/boot/, flash/var/pdb/, ram/,
// rw/pckg/.download/, tmp/) on a tmpfs in a mount namespace of this process alone, with
// /usr and /proc of the host visible read-only for the sanitizers. The working directory
// stays where it was, so the fuzzer's relative paths (corpus, crash files) still name
// the host's files. Call once, from LLVMFuzzerInitialize, before any thread starts;
// aborts when the root can't be made. Everything in it vanishes when the process ends.
void enterPrivateRoot();

// Every path below dir (absolute; directories end in "/"), for comparing the tree before
// and after an input.
std::set<std::string> pathsBelow(const std::string& dir);
// Removes everything below dir; dir itself stays.
void emptyDirectory(const std::string& dir);
// Writes content to path (truncating), making its parent directories.
void writeWholeFile(const std::string& path, const std::string& content);
// Ends the process with a message on standard error; libFuzzer records the input.
[[noreturn]] void fuzzFailure(const std::string& what);
