#pragma once
// A dialog window whose controls are addressed by their resource ids. The core talks to the
// screen only through this interface: HeadlessWindow keeps everything in memory (tests, jx-cli),
// the Qt window draws real widgets.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jx {

enum class MessageIcon { none, exclamation };

struct FileFilter {
    std::string description;
    std::string pattern;  // "*.syx;*.wav"
};

struct FileDialogRequest {
    std::vector<FileFilter> filters;
    int filter_index = 1;           // 1-based, as the dialogs count filters
    std::string default_extension;  // without the dot, added when the user types none
    std::string initial_name;       // save dialog: the name proposed to the user
    bool allow_multiple = false;
    bool must_exist = false;       // open dialog: every chosen file must exist
    bool path_must_exist = false;  // the chosen name's folder must exist
    bool hide_read_only = false;
    bool overwrite_prompt = false;
};

struct FileDialogResult {
    // One full path, or a folder followed by the names chosen in it.
    std::vector<std::string> names;
    int filter_index = 1;  // the filter the user chose
};

class Window {
  public:
    virtual ~Window() = default;

    virtual void set_text(int id, const std::string& text) = 0;
    virtual std::string text(int id) const = 0;
    virtual void enable(int id, bool enabled) = 0;
    virtual bool is_enabled(int id) const = 0;
    virtual void check(int id, bool checked) = 0;
    virtual bool is_checked(int id) const = 0;

    virtual void message_box(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
    // Both return nothing when the user cancels or the dialog fails.
    virtual std::optional<FileDialogResult> open_file_dialog(const FileDialogRequest& request) = 0;
    virtual std::optional<FileDialogResult> save_file_dialog(const FileDialogRequest& request) = 0;
};

// A text read as an unsigned number, as a dialog reads its digit-only edits: blanks first, then
// decimal digits up to the first other character. Nothing when there is no digit or the number
// does not fit in 32 bits.
std::optional<uint32_t> read_unsigned(const std::string& text);

}  // namespace jx
