#include "app/request_sample.h"

#include <algorithm>
#include <memory>

#include "audio/sds.h"
#include "platform/window/dialog_ids.h"

namespace jx {

void RequestSampleDialog::init_dialog(Window& window) {
    window_ = &window;
    window.set_text(ids::request_number, std::to_string(number_));
    window.set_text(ids::request_sds_device, std::to_string(sds_device_));
}

void RequestSampleDialog::command(int id) {
    if (id == ids::request_cancel) {
        window_->end_dialog(id);
    } else if (id == ids::request_ok) {
        const auto number = read_unsigned(window_->text(ids::request_number));
        if (!number) return;
        number_ = static_cast<int>(std::min<uint32_t>(*number, sds::max_sample_number));
        accepted_ = true;
        window_->end_dialog(id);
    }
}

void RequestSampleDialog::close_request() {
    window_->end_dialog(ids::request_cancel);
}

void add_request_sample_menu(Window& window, MainWindow& procedure) {
    auto last_number = std::make_shared<int>(0);
    const auto request = [&window, &procedure, last_number] {
        RequestSampleDialog dialog(procedure.sds_device(), *last_number);
        window.run_dialog(ids::request_sample_dialog, dialog);
        if (!dialog.accepted()) return;
        *last_number = dialog.number();
        procedure.request_sample(*last_number);
    };
    // The window's own menu shows where no control has one of its own.
    for (int id : {ids::receive, 0}) window.add_menu_entry(id, "Request sample\u2026", request);
}

}  // namespace jx
