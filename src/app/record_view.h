#pragma once
// What the window shows of a recording: the report the recorder publishes, brought into the window
// after the main window's own commands and by its timer. The recorder itself never touches the
// window.
#include "midi/receive_buffer.h"
#include "platform/window/window.h"

namespace jx {

// Brings the window up to what the recorder published, on the window thread: each text the
// recorder set since the last call, in its control.
class RecordView {
  public:
    void show(const RecordReport& report, Window& window);

  private:
    RecordReport shown_;
};

}  // namespace jx
