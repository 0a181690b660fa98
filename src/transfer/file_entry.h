#pragma once
// One file from disk as an entry of the transfer list.
#include <memory>
#include <string>

#include "transfer/transfer_list.h"

namespace jx {

// A new entry holding the whole file, or nothing when it cannot be read. The option characters
// are left for the caller to set.
std::unique_ptr<Entry> read_file_entry(const std::string& path);

// Adds the file at path at the end of the list with the two option characters, and selects and
// shows it when nothing is selected. False when the file cannot be read: nothing is added.
bool add_file(TransferList& list, const std::string& path, char loop_option, char channel_option);

}  // namespace jx
