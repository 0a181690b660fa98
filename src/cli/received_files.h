#pragma once
// Writing the entries a recording stored into a folder, one file each, as the receiving commands
// report them: `<name><ext>`, the extension from the content, a name already written made unique.
#include <cstddef>
#include <mutex>
#include <set>
#include <string>

#include "transfer/transfer_list.h"

namespace jx::cli {

struct ReceivedFiles {
    std::string folder;
    std::set<std::string> written;  // file names written so far
    size_t entries_written = 0;     // the list's entries written so far, from its start
};

// The folder the entries go to, made when missing; false when it cannot be made or is no folder.
bool make_received_folder(const std::string& folder);

// ".wav" for a WAV image, ".aif" for an AIFF one, otherwise ".syx".
const char* received_extension(const Entry& entry);
// The entry name fit for a file name: '/' and control characters become '_'.
std::string file_name_of(const std::string& entry_name);

// Writes the entry to the folder and prints its JSON line {"name", "file", "size"}. A name
// already written, or of a file the folder already holds, gets "-2", "-3", ... before the
// extension. False (with the reason on stderr,
// under `command`) when the file cannot be written.
bool write_received_entry(ReceivedFiles& files, const char* command, const std::string& name,
                          const Entry& entry);
// Writes the entries stored in the list since the last call, in order, under its mutex (the
// recorder adds entries from the input thread). False when one cannot be written.
bool write_new_entries(ReceivedFiles& files, const char* command, const TransferList& list,
                       std::mutex& list_mutex);

}  // namespace jx::cli
