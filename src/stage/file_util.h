// Small file helpers of the staged file operations: path parts, durable writes and files
// replaced whole.
#pragma once

#include <sys/types.h>

#include <string>

// The directory part of path, as dirname gives it: "/flash" gives "/", a name without a
// slash gives ".".
std::string parentDirectory(const std::string& path);
// The last name of path, trailing slashes not counting: "/flash/bin/x" gives "x".
std::string lastName(const std::string& path);

// The process umask, read without changing it.
mode_t currentUmask();
// Writes all of data to fd, repeating interrupted and short writes. False on failure.
bool writeAll(int fd, const char* data, size_t size);
// Flushes the directory entries of folder to the device (after a rename or an unlink
// that must survive a power cut). False when that fails.
bool syncDirectory(const std::string& folder);

// A file written under a temporary name beside its target and renamed onto it only when
// complete and flushed: the target is the old file or the whole new one, never cut short,
// even across a power cut. The rename replaces a link at the target rather than following
// it. Dropped unfinished, the temporary file goes.
class AtomicFile {
  public:
    // The temporary file is made in the folder of target (which must exist).
    explicit AtomicFile(const std::string& target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool isOpen() const { return fd >= 0; }
    // Appends text; false once anything failed.
    bool write(const std::string& text);
    // Starts the contents again from the beginning; the room taken so far stays taken
    // until commit cuts the file to what was written since.
    void rewind();
    // Flushes the file, renames it onto the target and flushes the folder. False (and the
    // target unchanged) when any step failed; errno then tells why.
    bool commit();

  private:
    // Text is written in blocks of this size.
    static constexpr size_t WriteBlock = 65536;

    bool flush();
    // Makes the temporary file's name known to deleteOpenAtomicFiles, and forgets it.
    void track();
    void untrack();

    std::string target;
    std::string temporary;
    std::string pending;
    int fd = -1;
    bool failed = false;
    bool rewound = false;
    off_t written = 0;
    int error = 0;
    int slot = -1;  // where track() noted the name
};

// Deletes the temporary files of the AtomicFiles not yet committed or dropped: for a
// termination signal that ends the run (async-signal-safe).
void deleteOpenAtomicFiles();

// Replaces file with text through an AtomicFile. False (file unchanged) on failure.
bool replaceFileContents(const std::string& file, const std::string& text);
