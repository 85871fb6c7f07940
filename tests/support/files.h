// Test support: small file helpers on absolute paths, for code run inside a device root.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

inline void putFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    chmod(path.c_str(), mode);
}

inline std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool pathPresent(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline mode_t permissionsOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Fills the file system of dir: a file grows there until a write fails.
inline void fillFileSystem(const std::string& dir) {
    std::ofstream out(dir + "/filler", std::ios::binary);
    std::string block(4096, 'f');
    while (out.write(block.data(), block.size()) && out.flush()) {
    }
}

// The names in dir, without "." and "..".
inline std::set<std::string> directoryNames(const std::string& dir) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
        names.insert(entry.path().filename().string());
    return names;
}
