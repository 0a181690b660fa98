#include "app/record_view.h"

#include "platform/window/dialog_ids.h"

namespace jx {

void RecordView::show(const RecordReport& report, Window& window) {
    const auto apply = [&](RecordText RecordReport::*field, int id) {
        const RecordText& now = report.*field;
        if (now.serial != (shown_.*field).serial) window.set_text(id, now.text);
    };
    apply(&RecordReport::send_button, ids::send);
    apply(&RecordReport::status, ids::status);
    apply(&RecordReport::receive_button, ids::receive);
    apply(&RecordReport::file_info, ids::file_info);
    shown_ = report;
}

}  // namespace jx
