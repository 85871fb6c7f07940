#!/bin/sh
# Prints the stripped size of a statically linked program and how its loaded sections
# split between the installer's own code and each library, read from the GNU ld link map.
# Usage: link-map-sizes.sh PROGRAM MAP [STRIP]
set -eu
program=$1
map=$2
strip=${3:-strip}

stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
"$strip" -o "$stripped" "$program"
size=$(wc -c <"$stripped")

awk -v total="$size" '
    function hex(text,    i, value) {
        value = 0
        text = tolower(substr(text, 3))
        for (i = 1; i <= length(text); i++)
            value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
        return value
    }
    function origin(file) {
        if (file ~ /installer_core|CMakeFiles\/installer\.dir/) return "installer"
        if (file ~ /libcrypto\.a/) return "libcrypto"
        if (file ~ /libz\.a/) return "zlib"
        if (file ~ /lib(std|sup)c\+\+/) return "libstdc++"
        if (file ~ /libgcc/) return "libgcc"
        if (file ~ /libatomic/) return "libatomic"
        if (file ~ /lib(c|m|pthread|dl|rt)\.a|crt[^\/]*\.o/) return "C library"
        return "other"
    }
    function count(fields, first,    bytes) {
        # An input section line: [name] address size file
        if (fields[first] !~ /^0x/ || fields[first + 1] !~ /^0x/ || fields[first + 2] == "")
            return
        if (!loaded) return
        bytes = hex(fields[first + 1])
        sum[origin(fields[first + 2])] += bytes
        all += bytes
    }
    /^Linker script and memory map/ { inMap = 1; next }
    !inMap { next }
    # An output section starts in the first column; only allocated sections with contents
    # are in the stripped file.
    /^[^ \t]/ {
        section = $1
        loaded = section ~ /^\./ && section !~ /^\.(t?s?bss|debug|comment|stab|gnu\.attributes|GCC)/
        next
    }
    /^ \*fill\*/ { if (loaded) { pad += hex($3); all += hex($3) } next }
    /^ [^ *]/ {
        n = split($0, f, " ")
        if (n >= 4) count(f, 2)
        next
    }
    /^  +0x/ {
        n = split($0, f, " ")
        if (n >= 3) count(f, 1)
    }
    END {
        printf "installer for the board: %d bytes stripped; its loaded sections (%d bytes):\n", total, all
        names[1] = "installer"; names[2] = "libcrypto"; names[3] = "zlib"; names[4] = "libstdc++"
        names[5] = "C library"; names[6] = "libgcc"; names[7] = "libatomic"; names[8] = "other"
        for (i = 1; i <= 8; i++)
            if (sum[names[i]] > 0)
                printf "  %-10s %8d bytes %5.1f%%\n", names[i], sum[names[i]], 100 * sum[names[i]] / all
        if (pad > 0)
            printf "  %-10s %8d bytes %5.1f%%\n", "padding", pad, 100 * pad / all
    }
' "$map"
