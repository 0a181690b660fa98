#include "win/request_sample.h"

#include <algorithm>
#include <memory>

#include "audio/sds.h"
#include "platform/window/dialog_ids.h"

namespace jx {

DialogTemplate request_sample_template() {
    DialogTemplate dialog;
    dialog.w = 160;
    dialog.h = 62;
    dialog.styles = {"center"};
    dialog.caption = "Request sample";
    dialog.controls = {
        {-1, "static", 7, 9, 76, 8, {}, "Sample number:"},
        {request_ids::number, "edit", 86, 7, 66, 12, {"number"}, ""},
        {-1, "static", 7, 25, 76, 8, {}, "SDS device number:"},
        {request_ids::sds_device, "static", 86, 25, 66, 8, {}, ""},
        {request_ids::ok, "button", 48, 42, 50, 14, {"default"}, "OK"},
        {request_ids::cancel, "button", 102, 42, 50, 14, {}, "Cancel"},
    };
    return dialog;
}

void RequestSampleProcedure::init_dialog(Window& window) {
    window_ = &window;
    window.set_text(request_ids::number, std::to_string(number_));
    window.set_text(request_ids::sds_device, std::to_string(sds_device_));
}

void RequestSampleProcedure::command(int id) {
    if (id == request_ids::cancel) {
        window_->end_dialog(id);
    } else if (id == request_ids::ok) {
        const auto number = read_unsigned(window_->text(request_ids::number));
        if (!number) return;
        number_ = static_cast<int>(std::min<uint32_t>(*number, sds::max_sample_number));
        accepted_ = true;
        window_->end_dialog(id);
    }
}

void RequestSampleProcedure::close_request() {
    window_->end_dialog(request_ids::cancel);
}

void add_request_sample_menu(WinWindow& window, MainWindow& procedure) {
    auto last_number = std::make_shared<int>(0);
    const auto request = [&window, &procedure, last_number] {
        RequestSampleProcedure dialog(procedure.sds_device(), *last_number);
        window.run_dialog(request_sample_template(), dialog);
        if (!dialog.accepted()) return;
        *last_number = dialog.number();
        procedure.request_sample(*last_number);
    };
    // The window's own menu shows where no control has one of its own.
    for (int id : {ids::receive, 0}) window.add_menu_entry(id, "Request sample\u2026", request);
}

}  // namespace jx
