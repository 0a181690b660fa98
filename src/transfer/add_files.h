#pragma once
// Bringing files from disk into the transfer list.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/file_dialog_request.h"
#include "transfer/file_entry.h"
#include "transfer/transfer_list.h"

namespace jx {

// Adds the file at path, or every file chosen in the open dialog when no path is given, with the
// two option characters. A ".jx" file is opened as a file list instead, and ends the adding.
// Returns the files that could not be read, with the reasons (they are skipped without a
// message). The dialog is run by `run_dialog`; without one nothing is chosen.
std::vector<FileProblem> add_files(TransferList& list, const std::optional<std::string>& path,
                                   char loop_option, char channel_option,
                                   const FileDialogRunner& run_dialog = {});

// The open dialog's filters, shared with the tests.
std::vector<FileFilter> open_dialog_filters();

}  // namespace jx
