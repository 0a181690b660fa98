// jx-cli info: what the program shows for each file in the Type, Size and File Info columns.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/json.h"
#include "platform/dialog_ids.h"
#include "platform/headless_window.h"
#include "platform/paths.h"
#include "transfer/add_files.h"
#include "transfer/entry_info.h"

namespace jx::cli {

namespace {

const char* const info_help =
    "usage: jx-cli info [--json] FILE...\n\n"
    "Adds each file to a transfer list as the Load button does and prints, for every entry,\n"
    "its Type code, its Size text and the File Info text the window shows for it.\n\n"
    "  --json   one JSON object per line: {\"file\", \"type\", \"size\", \"info\"}\n"
    "  --help   this text\n\n"
    "A file that cannot be read is named on stderr; the others are still described, and the\n"
    "exit status is 1.\n";

void print_item(TransferList& list, HeadlessWindow& window, size_t index, bool json) {
    const ListItem& item = list.items[index];
    show_entry_info(list, item.entry.get());
    std::string info = window.text(ids::file_info);
    if (json) {
        std::printf("{\"file\": %s, \"type\": %s, \"size\": %s, \"info\": %s}\n",
                    json_string(item.name).c_str(), json_string(item.type_text).c_str(),
                    json_string(item.size_text).c_str(), json_string(info).c_str());
        return;
    }
    std::printf("%s\n  Type: %s  Size: %s\n", item.name.c_str(), item.type_text.c_str(),
                item.size_text.c_str());
    size_t start = 0;
    while (start < info.size()) {
        size_t end = info.find('\n', start);
        if (end == std::string::npos) end = info.size();
        std::printf("  %s\n", info.substr(start, end - start).c_str());
        start = end + 1;
    }
}

}  // namespace

int cmd_info(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    bool options_done = false;
    for (int k = 0; k < argc; ++k) {
        const char* arg = argv[k];
        if (!options_done && !std::strcmp(arg, "--help")) {
            std::fputs(info_help, stdout);
            return 0;
        } else if (!options_done && !std::strcmp(arg, "--json")) {
            json = true;
        } else if (!options_done && !std::strcmp(arg, "--")) {
            options_done = true;
        } else if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "jx-cli info: unknown option '%s'\n", arg);
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::fputs("jx-cli info: no file given (try 'jx-cli info --help')\n", stderr);
        return 2;
    }

    HeadlessWindow window;
    TransferList list;
    list.window = &window;
    int status = 0;
    for (const std::string& file : files) {
        size_t before = list.items.size();
        bool document_failed = false;
        for (const std::string& failed : add_files(list, file, '0', '0')) {
            std::fprintf(stderr, "jx-cli info: cannot read '%s'\n", failed.c_str());
            document_failed = document_failed || failed == file;
            status = 1;
        }
        // A loaded file-list document replaces the whole list: describe everything it brought in.
        if (path_find_extension(file) == ".jx" && !document_failed) before = 0;
        for (size_t index = before; index < list.items.size(); ++index)
            print_item(list, window, index, json);
        std::fflush(stdout);
    }
    return status;
}

}  // namespace jx::cli
