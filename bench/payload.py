#!/usr/bin/env python3
# Payloads of the benchmarks, the same on every run of one machine.
#
# usage: payload.py files DEST [MIB]   real files from /usr/share and /usr/lib, copied
#                                      below DEST with their paths, until MIB (default 40)
#                                      are reached; prints "FILES BYTES"
#        payload.py small DEST [COUNT] COUNT (default 2000) files of 3 to 8 KiB from
#                                      /usr/share, copied the same way; prints "FILES BYTES"
#        payload.py changed FROM DEST  the tree FROM again below DEST, every file changed
#                                      in its last bytes (at most 16, the size kept): the
#                                      next version of a package, whose upgrade has to
#                                      write every file anew
#        payload.py check DIR EXPECTED the regular files below DIR are those below
#                                      EXPECTED, of the same sizes and with the same last
#                                      4 KiB (where the versions differ); exit status 1
#                                      otherwise
#        payload.py blob FILE MIB      MIB of incompressible bytes from a fixed seed
import hashlib
import os
import random
import re
import shutil
import stat
import sys

SOURCES = ("/usr/share", "/usr/lib")
# Names a package entry and a manifest line can hold, and tar, dpkg and apk take as they
# are.
PLAIN_PATH = re.compile(r"^[A-Za-z0-9._+/@-]+$")
LARGEST_FILE = 8 << 20
SMALL_FILES = (3 << 10, 8 << 10)
CHANGED_TAIL = 16
CHECKED_TAIL = 4096


def candidates(sources=SOURCES, smallest=1, largest=LARGEST_FILE):
    found = []
    for top in sources:
        for directory, subdirectories, names in os.walk(top):
            subdirectories.sort()
            for name in names:
                path = os.path.join(directory, name)
                if not PLAIN_PATH.match(path):
                    continue
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                if stat.S_ISREG(st.st_mode) and smallest <= st.st_size <= largest and \
                        os.access(path, os.R_OK):
                    found.append(path)
    # An order by a digest of the path is a spread over both trees that does not depend
    # on the order of directory reading.
    found.sort(key=lambda path: hashlib.sha1(path.encode()).digest())
    return found


def copy_one(path, destination):
    target = destination + path
    os.makedirs(os.path.dirname(target), exist_ok=True)
    try:
        shutil.copyfile(path, target)
    except OSError:
        return 0
    os.chmod(target, 0o644)
    return os.path.getsize(target)


def copy_until(destination, paths, enough):
    """Copies paths until enough(count, total) holds; prints the count and total size."""
    count = total = 0
    for path in paths:
        if enough(count, total):
            break
        size = copy_one(path, destination)
        if size:
            count += 1
            total += size
    print(count, total)


def copy_files(destination, mebibytes):
    copy_until(destination, candidates(), lambda count, total: total >= mebibytes << 20)


def copy_small_files(destination, wanted):
    copy_until(destination, candidates(("/usr/share",), *SMALL_FILES),
               lambda count, total: count >= wanted)


def regular_files(top):
    """Paths of the regular files below top, relative to it."""
    found = []
    for directory, _, names in os.walk(top):
        for name in names:
            path = os.path.join(directory, name)
            if stat.S_ISREG(os.lstat(path).st_mode):
                found.append(os.path.relpath(path, top))
    return found


def write_changed(source, destination):
    for relative in regular_files(source):
        with open(os.path.join(source, relative), "rb") as f:
            data = bytearray(f.read())
        for i in range(max(0, len(data) - CHANGED_TAIL), len(data)):
            data[i] ^= 0x5A
        target = os.path.join(destination, relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        os.chmod(target, 0o644)


def tail(path):
    with open(path, "rb") as f:
        size = os.fstat(f.fileno()).st_size
        f.seek(max(0, size - CHECKED_TAIL))
        return size, f.read()


def check(directory, expected):
    wanted = regular_files(expected)
    present = regular_files(directory)
    if len(present) != len(wanted):
        sys.exit(f"{directory}: {len(present)} files, not {len(wanted)}")
    for relative in wanted:
        try:
            found = tail(os.path.join(directory, relative))
        except OSError:
            sys.exit(f"{directory}: {relative} missing")
        if found != tail(os.path.join(expected, relative)):
            sys.exit(f"{directory}: {relative} differs")


def write_blob(path, mebibytes):
    generator = random.Random(20240611)
    with open(path, "wb") as out:
        for _ in range(mebibytes):
            out.write(generator.randbytes(1 << 20))


def main():
    args = sys.argv[1:]
    if len(args) in (2, 3) and args[0] == "files":
        copy_files(args[1], int(args[2]) if len(args) > 2 else 40)
    elif len(args) in (2, 3) and args[0] == "small":
        copy_small_files(args[1], int(args[2]) if len(args) > 2 else 2000)
    elif len(args) == 3 and args[0] == "changed":
        write_changed(args[1], args[2])
    elif len(args) == 3 and args[0] == "check":
        check(args[1], args[2])
    elif len(args) == 3 and args[0] == "blob":
        write_blob(args[1], int(args[2]))
    else:
        sys.exit("usage: payload.py files DEST [MIB] | small DEST [COUNT] | "
                 "changed FROM DEST | check DIR EXPECTED | blob FILE MIB")


if __name__ == "__main__":
    main()
