#include "platform/headless_window.h"

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
    return take_answer(open_answers);
}

std::optional<FileDialogResult> HeadlessWindow::save_file_dialog(const FileDialogRequest& request) {
    save_requests.push_back(request);
    return take_answer(save_answers);
}

}  // namespace jx
