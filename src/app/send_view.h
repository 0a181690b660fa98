#pragma once
// What the window shows of a send: the report the send publishes as it goes, brought into the
// window by the main window's timer. The send itself never touches the window.
#include "midi/send_engine.h"
#include "platform/window/window.h"
#include "transfer/transfer_list.h"

namespace jx {

// Brings the window up to what the send published, on the window thread: each text that changed
// since the last call, and every text the send set when the send or its entry is new since then,
// as the send set them again for each entry. Called with the list's mutex held: the File Info of
// a sample sets the list's current option modes.
class SendView {
  public:
    void show(const SendReport& report, Window& window, TransferList& list);

  private:
    SendReport shown_;
};

}  // namespace jx
