#include "transfer/file_list.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "platform/os/files.h"
#include "platform/os/folders.h"
#include "platform/os/paths.h"
#include "platform/os/text.h"
#include "transfer/file_entry.h"
#include "transfer/remove_entries.h"

namespace jx {

namespace {

const char* const magic = "Jx Filelist";
const char* const version = "0";

// Zero-terminated strings, one after the other. A string runs to its zero byte or to the end
// of the bytes; an empty result means there is nothing more to read.
struct StringReader {
    const uint8_t* data;
    size_t length;
    size_t at = 0;

    // Nothing when the string is longer than max_list_string; reading ends there.
    std::optional<std::string> next() {
        size_t start = at;
        while (at < length && data[at] != 0) ++at;
        size_t end = at;
        if (at < length) ++at;  // the zero byte
        if (end - start > max_list_string) {
            at = length;
            return std::nullopt;
        }
        return std::string(reinterpret_cast<const char*>(data) + start, end - start);
    }
};

// The leading decimal number, as C's atoi reads it, kept within 32 bits.
int32_t leading_number(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    int64_t number = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        number = std::min<int64_t>(number * 10 + (text[at] - '0'), int64_t{INT32_MAX} + 1);
    number = negative ? -number : std::min<int64_t>(number, INT32_MAX);
    return static_cast<int32_t>(number);
}

// Option characters, then the path; strings too short to hold a path are passed over.
std::optional<FileListRecord> read_record(const std::string& s, bool relative_allowed) {
    if (s.size() < 3) return std::nullopt;
    FileListRecord record;
    record.loop_option = s[0];
    record.channel_option = s[1];
    record.relative = relative_allowed && s[2] == '*';
    record.path = s.substr(record.relative ? 3 : 2);
    if (record.relative)
        for (char& c : record.path)
            if (c == '\\') c = '/';
    return record;
}

void append_string(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    out.push_back(0);
}

char loop_option_of(const ListItem& item) {
    return item.entry ? item.entry->loop_option : mode_option(loop_file);
}
char channel_option_of(const ListItem& item) {
    return item.entry ? item.entry->channel_option : mode_option(channel_both);
}

// Records are added as the Load button adds files; a record naming a document is passed over.
void add_records(TransferList& list, const std::vector<FileListRecord>& records,
                 const std::string& folder, std::vector<FileProblem>* unreadable) {
    for (const FileListRecord& record : records) {
        std::string path = record_path(record, folder);
        if (path_find_extension(path) == ".jx") continue;
        std::string reason;
        if (!add_file(list, path, record.loop_option, record.channel_option, &reason) &&
            unreadable != nullptr)
            unreadable->push_back({path, reason});
    }
}

ListSave write_list(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::vector<std::string> left_out) {
    ListSave save;
    save.left_out = std::move(left_out);
    save.written = write_file_atomically(path, bytes.data(), bytes.size());
    return save;
}

}  // namespace

FileListDocument parse_file_list(const uint8_t* data, size_t length) {
    FileListDocument document;
    StringReader reader{data, length};
    auto first = reader.next();
    if (!first || *first != magic) return document;
    auto second = reader.next();
    if (!second || *second != version) return document;
    auto position = reader.next();
    if (!position || position->empty()) return document;
    document.valid = true;
    document.sample_position = leading_number(*position);
    for (auto s = reader.next(); s && !s->empty(); s = reader.next())
        if (auto record = read_record(*s, true)) document.records.push_back(std::move(*record));
    return document;
}

std::vector<FileListRecord> parse_stored_list(const uint8_t* data, size_t length) {
    std::vector<FileListRecord> records;
    StringReader reader{data, length};
    for (auto s = reader.next(); s && !s->empty(); s = reader.next())
        if (auto record = read_record(*s, false)) records.push_back(std::move(*record));
    return records;
}

std::string record_path(const FileListRecord& record, const std::string& folder) {
    if (!record.relative) return record.path;
    // Below the folder even when the stored text starts with a slash.
    size_t start = record.path.find_first_not_of('/');
    return path_append(folder, start == std::string::npos ? "" : record.path.substr(start));
}

std::vector<uint8_t> file_list_bytes(const TransferList& list, const std::string& path,
                                     uint32_t sample_position, std::vector<std::string>* left_out) {
    std::vector<uint8_t> out;
    append_string(out, magic);
    append_string(out, version);
    append_string(out, std::to_string(sample_position <= INT32_MAX ? sample_position : 0));
    // The prefix ends with the folder's slash, so that /a/ab.syx is not taken to lie in /a.
    std::string prefix = path_remove_file_spec(path);
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    for (const ListItem& item : list.items) {
        std::string record{loop_option_of(item), channel_option_of(item)};
        std::string rest = item.name.substr(std::min(prefix.size(), item.name.size()));
        // Only a rest that reads back as the same name: a backslash reads back as a folder
        // separator, and leading slashes are dropped.
        bool relative = !prefix.empty() && item.name.compare(0, prefix.size(), prefix) == 0 &&
                        !rest.empty() && rest.front() != '/' &&
                        rest.find('\\') == std::string::npos;
        record += relative ? "*" + rest : item.name;
        if (record.size() >= 1 && record.size() <= max_list_string) {
            append_string(out, record);
        } else if (left_out != nullptr) {
            left_out->push_back(item.name);
        }
    }
    return out;
}

std::vector<uint8_t> stored_list_bytes(const TransferList& list,
                                       std::vector<std::string>* left_out) {
    std::vector<uint8_t> out;
    for (const ListItem& item : list.items) {
        // The whole record must fit, or reading it back would stop the list there.
        std::string record = std::string{loop_option_of(item), channel_option_of(item)} + item.name;
        if (!item.name.empty() && record.size() <= max_list_string) {
            append_string(out, record);
        } else if (left_out != nullptr) {
            left_out->push_back(item.name);
        }
    }
    return out;
}

bool load_file_list(TransferList& list, const std::string& path,
                    std::vector<FileProblem>* unreadable, std::string* reason) {
    auto bytes = read_whole_file(path, reason);
    if (!bytes) return false;
    FileListDocument document = parse_file_list(bytes->data(), bytes->size());
    if (!document.valid) {
        if (reason != nullptr) *reason = "not a Jx Filelist document";
        return false;
    }
    if (document.sample_position > 0) list.show_next.sample_position = document.sample_position;
    for (size_t n = list.items.size(); n > 0; --n) remove_entries(list, 0);
    add_records(list, document.records, path_remove_file_spec(path), unreadable);
    return true;
}

ListSave save_file_list(const TransferList& list, const std::string& path,
                        const std::string& samplepos) {
    const uint32_t position = read_unsigned(samplepos).value_or(0);
    std::vector<std::string> left_out;
    std::vector<uint8_t> bytes = file_list_bytes(list, path, position, &left_out);
    return write_list(path, bytes, std::move(left_out));
}

std::string stored_list_path() {
    std::string home = data_home();
    return home.empty() ? "" : path_append(home, "Tessarin/jx_files.dat");
}

void restore_list(TransferList& list) {
    std::string path = stored_list_path();
    if (path.empty()) return;
    auto bytes = read_whole_file(path);
    if (!bytes) return;
    add_records(list, parse_stored_list(bytes->data(), bytes->size()), "", nullptr);
}

ListSave store_list(const TransferList& list) {
    std::string path = stored_list_path();
    if (path.empty() || !make_folders(path_remove_file_spec(path))) return {};
    std::vector<std::string> left_out;
    std::vector<uint8_t> bytes = stored_list_bytes(list, &left_out);
    return write_list(path, bytes, std::move(left_out));
}

}  // namespace jx
