#pragma once
// "Jx Filelist" documents and jx_files.dat, the list kept between runs. Both hold only each
// entry's option characters and path, as zero-terminated strings; every entry is read from disk
// again when a list is loaded.
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/file_entry.h"
#include "transfer/transfer_list.h"

namespace jx {

// The longest string either file holds before its zero byte.
constexpr size_t max_list_string = 259;

struct FileListRecord {
    char loop_option = mode_option(loop_file);
    char channel_option = mode_option(channel_both);
    bool relative = false;  // a '*' record: the path is below the document's folder
    std::string path;       // as stored; relative paths with '/' between folders
};

struct FileListDocument {
    bool valid = false;           // magic and version matched, and a sample position was there
    int32_t sample_position = 0;  // the leading decimal number of the stored text
    std::vector<FileListRecord> records;
};

// The document in the bytes. Reading stops at an empty string, at the end of the bytes, or at
// a string longer than max_list_string; records too short to name a file are passed over.
FileListDocument parse_file_list(const uint8_t* data, size_t length);
// The records of jx_files.dat, under the same reading rules; its paths are never relative.
std::vector<FileListRecord> parse_stored_list(const uint8_t* data, size_t length);
// The path a record names: a relative one joined to the document's folder.
std::string record_path(const FileListRecord& record, const std::string& folder);

// What a save wrote, and the entries it left out because their record would not fit.
struct ListSave {
    bool written = false;
    std::vector<std::string> left_out;
};

// The document for the list saved at `path`: entries below the document's folder get relative
// records. A sample position of 2^31 or more is stored as 0.
std::vector<uint8_t> file_list_bytes(const TransferList& list, const std::string& path,
                                     uint32_t sample_position, std::vector<std::string>* left_out);
// The contents of jx_files.dat for the list.
std::vector<uint8_t> stored_list_bytes(const TransferList& list,
                                       std::vector<std::string>* left_out);

// Replaces the list with the entries of the document at path; a position above 0 that the
// document holds is left in the list's show_next for the "Samplepos" edit. A document that cannot
// be read, or whose magic or version does not match, changes nothing. Records naming other
// documents are passed over, so that a document naming itself or another document cannot nest
// without end. Returns whether the document was loaded (`reason` says why not); the files its
// records name that could not be read are added to `unreadable` when given.
bool load_file_list(TransferList& list, const std::string& path,
                    std::vector<FileProblem>* unreadable = nullptr, std::string* reason = nullptr);
// Writes the list as a document at path, replacing the file only once it is complete. The
// document keeps the number the Samplepos edit's text starts with, 0 for none.
ListSave save_file_list(const TransferList& list, const std::string& path,
                        const std::string& samplepos);

// $XDG_DATA_HOME/Tessarin/jx_files.dat; empty when there is no data folder.
std::string stored_list_path();
// Appends the entries listed in jx_files.dat.
void restore_list(TransferList& list);
// Writes jx_files.dat, creating its folder; the old file stays until the new one is complete.
ListSave store_list(const TransferList& list);

}  // namespace jx
