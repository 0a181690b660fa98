#pragma once
// What an open or save file dialog is asked and what it answers: plain records, so that the
// commands that ask for file names need no window, only a runner that their caller hands in.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace jx {

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

// Runs an open or save file dialog and returns nothing when the user cancels or the dialog
// fails. Commands take one so that the window can run its dialogs without holding what the
// other threads need meanwhile.
using FileDialogRunner =
    std::function<std::optional<FileDialogResult>(const FileDialogRequest& request)>;

}  // namespace jx
