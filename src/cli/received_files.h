#pragma once
// Writing the entries a recording stored into a folder, one file each, as the receiving commands
// report them: `<name><ext>`, the extension from the content, a name already written made unique.
#include <set>
#include <string>

#include "transfer/transfer_list.h"

namespace jx::cli {

struct ReceivedFiles {
    std::string folder;
    std::set<std::string> written;  // file names written so far
};

// ".wav" for a WAV image, ".aif" for an AIFF one, otherwise ".syx".
const char* received_extension(const Entry& entry);
// The entry name fit for a file name: '/' and control characters become '_'.
std::string file_name_of(const std::string& entry_name);

// Writes the entry to the folder and prints its JSON line {"name", "file", "size"}. A name
// already written gets "-2", "-3", ... before the extension. False (with the reason on stderr,
// under `command`) when the file cannot be written.
bool write_received_entry(ReceivedFiles& files, const char* command, const std::string& name,
                          const Entry& entry);

}  // namespace jx::cli
