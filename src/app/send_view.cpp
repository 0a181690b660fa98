#include "app/send_view.h"

#include "app/show_next.h"
#include "platform/window/dialog_ids.h"
#include "transfer/entry_info.h"

namespace jx {

void SendView::show(const SendReport& report, Window& window, TransferList& list) {
    const bool fresh = report.serial != shown_.serial || report.current != shown_.current;
    const auto changed = [&](const auto& now, const auto& before) {
        return now && (fresh || now != before);
    };
    if (changed(report.entry, shown_.entry)) {
        show_entry_view(list, *report.entry);
        show_next(window, list);
    }
    if (changed(report.counter, shown_.counter))
        window.set_text(ids::send_counter, *report.counter);
    if (changed(report.status, shown_.status)) window.set_text(ids::status, *report.status);
    if (changed(report.button, shown_.button)) window.set_text(ids::send, *report.button);
    if (report.list_enabled && (fresh || !shown_.list_enabled))
        window.enable(ids::transfer_list, true);
    shown_ = report;
}

}  // namespace jx
