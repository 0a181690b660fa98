// jx-cli tonepak: the TonePAK button on files, with each waveform written to a folder.
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio/waveform_synthesis.h"
#include "cli/cli.h"
#include "platform/os/files.h"
#include "platform/os/folders.h"
#include "platform/os/paths.h"
#include "transfer/add_files.h"
#include "transfer/entry_info.h"
#include "transfer/tonepak_convert.h"

namespace jx::cli {

namespace {

constexpr size_t tonepak_slots = 64;

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

}  // namespace

int cmd_tonepak(int argc, char** argv) {
    Arguments args =
        read_arguments(argc, argv, {{"out", "a folder"}, {"channel", "both, left or right"}});
    if (args.help) return print_help(tonepak_help);
    if (!args.problem.empty()) return usage_error("tonepak", args.problem);
    std::optional<std::string> out;
    std::optional<ChannelMode> channel_mode;  // none: each entry keeps its own option
    for (const auto& [name, value] : args.options) {
        if (name == "out") {
            if (value.empty()) return usage_error("tonepak", "--out needs a folder");
            out = value;
        } else {
            channel_mode = read_channel_mode(value);
            if (!channel_mode) return usage_error("tonepak", "--channel takes both, left or right");
        }
    }
    const std::vector<std::string>& files = args.operands;
    if (files.empty()) return usage_error("tonepak", "no file given");
    if (!out) return usage_error("tonepak", "--out is missing");
    if (is_one_of_the_inputs(*out, files))
        return usage_error("tonepak", text_out_is_an_input(*out));

    int status = 0;
    TransferList list;
    for (const std::string& file : files) {
        for (const FileProblem& failed :
             add_files(list, file, mode_option(loop_file), mode_option(channel_both))) {
            status = failure("tonepak", "cannot read '" + failed.path + "': " + failed.reason);
        }
    }
    for (size_t index = 0; index < list.items.size(); ++index) {
        if (channel_mode) list.items[index].entry->channel_option = mode_option(*channel_mode);
        set_selected(list, static_cast<int>(index), true);
    }
    if (!make_folders(*out)) return failure("tonepak", "cannot make the folder '" + *out + "'");
    FftTables tables;
    if (fft_init(tables, tonepak_max_frames, fft_flag::any_length) != 0)
        return failure("tonepak", "cannot build the transform tables");

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
            status = failure("tonepak", "'" + names[index] + "' passed over (" + reasons[index] +
                                            "); waveform slot " + std::to_string(index & 0x3F) +
                                            " stays unused");
            continue;
        }
        std::string name = entry_name(list, static_cast<int>(index));
        std::string path = path_append(*out, name);
        const Entry& entry = *list.items[index].entry;
        // Two samples of the same name would give one file: the first one written stays.
        if (!written.insert(name).second) {
            status = failure(
                "tonepak", "'" + names[index] + "' not written: an earlier waveform has its name");
            continue;
        }
        if (!write_file_atomically(path, entry.bytes(), entry.length())) {
            status = failure("tonepak", "cannot write '" + path + "'");
            continue;
        }
        print_json_line({{"name", name}, {"file", path}, {"size", entry.length()}});
        // The message has room for 64 slot numbers; the 65th entry goes to slot 0 again.
        if (index >= tonepak_slots)
            std::fprintf(stderr,
                         "jx-cli tonepak: '%s' is entry %zu but goes to waveform slot %zu: there "
                         "are %zu slots, so it takes the place of entry %zu on the device\n",
                         names[index].c_str(), index + 1, index % tonepak_slots, tonepak_slots,
                         index % tonepak_slots + 1);
    }
    return status;
}

}  // namespace jx::cli
