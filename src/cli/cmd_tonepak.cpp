// jx-cli tonepak: the TonePAK button on files, with each waveform written to a folder.
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio/waveform_synthesis.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/options.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/headless_window.h"
#include "platform/paths.h"
#include "transfer/add_files.h"
#include "transfer/entry_info.h"
#include "transfer/tonepak_convert.h"

namespace jx::cli {

namespace {

const char* const tonepak_help =
    "usage: jx-cli tonepak FILE... --out DIR [--channel both|left|right]\n\n"
    "Adds the files to a transfer list in this order as the Load button does, selects them all\n"
    "and presses TonePAK: each sample becomes one TonePAK waveform message for device 03, from\n"
    "its loop (or the whole sample), in waveform slot n for the n-th entry (from 0). Each new\n"
    "entry is written to DIR under its entry name (the sample's name with \".syx\"), and one\n"
    "JSON line {\"name\", \"file\", \"size\"} is printed for it.\n\n"
    "  --out DIR         the folder the waveforms are written to; made when missing\n"
    "  --channel MODE    the channel option of every entry: both (their mean), left, right\n"
    "  --help            this text\n\n"
    "An entry that cannot become a waveform (not a sample, unreadable sample, three channels or\n"
    "more, a loop of 16384 frames or more) is named on stderr and uses up its slot; a file that\n"
    "cannot be read is named on stderr. Either makes the exit status 1.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "jx-cli tonepak: %s (try 'jx-cli tonepak --help')\n", problem.c_str());
    return 2;
}

}  // namespace

int cmd_tonepak(int argc, char** argv) {
    std::vector<std::string> files;
    std::optional<std::string> out;
    int channel_mode = -1;  // -1: each entry keeps its own option
    bool options_done = false;
    for (int k = 0; k < argc; ++k) {
        const char* arg = argv[k];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            files.push_back(arg);
        } else if (!std::strcmp(arg, "--help")) {
            std::fputs(tonepak_help, stdout);
            return 0;
        } else if (!std::strcmp(arg, "--")) {
            options_done = true;
        } else if (!std::strcmp(arg, "--out")) {
            if (k + 1 == argc || !*argv[k + 1]) return usage("--out needs a folder");
            out = argv[++k];
        } else if (!std::strcmp(arg, "--channel")) {
            channel_mode = k + 1 < argc ? channel_option_mode(argv[++k]) : -1;
            if (channel_mode < 0) return usage("--channel takes both, left or right");
        } else {
            return usage(std::string("unknown option '") + arg + "'");
        }
    }
    if (files.empty()) return usage("no file given");
    if (!out) return usage("--out is missing");

    int status = 0;
    HeadlessWindow window;
    TransferList list;
    list.window = &window;
    for (const std::string& file : files) {
        for (const FileProblem& failed : add_files(list, file, '0', '0')) {
            std::fprintf(stderr, "jx-cli tonepak: cannot read '%s': %s\n", failed.path.c_str(),
                         failed.reason.c_str());
            status = 1;
        }
    }
    for (size_t index = 0; index < list.items.size(); ++index) {
        if (channel_mode >= 0) list.items[index].entry->channel_option = char('0' + channel_mode);
        set_selected(list, static_cast<int>(index), true);
    }
    if (!make_folders(*out)) {
        std::fprintf(stderr, "jx-cli tonepak: cannot make the folder '%s'\n", out->c_str());
        return 1;
    }
    FftTables tables;
    if (fft_init(tables, tonepak_max_frames, fft_flag::any_length) != 0) {
        std::fputs("jx-cli tonepak: cannot build the transform tables\n", stderr);
        return 1;
    }

    std::vector<std::string> names;
    std::vector<const char*> reasons;
    for (size_t index = 0; index < list.items.size(); ++index) {
        names.push_back(entry_name(list, static_cast<int>(index)));
        // Why an entry would be passed over, for the user: the panel's rules for the button.
        EntryInfo info = describe_entry(*list.items[index].entry);
        reasons.push_back(!info.is_sample     ? "not a sample"
                          : !info.enable_loop ? "the sample cannot be read"
                          : !info.enable_tonepak
                              ? "a waveform needs one or two channels and a loop shorter than "
                                "16384 frames"
                              : "the waveform could not be built");
    }
    TonepakOutcome outcome = convert_to_tonepak(list, tables, false);
    std::set<int> converted(outcome.converted.begin(), outcome.converted.end());
    std::set<std::string> written;
    for (size_t index = 0; index < list.items.size(); ++index) {
        if (!converted.count(static_cast<int>(index))) {
            std::fprintf(stderr,
                         "jx-cli tonepak: '%s' passed over (%s); waveform slot %zu stays unused\n",
                         names[index].c_str(), reasons[index], index & 0x3F);
            status = 1;
            continue;
        }
        std::string name = entry_name(list, static_cast<int>(index));
        std::string path = path_append(*out, name);
        const Entry& entry = *list.items[index].entry;
        // Two samples of the same name would give one file: the first one written stays.
        if (!written.insert(name).second) {
            std::fprintf(stderr,
                         "jx-cli tonepak: '%s' not written: an earlier waveform has its name\n",
                         names[index].c_str());
            status = 1;
            continue;
        }
        if (!write_file_atomically(path, entry.bytes(), entry.length())) {
            std::fprintf(stderr, "jx-cli tonepak: cannot write '%s'\n", path.c_str());
            status = 1;
            continue;
        }
        std::printf("{\"name\": %s, \"file\": %s, \"size\": %zu}\n", json_string(name).c_str(),
                    json_string(path).c_str(), entry.length());
    }
    return status;
}

}  // namespace jx::cli
