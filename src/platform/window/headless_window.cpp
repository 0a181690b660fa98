#include "platform/window/headless_window.h"

#include <algorithm>

namespace jx {

namespace {
std::optional<FileDialogResult> take_answer(std::deque<std::optional<FileDialogResult>>& answers) {
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}
}  // namespace

void HeadlessWindow::set_text(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    texts_[id] = text;
}

std::string HeadlessWindow::text(int id) const {
    std::lock_guard lock(mutex_);
    auto it = texts_.find(id);
    return it == texts_.end() ? std::string() : it->second;
}

void HeadlessWindow::enable(int id, bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_[id] = enabled;
}

bool HeadlessWindow::is_enabled(int id) const {
    std::lock_guard lock(mutex_);
    auto it = enabled_.find(id);
    return it == enabled_.end() || it->second;
}

void HeadlessWindow::check(int id, bool checked) {
    std::lock_guard lock(mutex_);
    checked_[id] = checked;
}

bool HeadlessWindow::is_checked(int id) const {
    std::lock_guard lock(mutex_);
    auto it = checked_.find(id);
    return it != checked_.end() && it->second;
}

void HeadlessWindow::message_box(const std::string& text, const std::string& caption,
                                 MessageIcon icon) {
    std::lock_guard lock(mutex_);
    message_boxes.push_back({text, caption, icon});
}

std::optional<FileDialogResult> HeadlessWindow::open_file_dialog(const FileDialogRequest& request) {
    open_requests.push_back(request);
    if (while_file_dialog_open) while_file_dialog_open();
    return take_answer(open_answers);
}

std::optional<FileDialogResult> HeadlessWindow::save_file_dialog(const FileDialogRequest& request) {
    save_requests.push_back(request);
    if (while_file_dialog_open) while_file_dialog_open();
    return take_answer(save_answers);
}

FileDialogRunner HeadlessWindow::open_dialog() {
    return [this](const FileDialogRequest& request) { return open_file_dialog(request); };
}

FileDialogRunner HeadlessWindow::save_dialog() {
    return [this](const FileDialogRequest& request) { return save_file_dialog(request); };
}

void HeadlessWindow::set_list_rows(int id, const std::vector<ListRow>& rows) {
    std::lock_guard lock(mutex_);
    rows_[id] = rows;
}

std::vector<ListRow> HeadlessWindow::list_rows(int id) const {
    std::lock_guard lock(mutex_);
    auto it = rows_.find(id);
    return it == rows_.end() ? std::vector<ListRow>() : it->second;
}

void HeadlessWindow::set_column_width(int id, int column, int width) {
    std::lock_guard lock(mutex_);
    column_widths_[{id, column}] = width;
}

int HeadlessWindow::column_width(int id, int column) const {
    std::lock_guard lock(mutex_);
    auto it = column_widths_.find({id, column});
    return it == column_widths_.end() ? 0 : it->second;
}

int HeadlessWindow::list_row_at(int id, int x, int y) const {
    const Rect rect = control_rect(id);
    std::lock_guard lock(mutex_);
    if (x < rect.x || x >= rect.x + rect.w || y < rect.y || y >= rect.y + rect.h) return -1;
    const int row = (y - rect.y) / row_height;
    auto it = rows_.find(id);
    const int count = it == rows_.end() ? 0 : static_cast<int>(it->second.size());
    return row < count ? row : -1;
}

void HeadlessWindow::add_string(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    strings_[id].push_back(text);
}

std::vector<std::string> HeadlessWindow::strings(int id) const {
    std::lock_guard lock(mutex_);
    auto it = strings_.find(id);
    return it == strings_.end() ? std::vector<std::string>() : it->second;
}

void HeadlessWindow::select_index(int id, int index) {
    std::lock_guard lock(mutex_);
    const int count = static_cast<int>(strings_[id].size());
    selected_indices_[id] = index >= 0 && index < count ? index : -1;
}

int HeadlessWindow::selected_index(int id) const {
    std::lock_guard lock(mutex_);
    auto it = selected_indices_.find(id);
    return it == selected_indices_.end() ? -1 : it->second;
}

void HeadlessWindow::set_progress(int id, int position) {
    std::lock_guard lock(mutex_);
    progress_[id] = position;
}

int HeadlessWindow::progress(int id) const {
    std::lock_guard lock(mutex_);
    auto it = progress_.find(id);
    return it == progress_.end() ? 0 : it->second;
}

void HeadlessWindow::start_timer(int id, int period_ms) {
    timers[id] = period_ms;
}
void HeadlessWindow::stop_timer(int id) {
    timers.erase(id);
}

void HeadlessWindow::move_control(int id, int x, int y) {
    std::lock_guard lock(mutex_);
    rects_[id].x = x;
    rects_[id].y = y;
}

void HeadlessWindow::size_control(int id, int w, int h) {
    std::lock_guard lock(mutex_);
    rects_[id].w = w;
    rects_[id].h = h;
}

Rect HeadlessWindow::control_rect(int id) const {
    std::lock_guard lock(mutex_);
    auto it = rects_.find(id);
    return it == rects_.end() ? Rect{} : it->second;
}

void HeadlessWindow::set_outer_rect(const Rect& rect) {
    outer = rect;
    outer.w = std::max(rect.w, minimum_size.w);
    outer.h = std::max(rect.h, minimum_size.h);
}

Size HeadlessWindow::client_size() const {
    return {outer.w - frame.w, outer.h - frame.h};
}

int HeadlessWindow::run_dialog(int template_id, DialogProcedure& procedure) {
    HeadlessWindow dialog;
    dialog.units = units;
    procedure.init_dialog(dialog);
    if (dialog_script) dialog_script(dialog, procedure, template_id);
    return dialog.ended.value_or(-1);
}

}  // namespace jx
