// Questions about a path, asked of the file system. A link at the last name of the path
// counts as itself unless Follow::Yes is given.
#pragma once

#include <string>

enum class Follow { No, Yes };

bool exists(const std::string& path, Follow follow = Follow::No);
bool isRegularFile(const std::string& path, Follow follow = Follow::No);
bool isFolder(const std::string& path, Follow follow = Follow::No);
