#include "app/show_next.h"

#include <string>
#include <utility>

#include "platform/window/dialog_ids.h"
#include "transfer/entry_info.h"

namespace jx {

void show_next(Window& window, TransferList& list) {
    const ShowNext next = std::exchange(list.show_next, {});
    if (next.loop) window.set_text(ids::loop_button, loop_caption(*next.loop));
    if (next.channel) window.set_text(ids::channel_button, channel_caption(*next.channel));
    if (next.info) {
        window.set_text(ids::file_info, next.info->text);
        window.enable(ids::loop_button, next.info->enable_loop);
        window.enable(ids::channel_button, next.info->enable_channel);
        window.enable(ids::tonepak, next.info->enable_tonepak);
    }
    if (next.sample_position)
        window.set_text(ids::samplepos, std::to_string(*next.sample_position));
}

}  // namespace jx
