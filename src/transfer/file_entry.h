#pragma once
// One file from disk as an entry of the transfer list.
#include <memory>
#include <string>

#include "transfer/transfer_list.h"

namespace jx {

// A new entry holding the whole file, or nothing when it cannot be read (`reason` says why). A
// Standard MIDI File brings its SysEx messages instead; a damaged one is not read. The option
// characters are left for the caller to set.
std::unique_ptr<Entry> read_file_entry(const std::string& path, std::string* reason = nullptr);

// True for the names of Standard MIDI Files: ".mid" and ".midi" in any case.
bool is_midi_file_name(const std::string& path);

// A file that could not be added, and why ("permission denied", "not a regular file", ...).
struct FileProblem {
    std::string path;
    std::string reason;
    bool operator==(const FileProblem&) const = default;
};

// Adds the file at path at the end of the list with the two option characters, and selects and
// shows it when nothing is selected. False when the file cannot be read (`reason` says why):
// nothing is added.
bool add_file(TransferList& list, const std::string& path, char loop_option, char channel_option,
              std::string* reason = nullptr);

}  // namespace jx
