#include "app/main_window.h"

#include <cstdio>
#include <utility>

#include "analysis/midi_file.h"
#include "app/layout.h"
#include "app/port_errors.h"
#include "app/preferences.h"
#include "app/show_next.h"
#include "app/startup.h"
#include "midi/sample_request.h"
#include "platform/os/paths.h"
#include "platform/window/dialog_ids.h"
#include "transfer/add_files.h"
#include "transfer/entry_info.h"
#include "transfer/file_list.h"
#include "transfer/remove_entries.h"
#include "transfer/save_entries.h"
#include "transfer/tonepak_convert.h"

namespace jx {

namespace {

struct TurboText {
    int32_t speed;
    const char* text;
};
constexpr TurboText turbo_texts[] = {
    {200, "20"}, {160, "16"}, {133, "13"}, {100, "10"}, {80, "8"}, {66, "6.7"},
    {50, "5"},   {40, "4"},   {33, "3.3"}, {20, "2"},   {10, ""},
};

const std::vector<std::string> list_columns = {"Filename", "Size", "Type"};

}  // namespace

const char* turbo_speed_text(int32_t turbo_speed) {
    for (const TurboText& entry : turbo_texts)
        if (entry.speed == turbo_speed) return entry.text;
    return nullptr;
}

std::optional<std::string> transfer_status_text(int32_t status_bits, int32_t sent_count,
                                                int32_t received_count) {
    char text[64];
    switch (status_bits) {
        case status_sending:
            std::snprintf(text, sizeof text, "Sent: %i", sent_count);
            return text;
        case status_receiving:
            std::snprintf(text, sizeof text, "Receiving: %i", received_count);
            return text;
        case status_sending | status_receiving:
            std::snprintf(text, sizeof text, "S:%i R:%i", sent_count, received_count);
            return text;
        default:
            return std::nullopt;
    }
}

std::optional<Rect> restored_placement(const Settings& settings, Size current, Size screen) {
    if (settings.win_h == no_placement) return std::nullopt;
    Rect placed{settings.win_x, settings.win_y, current.w, current.h};
    // A saved size never makes the window smaller than its designed size.
    if (settings.win_w > placed.w) placed.w = settings.win_w;
    if (settings.win_h > placed.h) placed.h = settings.win_h;
    if (placed.x > screen.w) placed.x = screen.w / 2;
    if (placed.y > screen.h) placed.y = screen.h / 2;
    if (placed.y < 0) placed.y = 0;
    if (placed.x < 0) placed.x = 0;
    return placed;
}

MainWindow::ListLock::ListLock(MainWindow& window) : window_(window) {
    if (window_.lock_depth_++ == 0) window_.list_lock_ = std::unique_lock(window_.app_.list_mutex);
}

MainWindow::ListLock::~ListLock() {
    if (--window_.lock_depth_ == 0) window_.list_lock_.unlock();
}

FileDialogRunner MainWindow::unlocked_dialog(bool save) {
    return [this, save](const FileDialogRequest& request) {
        const int depth = std::exchange(lock_depth_, 0);
        if (depth > 0) list_lock_.unlock();
        auto result =
            save ? window_->save_file_dialog(request) : window_->open_file_dialog(request);
        if (depth > 0) list_lock_.lock();
        lock_depth_ = depth;
        return result;
    };
}

void MainWindow::init_dialog(Window& window) {
    window_ = &window;

    const Rect outer = window.outer_rect();
    window.set_minimum_size({outer.w, outer.h});
    window.check(ids::turbo_check, false);
    window.set_progress(ids::progress, 0);
    if (auto placed = restored_placement(app_.settings, {outer.w, outer.h}, window.screen_size()))
        window.set_outer_rect(*placed);
    {
        ListLock lock(*this);
        if (app_.settings.syx_reload != 0) restore_list(app_.list);
        if (!app_.command_line_path.empty()) add(app_.command_line_path);
        refresh_list();
    }
    report_damaged();
    window.start_timer(status_timer, status_period_ms);
    open_ports(app_);
}

void MainWindow::refresh_list() {
    if (window_ == nullptr) return;
    // What the recorder set, before what the list left: a received dump's File Info is newer.
    record_view_.show(app_.recorder.report.snapshot(), *window_);
    ListLock lock(*this);
    show_next(*window_, app_.list);
    std::vector<ListRow> rows;
    rows.reserve(app_.list.items.size());
    for (size_t k = 0; k < app_.list.items.size(); ++k) {
        const ListItem& item = app_.list.items[k];
        rows.push_back({{item.name, item.size_text, item.type_text},
                        item.selected,
                        item.focused,
                        static_cast<int>(k) == drag_from_});
    }
    if (rows_shown_ && rows == shown_rows_) return;
    shown_rows_ = std::move(rows);
    rows_shown_ = true;
    window_->set_list_rows(ids::transfer_list, shown_rows_);
}

void MainWindow::send_command() {
    TransferState& state = app_.state;
    if (state.sending != 0) {
        window_->set_text(ids::send, "Send");
        request_cancel(state);
        state.sending = 0;
        return;
    }
    // A worker that was stopped may still be ending; a second one would race it for the list.
    if (app_.worker_alive) return;
    settle_ports(app_);
    {
        ListLock lock(*this);
        if (first_selected(app_.list) < 0) add(std::nullopt);
    }
    report_damaged();
    {
        ListLock lock(*this);
        if (first_selected(app_.list) < 0) return;
    }
    if (app_.ports.service == nullptr) return;
    if (state.reopen_in_before_send != 0) {
        open_midi_in(app_.ports);
        state.reopen_in_before_send = 0;
    }
    open_midi_out(app_.ports);
    if (app_.ports.open_out_index.load() < 0) return;
    if (app_.send_worker.joinable()) app_.send_worker.join();  // it has ended: worker_alive
    app_.worker_alive = true;
    app_.send_context.sample_number = first_sample_number(window_->text(ids::samplepos));
    if (!app_.send_worker.start(app_.send_context, [this] {
            app_.worker_alive = false;
            notify_transfer(app_.state);
        }))
        app_.worker_alive = false;
}

void MainWindow::show_status(const std::string& text) {
    window_->set_text(ids::status, text);
}

void MainWindow::preferences() {
    if (app_.state.sending != 0 || app_.state.receive_state != receive_idle) return;
    settle_ports(app_);
    PreferencesDialog dialog(app_);
    window_->run_dialog(ids::preferences_dialog, dialog);
}

void MainWindow::list_command(int id) {
    ListLock lock(*this);
    switch (id) {
        case ids::load:
            if (loading_) break;
            loading_ = true;
            add(std::nullopt);
            loading_ = false;
            break;
        case ids::save:
            if (saving_) break;
            saving_ = true;
            save_entries(app_.list, unlocked_dialog(true), window_->text(ids::samplepos));
            saving_ = false;
            break;
        case ids::close_entries:
            if (app_.state.sending == 0) remove_entries(app_.list, -1);
            break;
        case ids::loop_button:
            press_loop_button(app_.list);
            break;
        case ids::channel_button:
            press_channel_button(app_.list);
            break;
        case ids::tonepak:
            convert_to_tonepak(app_.list, app_.fft, app_.state.sending != 0);
            break;
        default:
            break;
    }
}

void MainWindow::command(int id) {
    switch (id) {
        case ids::send:
            send_command();
            break;
        case ids::receive:
            settle_ports(app_);
            // The recorder takes the list's mutex itself when it stores what it received.
            if (app_.state.receive_state == receive_idle)
                start_recording(app_.recorder);
            else
                stop_recording(app_.recorder);
            break;
        case ids::configure:
            preferences();
            break;
        case ids::exit_button:
            close_request();
            return;
        case ids::turbo_check:
            if (app_.ports.service == nullptr) break;
            settle_ports(app_);
            if (app_.state.turbo_speed == 10)
                send_turbo_request(app_.ports);
            else
                send_turbo_off(app_.ports);
            break;
        default:
            list_command(id);
            report_damaged();
            break;
    }
    refresh_list();
    // What failed in the ports on the way (an output, an input, the Turbo message) is said now.
    show_port_errors(app_.ports, *window_);
}

void MainWindow::add(const std::optional<std::string>& path) {
    for (FileProblem& problem : add_files(app_.list, path, '0', '0', unlocked_dialog(false)))
        if (problem.reason.starts_with(midi_file_reason_start))
            damaged_.push_back(std::move(problem));
}

void MainWindow::report_damaged() {
    const std::vector<FileProblem> damaged = std::move(damaged_);
    damaged_.clear();
    for (const FileProblem& problem : damaged)
        window_->message_box(path_find_file_name(problem.path) + ": " + problem.reason,
                             text_load_caption, MessageIcon::exclamation);
}

void MainWindow::show_focused_entry() {
    const int focused = first_focused(app_.list);
    if (focused < 0) return;
    if (const Entry* entry = entry_at(app_.list, focused)) show_entry_info(app_.list, entry);
}

void MainWindow::list_selection(int id, const std::vector<bool>& selected, int focused) {
    if (id != ids::transfer_list) return;
    ListLock lock(*this);
    const size_t count = std::min(selected.size(), app_.list.items.size());
    for (size_t k = 0; k < count; ++k) app_.list.items[k].selected = selected[k];
    set_focused(app_.list, focused);
    // What the user sees is now what the list holds.
    refresh_list();
}

void MainWindow::list_notify(int id, ListNotify notify, int key, bool control) {
    if (id != ids::transfer_list) return;
    if (notify == ListNotify::double_click) {
        if (app_.state.sending == 0) send_command();
        refresh_list();
        show_port_errors(app_.ports, *window_);
        return;
    }
    ListLock lock(*this);
    switch (notify) {
        case ListNotify::click:
            show_focused_entry();
            break;
        case ListNotify::key_down:
            if (key == key_delete) {
                app_.list.removing = true;
                list_command(ids::close_entries);
                // Nothing was removed (a send runs, or nothing was selected): the info panel
                // would otherwise stay frozen until some later removal.
                app_.list.removing = false;
            } else if (key == key_a && control && app_.state.sending == 0) {
                for (size_t k = 0; k < app_.list.items.size(); ++k)
                    set_selected(app_.list, static_cast<int>(k), true);
            }
            show_focused_entry();
            break;
        case ListNotify::item_changed:
            if (!app_.list.removing) show_focused_entry();
            break;
        case ListNotify::begin_drag:
            drag_from_ = first_focused(app_.list);
            window_->capture_mouse();
            break;
        case ListNotify::double_click:
            break;
    }
    refresh_list();
}

void MainWindow::mouse_move(int x, int y) {
    if (drag_from_ < 0) return;
    drag_over_ = window_->list_row_at(ids::transfer_list, x, y);
    if (drag_over_ == drag_from_ || drag_over_ < 0) return;
    ListLock lock(*this);
    move_entry(app_.list, drag_from_, drag_over_);
    app_.list.items[drag_over_].selected = false;
    drag_from_ = drag_over_;
    refresh_list();
}

void MainWindow::left_button_up() {
    window_->release_mouse();
    drag_from_ = -1;
    drag_over_ = -1;
    refresh_list();
}

void MainWindow::timer(int id) {
    if (id == closing_timer) finish_close();
    if (id != status_timer) return;
    TransferState& state = app_.state;
    if ((state.status_bits & status_remote_cancel) != 0) {
        if (notice_ticks_ == 0) {
            notice_ticks_ = notice_tick_count;
            show_status(text_remotely_cancelled);
            window_->set_text(ids::send, "Send");
        } else if (--notice_ticks_ == 0) {
            state.status_bits.fetch_and(~status_remote_cancel);
            show_status("");
        }
    } else if (auto text =
                   transfer_status_text(state.status_bits, state.sent_count, state.received_count);
               text && !unanswered_) {
        show_status(*text);
    }
    {
        // After the transfer status: the send's last "Sent: N" stays.
        ListLock lock(*this);
        send_view_.show(app_.send_progress.snapshot(), *window_, app_.list);
    }
    const int32_t speed = state.turbo_speed;
    if (speed != shown_turbo_speed_) {
        if (const char* text = turbo_speed_text(speed)) window_->set_text(ids::turbo_speed, text);
        window_->check(ids::turbo_check, speed > 10);
        shown_turbo_speed_ = speed;
    }
    if (request_ticks_ > 0 || unanswered_) watch_request();
    window_->set_progress(ids::progress, state.progress_percent);
    // Received dumps join the list on the engine thread; the view catches up here.
    refresh_list();
    // Last: a message box waits for the user, and the timer goes on meanwhile.
    show_port_errors(app_.ports, *window_);
}

void MainWindow::request_sample(int32_t number) {
    if (app_.ports.service == nullptr) return;
    settle_ports(app_);
    request_ticks_ = 0;
    unanswered_ = false;
    // The count at the request tells an answer apart from what a running recording had before.
    const bool had_bytes = (app_.state.status_bits & status_receiving) != 0;
    request_received_count_ = had_bytes ? app_.state.received_count.load() : -1;
    const bool requested = jx::request_sample(app_.recorder, number);
    // What the recorder set as Receive started, before the request's own word.
    record_view_.show(app_.recorder.report.snapshot(), *window_);
    if (requested) {
        request_ticks_ = request_answer_ticks;
    } else if (app_.settings.midi_out < 0 && app_.state.receive_state == receive_recording) {
        show_status(text_no_request_output);
    }
    show_port_errors(app_.ports, *window_);
}

void MainWindow::watch_request() {
    const TransferState& state = app_.state;
    const bool answered = (state.status_bits & status_receiving) != 0 &&
                          state.received_count.load() != request_received_count_;
    if (state.receive_state != receive_recording || answered) {
        request_ticks_ = 0;
        unanswered_ = false;
        return;
    }
    if (request_ticks_ > 0 && --request_ticks_ == 0) {
        unanswered_ = true;
        show_status(text_no_answer);
    }
}

void MainWindow::files_dropped(const std::vector<std::string>& paths) {
    {
        ListLock lock(*this);
        for (const std::string& path : paths)
            if (!path.empty()) add(path);
        refresh_list();
    }
    report_damaged();
}

void MainWindow::size(int client_w, int client_h) {
    layout(*window_, client_w, client_h);
}

void MainWindow::close_request() {
    // A running send is asked to stop and the window ends once it has: the window thread does
    // not wait for it, so the send can still use the window and the list as it stops.
    if (closing_) return;
    closing_ = true;
    if (app_.worker_alive) {
        request_cancel(app_.state);
        window_->start_timer(closing_timer, closing_period_ms);
        return;
    }
    finish_close();
}

void MainWindow::finish_close() {
    if (app_.worker_alive) return;
    window_->stop_timer(closing_timer);
    shutdown(app_, *window_);
    {
        ListLock lock(*this);
        if (app_.settings.syx_reload != 0) store_list(app_.list);
    }
    window_->end_dialog(0);
}

}  // namespace jx
