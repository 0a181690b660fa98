#pragma once
// The in-memory window: records every text, state and message box, and answers file dialogs
// from queues the caller fills. Used by the tests and by jx-cli.
#include <deque>
#include <map>
#include <mutex>

#include "platform/window.h"

namespace jx {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    MessageIcon icon;
};

class HeadlessWindow : public Window {
  public:
    void set_text(int id, const std::string& text) override;
    std::string text(int id) const override;
    void enable(int id, bool enabled) override;
    bool is_enabled(int id) const override;  // controls never touched count as enabled
    void check(int id, bool checked) override;
    bool is_checked(int id) const override;
    void message_box(const std::string& text, const std::string& caption,
                     MessageIcon icon) override;
    std::optional<FileDialogResult> open_file_dialog(const FileDialogRequest& request) override;
    std::optional<FileDialogResult> save_file_dialog(const FileDialogRequest& request) override;

    // Answers for the next dialogs, oldest first; an empty queue answers "cancelled".
    std::deque<std::optional<FileDialogResult>> open_answers;
    std::deque<std::optional<FileDialogResult>> save_answers;
    // What was asked and shown, in order.
    std::vector<FileDialogRequest> open_requests;
    std::vector<FileDialogRequest> save_requests;
    std::vector<MessageBoxRecord> message_boxes;

  private:
    mutable std::mutex mutex_;  // the send and MIDI threads may write texts too
    std::map<int, std::string> texts_;
    std::map<int, bool> enabled_;
    std::map<int, bool> checked_;
};

}  // namespace jx
