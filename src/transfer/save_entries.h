#pragma once
// The Save command: each selected entry written to a file the user names, byte for byte, or
// the whole list as a file-list document.
#include <string>

#include "platform/os/file_dialog_request.h"
#include "transfer/transfer_list.h"

namespace jx {

// The save dialog for the entry at index (nothing selected: -1), with the filters and default
// extension of its kind; the second filter of an entry's dialog saves the whole list instead.
FileDialogRequest save_dialog_request(const TransferList& list, int index);

// Writes the entry's bytes to path. The file is replaced only once the new one is complete, so
// a failed write leaves what was there. True on success.
bool write_entry_file(const std::string& path, const Entry& entry);

// Asks for a name for each selected entry in list order and writes it there; a saved entry
// takes the new name. Choosing the document filter or a ".jx" name saves the whole list, with
// the Samplepos edit's text, and ends the command; so do a cancelled dialog and a failed write.
// The dialogs are run by `run_dialog`; without one nothing is saved.
void save_entries(TransferList& list, const FileDialogRunner& run_dialog,
                  const std::string& samplepos);

}  // namespace jx
