#pragma once
// The File Info box, the option buttons and the Samplepos edit, brought up to what the operations
// on the transfer list left to show.
#include "platform/window/window.h"
#include "transfer/transfer_list.h"

namespace jx {

// Shows what the list's show_next holds and takes it, so that what the window writes itself
// meanwhile stays until something new is to be shown. On the window thread, with the list's
// mutex held.
void show_next(Window& window, TransferList& list);

}  // namespace jx
