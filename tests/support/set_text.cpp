// Test support: package records and sets from their compact text form.
#include "support/set_text.h"

#include <map>
#include <regex>

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

// Tokens that only an installed record has are refused for other records.
void parseInto(Package& package, const std::string& text) {
    auto* installed = dynamic_cast<InstalledPackage*>(&package);
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
            package.buildTime = uint32_t(std::stoul(value));
        else if (token == "isbundle")
            package.isBundle = true;
        else if (token == "boot")
            package.flags |= FlagBootImage;
        else if (key == "arch")
            package.arch = value;
        else if (key == "deps" || key == "provides" || key == "conflicts")
            (key == "deps"       ? package.deps
             : key == "provides" ? package.provides
                                 : package.conflicts) = parseList(value);
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
    for (std::string part; std::getline(in, part, separator);) {
        size_t first = part.find_first_not_of(" \n");
        if (first != std::string::npos)
            parts.push_back(part.substr(first, part.find_last_not_of(" \n") + 1 - first));
    }
    return parts;
}

Version parseVersion(const std::string& text) {
    static const std::regex form(R"((\d+)(?:\.(\d+))?(alpha|beta|rc)?\.?(\d*))");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, form)) << "bad version " << text;
    auto number = [&](int i) { return Version(strtoul(m.str(i).c_str(), nullptr, 10)); };
    Version kind = !m[3].matched ? 'f' : m.str(3) == "rc" ? 'c' : m.str(3)[0];
    return number(1) << 24 | number(2) << 16 | kind << 8 | number(4);
}

Dependency parseDependency(const std::string& text) {
    static const std::regex form(R"(([^@:]*)(?:@(.*?)(?:\.\.(.*?))?)?(?::(-?\d+))?)");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, form)) << "bad entry " << text;
    Dependency dependency{m.str(1)};
    if (m.length(2) > 0)
        dependency.min = parseVersion(m.str(2));
    if (m.length(3) > 0)
        dependency.max = parseVersion(m.str(3));
    if (m[4].matched)
        dependency.priority = int32_t(std::stol(m.str(4)));
    return dependency;
}

std::unique_ptr<CandidatePackage> parseCandidate(const std::string& text) {
    auto package = std::make_unique<CandidatePackage>();
    parseInto(*package, text);
    return package;
}

void addPackages(PackageSet& set, const std::string& records) {
    for (const std::string& record : fields(records, ';')) {
        set.packages.push_back(std::make_unique<InstalledPackage>());
        parseInto(*set.packages.back(), record);
    }
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
