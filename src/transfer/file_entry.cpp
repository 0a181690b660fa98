#include "transfer/file_entry.h"

#include "platform/os/files.h"
#include "transfer/entry_info.h"

namespace jx {

std::unique_ptr<Entry> read_file_entry(const std::string& path, std::string* reason) {
    auto data = read_whole_file(path, reason);
    if (!data) return nullptr;
    auto entry = std::make_unique<Entry>();
    entry->data = std::move(*data);
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
