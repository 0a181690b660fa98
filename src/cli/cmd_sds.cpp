// jx-cli sds: the MIDI Sample Dump that Send sends for one sample file, written to a file.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/config.h"
#include "audio/sample_file.h"
#include "audio/sample_words.h"
#include "audio/sds_convert.h"
#include "cli/cli.h"
#include "platform/os/files.h"
#include "platform/window/window.h"
#include "transfer/entry_info.h"
#include "transfer/file_entry.h"

namespace jx::cli {

namespace {

const char* const sds_help =
    "usage: jx-cli sds FILE --out OUT.syx [--loop file|on|off] [--channel both|left|right]\n"
    "                  [--samplepos N] [--xsds] [--zbname] [--sds-dev N]\n\n"
    "Converts a WAV, AIFF or AIFC sample into the MIDI Sample Dump that Send sends for it with\n"
    "the SDS handshake off, and writes exactly those bytes, message after message, to OUT.syx:\n"
    "the header messages, then one 127-byte data packet for every 60, 40 or 30 words.\n\n"
    "  --out OUT.syx     where the dump is written\n"
    "  --loop MODE       file (the file's own loop; the default), on, off\n"
    "  --channel MODE    both (their mean; the default), left, right; a sample of more than\n"
    "                    two channels sends its first\n"
    "  --samplepos N     the Samplepos value: the dump goes to sample number N - 1 (default 1)\n"
    "  --xsds            an extended dump header and a sample name message carrying the file's\n"
    "                    name without folder and extension\n"
    "  --zbname          the KVR-9ZB name message with the name's four characters (for sample\n"
    "                    numbers up to 127)\n"
    "  --sds-dev N       the SDS device number, 0 to 127 (default 0)\n"
    "  --help            this text\n\n"
    "A file that cannot be read, is not a sample or cannot be converted is named on stderr with\n"
    "the reason, nothing is written, and the exit status is 1.\n";

int usage(const std::string& problem) {
    return usage_error("sds", problem);
}

int failure(const std::string& problem) {
    return cli::failure("sds", problem);
}

// Why a sample gives no dump: the File Info's failure text for a file that does not read, or
// what the converter found.
std::string conversion_problem(const Entry& entry, const SampleConversion& conversion) {
    SampleInfo info;
    if (parse_sample(info, entry.bytes(), entry.length()) == read_ok) return conversion.problem;
    std::string reason = describe_entry(entry).text;
    for (char& c : reason)
        if (c == '\t' || c == '\n') c = ' ';
    return reason;
}

}  // namespace

int cmd_sds(int argc, char** argv) {
    Arguments args = read_arguments(argc, argv,
                                    {{"out", "a file name"},
                                     {"loop", "file, on or off"},
                                     {"channel", "both, left or right"},
                                     {"samplepos", "a number"},
                                     {"sds-dev", "a number"},
                                     {"xsds"},
                                     {"zbname"}});
    if (args.help) return print_help(sds_help);
    if (!args.problem.empty()) return usage(args.problem);
    std::optional<std::string> out;
    SampleConversion conversion;
    conversion.device = Settings{}.sds_dev;
    uint32_t samplepos = 1;
    bool xsds = false, zbname = false;
    for (const auto& [name, value] : args.options) {
        if (name == "out") {
            if (value.empty()) return usage("--out needs a file name");
            out = value;
        } else if (name == "loop") {
            int mode = read_choice(value, {"file", "on", "off"});
            if (mode < 0) return usage("--loop takes file, on or off");
            conversion.loop_mode = static_cast<LoopMode>(mode);
        } else if (name == "channel") {
            std::optional<ChannelMode> mode = read_channel_mode(value);
            if (!mode) return usage("--channel takes both, left or right");
            conversion.channel_mode = *mode;
        } else if (name == "samplepos") {
            std::optional<uint32_t> n = read_decimal<uint32_t>(value, 0, UINT32_MAX);
            if (!n) return usage("--samplepos takes a number from 0 to 4294967295");
            samplepos = *n;
        } else if (name == "sds-dev") {
            const std::optional<uint8_t> n = read_sds_device(value);
            if (!n) return usage(text_sds_dev_range);
            conversion.device = *n;
        } else {
            (name == "xsds" ? xsds : zbname) = true;
        }
    }
    if (args.operands.size() > 1) return usage("give one sample file");
    if (args.operands.empty()) return usage("no sample file given");
    if (!out) return usage("--out is missing");
    const std::string& file = args.operands[0];
    if (is_one_of_the_inputs(*out, args.operands)) return usage(text_out_is_an_input(*out));

    std::string reason;
    std::unique_ptr<Entry> entry = read_file_entry(file, &reason);
    if (!entry) return failure("cannot read '" + file + "': " + reason);
    conversion.kind = sample_kind_of(entry->bytes(), entry->length());
    if (conversion.kind == 0) return failure("'" + file + "' is not a WAV, AIFF or AIFC sample");
    // The Samplepos value minus 1, never below 0; a number beyond the dump's 14 bits is refused
    // by the converter rather than sent to another slot.
    conversion.sample_number = static_cast<int32_t>(
        std::min<uint32_t>(samplepos > 0 ? samplepos - 1 : 0, static_cast<uint32_t>(INT32_MAX)));
    std::string name = sample_base_name(file);

    // The packets go to the file as they are made, a block at a time; the file replaces what
    // was at `out` only once it is whole.
    AtomicWrite output;
    if (!begin_atomic_write(*out, output))
        return failure("cannot write '" + *out + "': " + output.reason);
    std::vector<uint8_t> block;
    block.reserve(1 << 16);
    auto flush = [&] {
        write_atomic_bytes(output, block.data(), block.size());
        block.clear();
    };
    size_t total = convert_whole_sample(conversion, entry->bytes(), entry->length(),
                                        zbname ? sample_name_code(file) : 0,
                                        xsds ? std::optional<std::string_view>(name) : std::nullopt,
                                        [&](const uint8_t* message, size_t size) {
                                            block.insert(block.end(), message, message + size);
                                            if (block.size() >= (1 << 16) - 512) flush();
                                        });
    if (total == 0) {
        abort_atomic_write(output);
        return failure("cannot convert '" + file + "': " + conversion_problem(*entry, conversion));
    }
    flush();
    if (!commit_atomic_write(output))
        return failure("cannot write '" + *out + "': " + output.reason);
    return 0;
}

}  // namespace jx::cli
