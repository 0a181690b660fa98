#include "app/port_errors.h"

#include "platform/window/dialog_ids.h"

namespace jx {

void show_port_errors(MidiPorts& ports, Window& window) {
    for (const PortError& error : ports.errors.take()) {
        if (error.missing()) {
            window.set_text(ids::status, error.text);
            continue;
        }
        if (error.fault == PortFault::out_message) window.set_text(ids::send, "Send");
        window.message_box(error.text, text_cancel_caption, MessageIcon::exclamation);
    }
}

}  // namespace jx
