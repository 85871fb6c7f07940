#!/usr/bin/env python3
# Payloads of the benchmarks, the same on every run of one machine.
#
# usage: payload.py files DEST [MIB]   real files from /usr/share and /usr/lib, copied
#                                      below DEST with their paths, until MIB (default 40)
#                                      are reached; prints "FILES BYTES"
#        payload.py blob FILE MIB      MIB of incompressible bytes from a fixed seed
import hashlib
import os
import random
import re
import shutil
import stat
import sys

SOURCES = ("/usr/share", "/usr/lib")
# Names a package entry and a manifest line can hold, and tar and dpkg take as they are.
PLAIN_PATH = re.compile(r"^[A-Za-z0-9._+/@-]+$")
LARGEST_FILE = 8 << 20


def candidates():
    found = []
    for top in SOURCES:
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
                if stat.S_ISREG(st.st_mode) and 0 < st.st_size <= LARGEST_FILE and \
                        os.access(path, os.R_OK):
                    found.append(path)
    # An order by a digest of the path is a spread over both trees that does not depend
    # on the order of directory reading.
    found.sort(key=lambda path: hashlib.sha1(path.encode()).digest())
    return found


def copy_files(destination, mebibytes):
    budget = mebibytes << 20
    count = total = 0
    for path in candidates():
        if total >= budget:
            break
        target = destination + path
        os.makedirs(os.path.dirname(target), exist_ok=True)
        try:
            shutil.copyfile(path, target)
        except OSError:
            continue
        os.chmod(target, 0o644)
        count += 1
        total += os.path.getsize(target)
    print(count, total)


def write_blob(path, mebibytes):
    generator = random.Random(20240611)
    with open(path, "wb") as out:
        for _ in range(mebibytes):
            out.write(generator.randbytes(1 << 20))


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "files":
        copy_files(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 40)
    elif len(sys.argv) == 4 and sys.argv[1] == "blob":
        write_blob(sys.argv[2], int(sys.argv[3]))
    else:
        sys.exit("usage: payload.py files DEST [MIB] | blob FILE MIB")


if __name__ == "__main__":
    main()
