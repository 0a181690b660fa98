#include "app/startup.h"

#include <filesystem>
#include <thread>

#include "app/config.h"
#include "platform/window/dialog_ids.h"

namespace jx {

namespace {
constexpr int status_timer = 1;
constexpr int32_t fft_max_length = 16384;
}  // namespace

void start_up(App& app, const std::string& document) {
    app.settings.midi_out = -1;
    app.ports.open_out_index = -1;
    app.ports.settings = &app.settings;
    app.ports.state = &app.state;
    // The list keeps full paths, so that a list kept between runs still finds the file.
    std::error_code error;
    app.command_line_path =
        document.empty() ? document : std::filesystem::absolute(document, error).string();
    if (error) app.command_line_path = document;
    app.send_context =
        SendContext{&app.list, &app.ports, &app.settings, &app.list_mutex, 0, &app.send_progress};
    Recorder& recorder = app.recorder;
    recorder.state = &app.state;
    recorder.settings = &app.settings;
    recorder.ports = &app.ports;
    recorder.list = &app.list;
    recorder.list_mutex = &app.list_mutex;
    connect_recorder(app.ports, recorder);
    load_config(app.settings);
    fft_init(app.fft, fft_max_length, fft_flag::any_length);
}

void open_ports(App& app) {
    if (app.ports.service == nullptr) return;
    settle_ports(app);
    const auto open = [&app] {
        open_midi_in(app.ports);
        send_turbo_query(app.ports);
    };
    app.ports_opening = app.ports.service->engine.start_job(open);
    if (!app.ports_opening) open();
}

void settle_ports(App& app) {
    if (!app.ports_opening) return;
    app.ports.service->engine.wait_for_job();
    app.ports_opening = false;
}

void shutdown(App& app, Window& window) {
    window.stop_timer(status_timer);
    settle_ports(app);
    app.state.reopen_in_before_send = 0;

    if (app.send_worker.running()) request_cancel(app.state);
    // The send uses the list and the ports as it stops; it must be gone before they are.
    if (app.send_worker.joinable()) app.send_worker.join();

    // The reset returns everything the ports hold before it returns: no pause is needed.
    close_midi_out(app.ports);
    close_midi_in(app.ports);

    const Rect outer = window.outer_rect();
    app.settings.win_x = outer.x;
    app.settings.win_y = outer.y;
    app.settings.win_w = outer.w;
    app.settings.win_h = outer.h;
    save_placement(app.settings);
}

}  // namespace jx
