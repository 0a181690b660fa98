#include "cli/received_files.h"

#include <cstdio>

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

std::string check_received_folder(const std::string& folder) {
    return folder_write_problem(folder);
}

namespace {

// A file name for the entry in `folder` that neither this run nor the folder has taken yet.
std::string free_file_name(const ReceivedFiles& files, const std::string& folder,
                           const std::string& base, const std::string& extension) {
    // A name taken (by this run, or by a file already in the folder) gets the next number: a
    // recording never replaces what the folder held.
    const auto taken = [&](const std::string& name) {
        return files.written.count(path_append(folder, name)) ||
               path_exists(path_append(folder, name));
    };
    std::string file_name = base + extension;
    for (int n = 2; taken(file_name); ++n) file_name = base + "-" + std::to_string(n) + extension;
    return file_name;
}

}  // namespace

bool write_received_entry(ReceivedFiles& files, const char* command, const std::string& name,
                          const Entry& entry, const PartialDump* partial) {
    const std::string base = file_name_of(name);
    const std::string extension = received_extension(entry);
    std::string path =
        path_append(files.folder, free_file_name(files, files.folder, base, extension));
    std::string reason;
    bool written = write_file_atomically(path, entry.bytes(), entry.length(), &reason);
    if (!written) {
        // What arrived is not lost: it goes to a folder of its own in the temporary folder.
        failure(command, "cannot write '" + path + "': " + reason);
        if (files.fallback.empty()) files.fallback = make_temporary_folder("jx-received");
        if (!files.fallback.empty()) {
            path =
                path_append(files.fallback, free_file_name(files, files.fallback, base, extension));
            if (write_file_atomically(path, entry.bytes(), entry.length(), &reason)) {
                std::fprintf(stderr, "jx-cli %s: '%s' was written to '%s' instead\n", command,
                             name.c_str(), path.c_str());
            } else {
                failure(command, "cannot write '" + path + "' either: " + reason);
                path.clear();
            }
        } else {
            path.clear();
        }
    }
    if (!path.empty())
        files.written.insert(path);
    else
        ++files.lost_entries;
    nlohmann::ordered_json fields = {{"name", name}, {"file", path}, {"size", entry.length()}};
    if (partial) {
        std::fprintf(stderr,
                     "jx-cli %s: '%s' holds %d of the %d frames its dump announced: the dump "
                     "ended before it was complete\n",
                     command, path.empty() ? name.c_str() : path.c_str(), partial->frames,
                     partial->announced);
        fields["complete"] = false;
        fields["frames"] = partial->frames;
        fields["frames_announced"] = partial->announced;
        ++files.partial_dumps;
    }
    print_json_line(fields);
    return written;
}

bool write_new_entries(ReceivedFiles& files, const char* command, const TransferList& list,
                       std::mutex& list_mutex, const std::vector<PartialDump>* partial) {
    std::lock_guard lock(list_mutex);
    bool all_written = true;
    for (; files.entries_written < list.items.size(); ++files.entries_written) {
        const ListItem& item = list.items[files.entries_written];
        const PartialDump* cut = nullptr;
        if (partial)
            for (const PartialDump& p : *partial)
                if (p.entry == item.entry.get()) cut = &p;
        all_written =
            write_received_entry(files, command, item.name, *item.entry, cut) && all_written;
    }
    return all_written;
}

}  // namespace jx::cli
