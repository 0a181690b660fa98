#pragma once
// Whole-file reads and safe writes. Every failure comes with its reason in a few words
// ("permission denied", "is a directory", "not a regular file", "too large to hold in memory",
// "read-only", ...), for the messages the commands print.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jx {

// The bytes of a regular file, or nothing when it does not exist, is not a regular file (a
// folder, a FIFO or a device is never opened for reading, so nothing can block), or cannot be
// read or held whole. `reason` receives why.
std::optional<std::vector<uint8_t>> read_whole_file(const std::string& path,
                                                    std::string* reason = nullptr);

// A file being written in pieces that replaces path only when it is committed: until then the
// bytes go to a file without a name in path's folder (or, where the file system cannot make
// one, to a hidden temporary file that is removed on failure), so that a failed or interrupted
// write leaves what was there before and nothing else. A link at path stays: the file it
// points at is replaced; a link that leads to no file is kept and the write refused. Only a
// regular file is replaced: a folder, device, FIFO or socket at path is refused, and so is a file
// there that nobody may write (no write permission at all), as "read-only".
struct AtomicWrite {
    int fd = -1;
    std::string path;       // the file to replace (a link's target)
    std::string temporary;  // the hidden name, when the file system could not make one without
    bool failed = false;
    std::string reason;  // why the write failed
};

bool begin_atomic_write(const std::string& path, AtomicWrite& write);
bool write_atomic_bytes(AtomicWrite& write, const uint8_t* data, size_t length);
// Makes the written bytes the file at path. False (and nothing replaced) after any failure.
bool commit_atomic_write(AtomicWrite& write);
// Throws the written bytes away; nothing is left behind.
void abort_atomic_write(AtomicWrite& write);

// The whole write at once. True on success; `reason` receives why not.
bool write_file_atomically(const std::string& path, const uint8_t* data, size_t length,
                           std::string* reason = nullptr);

// The reason text of an errno value, in lower case: "permission denied".
std::string errno_reason(int error);

}  // namespace jx
