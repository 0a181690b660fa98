// jx-cli save-list: writes a "Jx Filelist" document of files, as the Save button does.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/dialog_ids.h"
#include "platform/folders.h"
#include "platform/headless_window.h"
#include "platform/paths.h"
#include "platform/window.h"
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
    "  --samplepos N   the Samplepos value the document keeps (default 0)\n"
    "  --help          this text\n\n"
    "A file that cannot be read, or whose record would be longer than 259 characters, is\n"
    "named on stderr and left out; the others are still saved, and the exit status is 1.\n";

int usage(const char* problem) {
    std::fprintf(stderr, "jx-cli save-list: %s (try 'jx-cli save-list --help')\n", problem);
    return 2;
}

}  // namespace

int cmd_save_list(int argc, char** argv) {
    std::string samplepos;
    std::vector<std::string> names;
    bool options_done = false;
    for (int k = 0; k < argc; ++k) {
        const char* arg = argv[k];
        if (!options_done && !std::strcmp(arg, "--help")) {
            std::fputs(save_list_help, stdout);
            return 0;
        } else if (!options_done && !std::strcmp(arg, "--samplepos")) {
            if (k + 1 == argc) return usage("--samplepos needs a number");
            samplepos = argv[++k];
            if (samplepos.find_first_not_of("0123456789") != std::string::npos ||
                !read_unsigned(samplepos))
                return usage("--samplepos takes a number from 0 to 4294967295");
        } else if (!options_done && !std::strcmp(arg, "--")) {
            options_done = true;
        } else if (!options_done && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "jx-cli save-list: unknown option '%s'\n", arg);
            return 2;
        } else {
            names.push_back(arg);
        }
    }
    if (names.size() < 2) return usage("give the document and at least one file");
    // Guards against a shell pattern that would make a data file the document.
    if (path_find_extension(names[0]) != ".jx") return usage("the document's name must end in .jx");

    HeadlessWindow window;
    window.set_text(ids::samplepos, samplepos);
    TransferList list;
    list.window = &window;
    int status = 0;
    // Full paths, as the window's dialogs give them, so that records can be relative.
    for (size_t k = 1; k < names.size(); ++k) {
        for (const std::string& failed : add_files(list, absolute_path(names[k]), '0', '0')) {
            std::fprintf(stderr, "jx-cli save-list: cannot read '%s'\n", failed.c_str());
            status = 1;
        }
    }
    std::string out = absolute_path(names[0]);
    if (list.items.empty()) {
        // Writing now would replace a document the user may have with an empty one.
        std::fprintf(stderr,
                     "jx-cli save-list: none of the files could be read; '%s' not written\n",
                     out.c_str());
        return 1;
    }
    ListSave saved = save_file_list(list, out);
    if (!saved.written) {
        std::fprintf(stderr, "jx-cli save-list: cannot write '%s'\n", out.c_str());
        return 1;
    }
    for (const std::string& name : saved.left_out) {
        std::fprintf(stderr, "jx-cli save-list: '%s' left out: its record is too long\n",
                     name.c_str());
        status = 1;
    }
    return status;
}

}  // namespace jx::cli
