// The table of installed packages that "--show" prints.
#include "driver/package_table.h"

#include <cstdio>
#include <iomanip>

#include "pkg/package_set.h"

namespace {

const char* const MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct CivilDate {
    uint32_t year;
    unsigned month;  // 1..12
    unsigned day;    // 1..31
};

// The proleptic Gregorian date of a day count since 1970-01-01. Done by hand so that build
// times past 2038 convert also where time_t has 32 bits.
CivilDate dateOfDay(uint64_t days) {
    uint64_t shifted = days + 719468;  // days since 0000-03-01
    uint64_t era = shifted / 146097;
    uint64_t dayOfEra = shifted - era * 146097;
    uint64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    CivilDate date;
    date.day = unsigned(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    date.month = unsigned(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    date.year = uint32_t(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

void printField(std::ostream& out, const std::string& text, int width) {
    out << std::setw(width) << text;
}

void printHeader(std::ostream& out) {
    printField(out, "Name", 16);
    printField(out, "    ", 0);
    printField(out, "Version", 13);
    printField(out, " ", 0);
    printField(out, "Built", 20);
    printField(out, "Note", 40);
    out << std::endl;
    out << std::string(94, '-') << std::endl;
}

void printRow(std::ostream& out, const InstalledPackage& package) {
    printField(out, package.name, 16);
    printField(out, " ", 0);
    printField(out, package.disabled ? "X" : " ", 1);
    printField(out, package.bundle.name.empty() ? "  " : "B ", 2);
    printField(out, versionText(package.version), 13);
    printField(out, " ", 0);
    printField(out, buildTimeText(package.buildTime), 20);
    printField(out, " ", 0);
    printField(out, package.note, 40);
    out << std::endl;
}

}  // namespace

std::string buildTimeText(uint32_t buildTime) {
    CivilDate date = dateOfDay(buildTime / 86400);
    unsigned secondOfDay = buildTime % 86400;
    char text[128];
    snprintf(text, sizeof text, "%s/%02u/%u %02u:%02u:%02u", MonthNames[date.month - 1], date.day,
             unsigned(date.year), secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return text;
}

void printPackageTable(const PackageSet& set, std::ostream& out) {
    printHeader(out);
    for (const auto& package : set.packages)
        printRow(out, *package);
}
