#pragma once
// "Jx Filelist" documents and the list kept between runs.
#include <string>

#include "transfer/transfer_list.h"

namespace jx {

// Replaces the list with the entries of a file-list document.
// Not built yet: reading documents comes with the document format; until then the document is
// left alone and the list is unchanged.
void load_file_list(TransferList& list, const std::string& path);

}  // namespace jx
