// Small file helpers of the staged file operations: temporary files beside a target and
// whole-file replacement.
#pragma once

#include <sys/types.h>

#include <string>

// The process umask, read without changing it.
mode_t currentUmask();
// Makes a new temporary file in the directory of target (mkstemp); returns its
// descriptor and sets name, or -1 with errno set.
int makeTemporaryBeside(const std::string& target, std::string& name);
// Writes all of data to fd, repeating interrupted and short writes. False on failure.
bool writeAll(int fd, const char* data, size_t size);
// Replaces file with text: a temporary file beside it is written, flushed and renamed
// onto it, so file is either the old one or the complete new one. False (and file
// unchanged) when any step fails.
bool replaceFileContents(const std::string& file, const std::string& text);
