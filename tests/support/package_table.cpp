// Test support: package records and sets from their compact text form.
#include "support/package_table.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include <gtest/gtest.h>

namespace {

std::vector<Dependency> parseList(const std::string& text) {
    std::vector<Dependency> list;
    for (const std::string& entry : fields(text, ','))
        list.push_back(parseDependency(entry));
    return list;
}

void addMembers(Package& bundle, const std::string& text) {
    bundle.isBundle = true;
    for (const std::string& member : fields(text, ',')) {
        size_t at = member.find('@');
        bundle.contents.push_back(std::make_unique<Package>(
            member.substr(0, at),
            parseVersion(at == std::string::npos ? "1.0" : member.substr(at + 1))));
    }
}

// Tokens that only an installed record has go to installed (null for other records).
void parseInto(Package& package, InstalledPackage* installed, const std::string& text) {
    std::vector<std::string> tokens = fields(text, ' ');
    package.name = tokens.empty() || tokens[0] == "-" ? std::string() : tokens[0];
    package.version = parseVersion("1.0");
    static const std::map<std::string, ScheduledAction> actions = {
        {"uninstall", ScheduledAction::Uninstall},
        {"enable", ScheduledAction::Enable},
        {"disable", ScheduledAction::Disable}};
    for (size_t i = 1; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        std::string key = token.substr(0, token.find('='));
        std::string value = token.substr(token.find('=') + 1);
        if (token == "placeholder")
            package.version = package.buildTime = 0xFFFFFFFF;
        else if (isdigit(static_cast<unsigned char>(token[0])))
            package.version = parseVersion(token);
        else if (key == "built")
            package.buildTime = uint32_t(strtoul(value.c_str(), nullptr, 10));
        else if (token == "isbundle")
            package.isBundle = true;
        else if (key == "arch")
            package.arch = value;
        else if (key == "deps")
            package.deps = parseList(value);
        else if (key == "provides")
            package.provides = parseList(value);
        else if (key == "conflicts")
            package.conflicts = parseList(value);
        else if (key == "members")
            addMembers(package, value);
        else if (installed && token == "disabled")
            installed->disabled = true;
        else if (installed && token == "user")
            installed->userForced = true;
        else if (installed && actions.count(token))
            installed->action = actions.at(token);
        else if (installed && key == "bundle")
            installed->bundle.name = value;
        else if (installed && key == "files")
            for (const std::string& path : fields(value, ','))
                installed->files.insert(path);
        else
            ADD_FAILURE() << "unknown token " << token;
    }
}

}  // namespace

std::vector<std::string> fields(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        size_t first = part.find_first_not_of(" \n");
        if (first != std::string::npos)
            parts.push_back(part.substr(first, part.find_last_not_of(" \n") + 1 - first));
    }
    return parts;
}

Version parseVersion(const std::string& text) {
    char* rest = nullptr;
    Version major = strtoul(text.c_str(), &rest, 10);
    Version minor = *rest == '.' ? strtoul(rest + 1, &rest, 10) : 0;
    Version kind = 'f';
    for (const char* word : {"alpha", "beta", "rc"}) {
        if (strncmp(rest, word, strlen(word)) == 0) {
            kind = word[0] == 'r' ? 'c' : word[0];
            rest += strlen(word);
        }
    }
    Version build = strtoul(rest + (*rest == '.' ? 1 : 0), nullptr, 10);
    return major << 24 | minor << 16 | kind << 8 | build;
}

Dependency parseDependency(const std::string& text) {
    Dependency dependency;
    size_t colon = text.find(':');
    if (colon != std::string::npos)
        dependency.priority = int32_t(strtol(text.c_str() + colon + 1, nullptr, 10));
    std::string rest = text.substr(0, colon);
    size_t at = rest.find('@');
    dependency.name = rest.substr(0, at);
    if (at == std::string::npos)
        return dependency;
    std::string range = rest.substr(at + 1);
    size_t dots = range.find("..");
    if (dots != 0)
        dependency.min = parseVersion(range.substr(0, dots));
    if (dots != std::string::npos && dots + 2 < range.size())
        dependency.max = parseVersion(range.substr(dots + 2));
    return dependency;
}

std::unique_ptr<InstalledPackage> parseInstalled(const std::string& text) {
    auto package = std::make_unique<InstalledPackage>();
    parseInto(*package, package.get(), text);
    return package;
}

std::unique_ptr<CandidatePackage> parseCandidate(const std::string& text) {
    auto package = std::make_unique<CandidatePackage>();
    parseInto(*package, nullptr, text);
    return package;
}

void addPackages(PackageSet& set, const std::string& records) {
    for (const std::string& record : fields(records, ';'))
        set.packages.push_back(parseInstalled(record));
}

std::string describeSet(const PackageSet& set) {
    std::string text;
    for (const auto& package : set.packages) {
        text += (text.empty() ? "" : " ") + package->name;
        if (package->disabled)
            text += ":disabled";
        if (package->action != ScheduledAction::None)
            text += std::string(":") + actionWord(package->action);
    }
    return text;
}

std::string logText(const PackageSet& set) {
    std::string text;
    for (const std::string& line : set.log)
        text += (text.empty() ? "" : ";") + line;
    return text;
}
