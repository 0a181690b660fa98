#include "transfer/add_files.h"

#include "platform/os/paths.h"
#include "transfer/file_list.h"

namespace jx {

std::vector<FileFilter> open_dialog_filters() {
    return {
        {"SysEx/Wave Files (*.syx,*.wav,*.aiff,*.aif,*.aifc)", "*.syx;*.wav;*.aif;*.aiff;*.aifc"},
        {"Jx filelist (*.jx)", "*.jx"},
        {"All Files (*.*)", "*.*"}};
}

namespace {

// The chosen files as full paths: one returned path stands for itself, otherwise the first name
// is the folder of all the others.
std::vector<std::string> chosen_files(TransferList& list, const FileDialogRunner& run_dialog) {
    if (!run_dialog) return {};
    FileDialogRequest request;
    request.filters = open_dialog_filters();
    request.filter_index = list.dialog_filter_index;
    request.default_extension = "syx";
    request.allow_multiple = true;
    request.must_exist = true;
    request.hide_read_only = true;
    auto result = run_dialog(request);
    if (!result || result->names.empty()) return {};
    list.dialog_filter_index = result->filter_index;
    if (result->names.size() == 1) return result->names;
    std::vector<std::string> files;
    for (size_t k = 1; k < result->names.size(); ++k)
        files.push_back(path_append(result->names[0], result->names[k]));
    return files;
}

}  // namespace

std::vector<FileProblem> add_files(TransferList& list, const std::optional<std::string>& path,
                                   char loop_option, char channel_option,
                                   const FileDialogRunner& run_dialog) {
    std::vector<std::string> files =
        path ? std::vector<std::string>{*path} : chosen_files(list, run_dialog);
    std::vector<FileProblem> unreadable;
    for (const std::string& file : files) {
        std::string reason;
        if (path_find_extension(file) == ".jx") {
            // A document that cannot be loaded counts as a file that cannot be read.
            if (!load_file_list(list, file, &unreadable, &reason))
                unreadable.push_back({file, reason});
            break;
        }
        if (!add_file(list, file, loop_option, channel_option, &reason))
            unreadable.push_back({file, reason});
    }
    return unreadable;
}

}  // namespace jx
