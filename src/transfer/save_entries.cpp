#include "transfer/save_entries.h"

#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "transfer/file_entry.h"
#include "transfer/file_list.h"

namespace jx {

namespace {
const FileFilter document_filter{"Jx filelist (*.jx)", "*.jx"};
const FileFilter all_files_filter{"All Files (*.*)", "*.*"};
}  // namespace

FileDialogRequest save_dialog_request(const TransferList& list, int index) {
    FileDialogRequest request;
    request.initial_name = entry_name(list, index);
    // An entry read from a MIDI file holds its SysEx: offered as a .syx beside it, so that
    // saving never writes bare SysEx over the MIDI file.
    if (is_midi_file_name(request.initial_name))
        request.initial_name = path_remove_extension(request.initial_name) + ".syx";
    request.overwrite_prompt = true;
    request.path_must_exist = true;
    request.hide_read_only = true;
    request.filter_index = list.dialog_filter_index;
    const Entry* entry = entry_at(list, index);
    if (entry == nullptr) {
        request.filters = {document_filter};
        request.filter_index = 1;
        request.default_extension = "syx";
        return request;
    }
    switch (entry_type(*entry)) {
        case EntryType::wav:
            request.filters = {{"Wave file (*.wav)", "*.wav"}, document_filter, all_files_filter};
            request.default_extension = "wav";
            break;
        case EntryType::aiff:
            request.filters = {
                {"AIFF file (*.aiff,*.aif)", "*.aif;*.aiff"}, document_filter, all_files_filter};
            request.default_extension = "aiff";
            break;
        default:  // every other entry, AIFC samples included
            request.filters = {{"SysEx file (*.syx)", "*.syx"}, document_filter, all_files_filter};
            request.default_extension = "syx";
            break;
    }
    return request;
}

bool write_entry_file(const std::string& path, const Entry& entry) {
    return write_file_atomically(path, entry.bytes(), entry.length());
}

void save_entries(TransferList& list, const FileDialogRunner& run_dialog,
                  const std::string& samplepos) {
    if (!run_dialog) return;
    for (int index = first_selected(list);;) {
        const FileDialogRequest request = save_dialog_request(list, index);
        auto chosen = run_dialog(request);
        if (!chosen || chosen->names.empty()) return;
        list.dialog_filter_index = chosen->filter_index;
        const std::string& name = chosen->names.front();
        if (chosen->filter_index == 2 || path_find_extension(name) == ".jx") {
            save_file_list(list, name, samplepos);
            return;
        }
        if (const Entry* entry = entry_at(list, index)) {
            if (!write_entry_file(name, *entry)) return;
            set_entry_name(list, index, name);
        }
        index = next_selected(list);
        if (index < 0) return;
    }
}

}  // namespace jx
