#include "cli/received_files.h"

#include "cli/cli.h"
#include "platform/os/files.h"
#include "platform/os/folders.h"
#include "platform/os/paths.h"

namespace jx::cli {

bool make_received_folder(const std::string& folder) {
    if (path_exists(folder)) return is_folder(folder);
    return make_folder(folder);
}

const char* received_extension(const Entry& entry) {
    switch (entry_type(entry)) {
        case EntryType::wav:
            return ".wav";
        case EntryType::aiff:
        case EntryType::aifc:
            return ".aif";
        default:
            return ".syx";
    }
}

std::string file_name_of(const std::string& entry_name) {
    std::string name = entry_name;
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F) c = '_';
    }
    return name;
}

bool write_received_entry(ReceivedFiles& files, const char* command, const std::string& name,
                          const Entry& entry) {
    const std::string base = file_name_of(name);
    const std::string extension = received_extension(entry);
    // A name taken (by this run, or by a file already in the folder) gets the next number: a
    // recording never replaces what the folder held.
    const auto taken = [&](const std::string& name) {
        return files.written.count(name) || path_exists(path_append(files.folder, name));
    };
    std::string file_name = base + extension;
    for (int n = 2; taken(file_name); ++n) file_name = base + "-" + std::to_string(n) + extension;
    const std::string path = path_append(files.folder, file_name);
    if (!write_file_atomically(path, entry.bytes(), entry.length())) {
        failure(command, "cannot write '" + path + "'");
        return false;
    }
    files.written.insert(file_name);
    print_json_line({{"name", name}, {"file", path}, {"size", entry.length()}});
    return true;
}

bool write_new_entries(ReceivedFiles& files, const char* command, const TransferList& list,
                       std::mutex& list_mutex) {
    std::lock_guard lock(list_mutex);
    for (; files.entries_written < list.items.size(); ++files.entries_written) {
        const ListItem& item = list.items[files.entries_written];
        if (!write_received_entry(files, command, item.name, *item.entry)) return false;
    }
    return true;
}

}  // namespace jx::cli
