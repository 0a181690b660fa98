// jx-cli info: what the program shows for each file in the Type, Size and File Info columns.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/os/paths.h"
#include "transfer/add_files.h"
#include "transfer/entry_info.h"

namespace jx::cli {

namespace {

const char* const info_help =
    "usage: jx-cli info [--json] FILE...\n\n"
    "Adds each file to a transfer list as the Load button does and prints, for every entry,\n"
    "its Type code, its Size text and the File Info text the window shows for it. A Standard\n"
    "MIDI File (.mid) is one entry of its SysEx messages in file order.\n\n"
    "  --json   one JSON object per line: {\"file\", \"type\", \"size\", \"info\"}\n"
    "  --help   this text\n\n"
    "A file that cannot be read (a damaged MIDI file too) is named on stderr with the reason;\n"
    "the others are still described, and the exit status is 1.\n";

void print_item(const TransferList& list, size_t index, bool json) {
    const ListItem& item = list.items[index];
    const std::string info = describe_entry(*item.entry).text;
    if (json) {
        print_json_line({{"file", item.name},
                         {"type", item.type_text},
                         {"size", item.size_text},
                         {"info", info}});
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
    Arguments args = read_arguments(argc, argv, {{"json"}});
    if (args.help) return print_help(info_help);
    if (!args.problem.empty()) return usage_error("info", args.problem);
    const bool json = !args.options.empty();
    const std::vector<std::string>& files = args.operands;
    if (files.empty()) return usage_error("info", "no file given");

    TransferList list;
    int status = 0;
    for (const std::string& file : files) {
        size_t before = list.items.size();
        bool document_failed = false;
        for (const FileProblem& failed :
             add_files(list, file, mode_option(loop_file), mode_option(channel_both))) {
            status = failure("info", "cannot read '" + failed.path + "': " + failed.reason);
            document_failed = document_failed || failed.path == file;
        }
        // A loaded file-list document replaces the whole list: describe everything it brought in.
        if (path_find_extension(file) == ".jx" && !document_failed) before = 0;
        // Each entry's bytes are let go once it is described, so that a run over many large
        // files holds about one of them at a time.
        for (size_t index = before; index < list.items.size(); ++index) {
            print_item(list, index, json);
            std::vector<uint8_t>().swap(list.items[index].entry->data);
        }
        std::fflush(stdout);
    }
    return status;
}

}  // namespace jx::cli
