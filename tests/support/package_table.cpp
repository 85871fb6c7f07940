// Test support: package records and sets from their compact text form.
#include "support/package_table.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

std::vector<Dependency> parseList(const std::string& text) {
    std::vector<Dependency> list;
    for (const std::string& entry : split(text, ','))
        list.push_back(parseDependency(entry));
    return list;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void applyInstalledToken(InstalledPackage& package, const std::string& token) {
    if (token == "disabled")
        package.disabled = true;
    else if (token == "user")
        package.userForced = true;
    else if (token == "uninstall")
        package.action = ScheduledAction::Uninstall;
    else if (token == "enable")
        package.action = ScheduledAction::Enable;
    else if (token == "disable")
        package.action = ScheduledAction::Disable;
    else if (startsWith(token, "bundle="))
        package.bundle.name = token.substr(7);
    else if (startsWith(token, "files="))
        for (const std::string& path : split(token.substr(6), ','))
            package.files.insert(path);
    else
        ADD_FAILURE() << "unknown token " << token;
}

// Fills package from a line; tokens only an installed record has go to installed.
void parseInto(Package& package, InstalledPackage* installed, const std::string& line) {
    std::vector<std::string> tokens = split(line, ' ');
    if (tokens.empty()) {
        ADD_FAILURE() << "empty package line";
        return;
    }
    package.name = tokens[0] == "-" ? std::string() : tokens[0];
    package.version = parseVersion("1.0");
    for (size_t i = 1; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (token == "placeholder") {
            package.version = 0xFFFFFFFF;
            package.buildTime = 0xFFFFFFFF;
        } else if (isdigit(static_cast<unsigned char>(token[0]))) {
            package.version = parseVersion(token);
        } else if (startsWith(token, "built=")) {
            package.buildTime = uint32_t(strtoul(token.c_str() + 6, nullptr, 10));
        } else if (token == "isbundle") {
            package.isBundle = true;
        } else if (startsWith(token, "arch=")) {
            package.arch = token.substr(5);
        } else if (startsWith(token, "deps=")) {
            package.deps = parseList(token.substr(5));
        } else if (startsWith(token, "provides=")) {
            package.provides = parseList(token.substr(9));
        } else if (startsWith(token, "conflicts=")) {
            package.conflicts = parseList(token.substr(10));
        } else if (startsWith(token, "members=")) {
            package.isBundle = true;
            for (const std::string& member : split(token.substr(8), ',')) {
                size_t at = member.find('@');
                auto record = std::make_unique<Package>(member.substr(0, at));
                record->version =
                    parseVersion(at == std::string::npos ? "1.0" : member.substr(at + 1));
                package.contents.push_back(std::move(record));
            }
        } else if (installed) {
            applyInstalledToken(*installed, token);
        } else {
            ADD_FAILURE() << "unknown token " << token;
        }
    }
}

}  // namespace

Version parseVersion(const std::string& text) {
    unsigned major = 0, minor = 0, build = 0;
    char kind = 'f';
    const char* p = text.c_str();
    char* end = nullptr;
    major = unsigned(strtoul(p, &end, 10));
    if (*end == '.')
        minor = unsigned(strtoul(end + 1, &end, 10));
    std::string rest = end;
    for (const auto& [word, letter] :
         {std::pair<const char*, char>{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}}) {
        if (startsWith(rest, word)) {
            kind = letter;
            rest = rest.substr(strlen(word));
        }
    }
    if (!rest.empty())
        build = unsigned(strtoul(rest.c_str() + (rest[0] == '.' ? 1 : 0), nullptr, 10));
    return Version(major) << 24 | Version(minor) << 16 | Version(uint8_t(kind)) << 8 | build;
}

Dependency parseDependency(const std::string& text) {
    Dependency dependency;
    std::string rest = text;
    size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        dependency.priority = int32_t(strtol(rest.c_str() + colon + 1, nullptr, 10));
        rest.resize(colon);
    }
    size_t at = rest.find('@');
    dependency.name = rest.substr(0, at);
    if (at == std::string::npos)
        return dependency;
    std::string range = rest.substr(at + 1);
    size_t dots = range.find("..");
    std::string low = range.substr(0, dots);
    std::string high = dots == std::string::npos ? std::string() : range.substr(dots + 2);
    if (!low.empty())
        dependency.min = parseVersion(low);
    if (!high.empty())
        dependency.max = parseVersion(high);
    return dependency;
}

std::unique_ptr<InstalledPackage> parseInstalled(const std::string& line) {
    auto package = std::make_unique<InstalledPackage>();
    parseInto(*package, package.get(), line);
    return package;
}

std::unique_ptr<CandidatePackage> parseCandidate(const std::string& line) {
    auto package = std::make_unique<CandidatePackage>();
    parseInto(*package, nullptr, line);
    return package;
}

void addPackages(PackageSet& set, const std::string& lines) {
    for (const std::string& line : split(lines, '\n'))
        set.packages.push_back(parseInstalled(line));
}

std::string describeSet(const PackageSet& set) {
    std::string text;
    for (const auto& package : set.packages) {
        if (!text.empty())
            text += ' ';
        text += package->name;
        if (package->disabled)
            text += ":disabled";
        if (package->action != ScheduledAction::None)
            text += std::string(":") + actionWord(package->action);
    }
    return text;
}

std::string namesOf(const std::vector<const Package*>& packages) {
    std::string text;
    for (const Package* package : packages) {
        if (!text.empty())
            text += ' ';
        text += package->name;
    }
    return text;
}

std::string logText(const PackageSet& set) {
    std::string text;
    for (const std::string& line : set.log)
        text += line + "\n";
    return text;
}
