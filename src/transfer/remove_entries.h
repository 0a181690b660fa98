#pragma once
// Taking entries out of the transfer list, as the Close button and the Delete key do.
#include "transfer/transfer_list.h"

namespace jx {

// Removes the item at index, or every selected item when index is negative; then selects the
// item standing where the last one was removed and shows it.
void remove_entries(TransferList& list, int index);

}  // namespace jx
