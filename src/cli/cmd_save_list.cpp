// jx-cli save-list: writes a "Jx Filelist" document of files, as the Save button does.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/os/folders.h"
#include "platform/os/paths.h"
#include "transfer/add_files.h"
#include "transfer/file_list.h"

namespace jx::cli {

namespace {

const char* const save_list_help =
    "usage: jx-cli save-list OUT.jx [--samplepos N] FILE...\n\n"
    "Adds each FILE to a transfer list as the Load button does and saves the list as a\n"
    "\"Jx Filelist\" document at OUT.jx: entries in the document's folder or below it are\n"
    "stored relative to it, the others with their full path. A .jx FILE is opened as a\n"
    "document, replacing the entries before it, as opening it in the window does.\n\n"
    "  --samplepos N   the Samplepos value the document keeps, 0 to 2147483647 (default 0)\n"
    "  --help          this text\n\n"
    "A file that cannot be read, or whose record would be longer than 259 characters, is\n"
    "named on stderr and left out; the others are still saved, and the exit status is 1.\n";

}  // namespace

int cmd_save_list(int argc, char** argv) {
    Arguments args = read_arguments(argc, argv, {{"samplepos", "a number"}});
    if (args.help) return print_help(save_list_help);
    if (!args.problem.empty()) return usage_error("save-list", args.problem);
    std::string samplepos;  // kept as given: the Samplepos edit's text
    for (const auto& [name, value] : args.options) {
        // The document keeps a signed 32-bit position: a larger one would be stored as 0.
        if (!read_decimal<uint32_t>(value, 0, INT32_MAX))
            return usage_error("save-list", "--samplepos takes a number from 0 to 2147483647");
        samplepos = value;
    }
    const std::vector<std::string>& names = args.operands;
    if (names.size() < 2)
        return usage_error("save-list", "give the document and at least one file");
    // Guards against a shell pattern that would make a data file the document.
    if (path_find_extension(names[0]) != ".jx")
        return usage_error("save-list", "the document's name must end in .jx");

    TransferList list;
    int status = 0;
    // Full paths, as the window's dialogs give them, so that records can be relative.
    // The document needs the entries' names and options only: each entry's bytes are let go
    // once it is in the list, so that many large files are held one at a time.
    for (size_t k = 1; k < names.size(); ++k) {
        size_t before = list.items.size();
        for (const FileProblem& failed : add_files(
                 list, absolute_path(names[k]), mode_option(loop_file), mode_option(channel_both)))
            status = failure("save-list", "cannot read '" + failed.path + "': " + failed.reason);
        for (size_t index = before; index < list.items.size(); ++index)
            std::vector<uint8_t>().swap(list.items[index].entry->data);
    }
    std::string out = absolute_path(names[0]);
    if (list.items.empty()) {
        // Writing now would replace a document the user may have with an empty one.
        return failure("save-list", "none of the files could be read; '" + out + "' not written");
    }
    // A document among the files sets the Samplepos edit, as loading it in the window does.
    if (list.show_next.sample_position) samplepos = std::to_string(*list.show_next.sample_position);
    ListSave saved = save_file_list(list, out, samplepos);
    if (!saved.written) return failure("save-list", "cannot write '" + out + "'");
    for (const std::string& name : saved.left_out)
        status = failure("save-list", "'" + name + "' left out: its record is too long");
    return status;
}

}  // namespace jx::cli
