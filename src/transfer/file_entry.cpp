#include "transfer/file_entry.h"

#include <cctype>

#include "analysis/midi_file.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "transfer/entry_info.h"

namespace jx {

bool is_midi_file_name(const std::string& path) {
    std::string extension = path_find_extension(path);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".mid" || extension == ".midi";
}

std::unique_ptr<Entry> read_file_entry(const std::string& path, std::string* reason) {
    auto data = read_whole_file(path, reason);
    if (!data) return nullptr;
    auto entry = std::make_unique<Entry>();
    // A file named as a MIDI file that lacks the header is a damaged one, not a dump.
    if (is_midi_file(data->data(), data->size()) || is_midi_file_name(path)) {
        // The entry holds the file's SysEx messages, as a .syx file of them would.
        if (!midi_file_sysex(data->data(), data->size(), entry->data, reason)) return nullptr;
    } else {
        entry->data = std::move(*data);
    }
    return entry;
}

bool add_file(TransferList& list, const std::string& path, char loop_option, char channel_option,
              std::string* reason) {
    std::unique_ptr<Entry> entry = read_file_entry(path, reason);
    if (!entry) return false;
    entry->loop_option = loop_option;
    entry->channel_option = channel_option;
    int index = insert_entry(list, path, std::move(entry), -1);
    if (selected_count(list) == 0) {
        set_selected(list, index, true);
        show_entry_info(list, entry_at(list, index));
    }
    return true;
}

}  // namespace jx
