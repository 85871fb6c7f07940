// pkgtool's commands and the helpers they share: option reading, the text forms of
// versions and list entries, whole-file input and output, and error reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pkg/package.h"

// Exit statuses: a failure of the work, and a command line that cannot be used.
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Each command takes the arguments after its name and returns the exit status.
int buildCommand(const std::vector<std::string>& args);
int bundleCommand(const std::vector<std::string>& args);
int infoCommand(const std::vector<std::string>& args);
int verifyCommand(const std::vector<std::string>& args);
int keygenCommand(const std::vector<std::string>& args);

// Prints "pkgtool: " and message as one line on standard error; returns status.
int fail(int status, const std::string& message);

// Walks a command's arguments: options ("--name VALUE", "--name=VALUE", "-o VALUE")
// and the operands between and after them ("--" ends the options).
class ArgumentReader {
  public:
    explicit ArgumentReader(const std::vector<std::string>& args) : args(args) {}

    // Moves to the next argument; false at the end. isOption tells which kind it is.
    bool next();
    bool isOption() const { return option; }
    // The option's name with its dashes, or the operand.
    const std::string& current() const { return text; }
    // The option's value (after "=" or the next argument). False when there is none.
    bool value(std::string& out);

  private:
    const std::vector<std::string>& args;
    size_t index = 0;
    bool optionsEnded = false;
    bool option = false;
    bool hasInlineValue = false;
    std::string text;
    std::string inlineValue;
};

// "6.40.5", "6.40", "6.41beta3", "6.41rc", "6.42alpha1", "7.0", or the packed number as
// "0x062E6608". False with a message in error otherwise.
bool parseVersion(const std::string& text, Version& version, std::string& error);
// A decimal or 0x-hexadecimal number up to max.
bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value);
// A package name: 1 to 16 bytes, no NUL.
bool checkPackageName(const std::string& name, std::string& error);
// NAME[:MIN[:MAX]] for dependencies and conflicts; NAME[:PRIORITY[:MIN[:MAX]]] for
// provides (withPriority). An empty MIN or MAX is no bound.
bool parseListEntry(const std::string& text, bool withPriority, Dependency& entry,
                    std::string& error);
// The text form of a list entry: "name", "name >= 6.40", "name 6.40..6.45", with the
// priority when withPriority.
std::string listEntryText(const Dependency& entry, bool withPriority);

// The header options that build and bundle share: --name, --version, --build-time,
// --flags, --arch and --note.
class HeaderOptions {
  public:
    static constexpr int NotHeaderOption = -1;
    // Takes option and its value into package: 0 when taken, an exit status when the
    // value is bad, NotHeaderOption when option is none of these.
    int take(const std::string& option, const std::string& value, Package& package);
    // After the last option: 0 when name and version were given (the build time then
    // defaults), else an exit status with usage as the message.
    int finish(Package& package, const std::string& usage);

  private:
    bool nameGiven = false, versionGiven = false, timeGiven = false;
};

// Build time: SOURCE_DATE_EPOCH when set, else now. False when SOURCE_DATE_EPOCH is set
// but no usable number.
bool defaultBuildTime(uint32_t& time, std::string& error);

bool readWholeFile(const std::string& path, std::string& content, std::string& error);
// Writes content to path through a temporary file beside it, so that a failed write
// leaves no half file under the name.
bool writeWholeFile(const std::string& path, const std::string& content, std::string& error,
                    unsigned mode = 0644);
