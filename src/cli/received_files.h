#pragma once
// Writing the entries a recording stored into a folder, one file each, as the receiving commands
// report them: `<name><ext>`, the extension from the content, a name already written made unique.
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "midi/receive_buffer.h"
#include "transfer/transfer_list.h"

namespace jx::cli {

struct ReceivedFiles {
    std::string folder;
    std::set<std::string> written;  // paths written so far
    size_t entries_written = 0;     // the list's entries written so far, from its start
    std::string fallback;           // the temporary folder entries went to that `folder` refused
    size_t partial_dumps = 0;       // entries written that hold a dump cut off before its end
    size_t lost_entries = 0;        // entries neither the folder nor the temporary folder took
};

// The folder the entries go to, made when missing; false when it cannot be made or is no folder.
bool make_received_folder(const std::string& folder);
// Why no file can be made in the folder (permission, a full or read-only file system); empty
// when one can. Checked before recording, so that nothing arrives only to be lost.
std::string check_received_folder(const std::string& folder);

// ".wav" for a WAV image, ".aif" for an AIFF one, otherwise ".syx".
const char* received_extension(const Entry& entry);
// The entry name fit for a file name: '/' and control characters become '_'.
std::string file_name_of(const std::string& entry_name);

// Writes the entry to the folder and prints its JSON line {"name", "file", "size"}. A name
// already written, or of a file the folder already holds, gets "-2", "-3", ... before the
// extension. When the folder refuses the file, the reason goes to stderr (under `command`) and the
// entry to a temporary folder, named on stderr and in the JSON line; false then. A dump cut off
// before its end (`partial`) is named on stderr, and its line adds "complete": false, "frames"
// and "frames_announced".
bool write_received_entry(ReceivedFiles& files, const char* command, const std::string& name,
                          const Entry& entry, const PartialDump* partial = nullptr);
// Writes the entries stored in the list since the last call, in order, under its mutex (the
// recorder adds entries from the engine thread, and the notes of cut-off dumps with them). False
// when one could not be written to the folder.
bool write_new_entries(ReceivedFiles& files, const char* command, const TransferList& list,
                       std::mutex& list_mutex, const std::vector<PartialDump>* partial = nullptr);

}  // namespace jx::cli
