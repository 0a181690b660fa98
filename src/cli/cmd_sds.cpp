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
#include "cli/commands.h"
#include "cli/options.h"
#include "platform/files.h"
#include "platform/window.h"
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
    "  --sds-dev N       the SDS device number, 0 to 255 (default 0)\n"
    "  --help            this text\n\n"
    "A file that cannot be read, is not a sample or cannot be converted is named on stderr with\n"
    "the reason, nothing is written, and the exit status is 1.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "jx-cli sds: %s (try 'jx-cli sds --help')\n", problem.c_str());
    return 2;
}

int failure(const std::string& problem) {
    std::fprintf(stderr, "jx-cli sds: %s\n", problem.c_str());
    return 1;
}

// A number of decimal digits only, up to the largest given.
std::optional<uint32_t> read_number(const char* text, uint32_t largest) {
    std::string digits = text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::optional<uint32_t> value = read_unsigned(digits);
    if (!value || *value > largest) return std::nullopt;
    return value;
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
    std::optional<std::string> file, out;
    SampleConversion conversion;
    conversion.device = Settings{}.sds_dev;
    uint32_t samplepos = 1;
    bool xsds = false, zbname = false, options_done = false;
    for (int k = 0; k < argc; ++k) {
        const char* arg = argv[k];
        auto value = [&]() -> const char* { return k + 1 < argc ? argv[++k] : nullptr; };
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            if (file) return usage("give one sample file");
            file = arg;
        } else if (!std::strcmp(arg, "--help")) {
            std::fputs(sds_help, stdout);
            return 0;
        } else if (!std::strcmp(arg, "--")) {
            options_done = true;
        } else if (!std::strcmp(arg, "--out")) {
            const char* v = value();
            if (!v || !*v) return usage("--out needs a file name");
            out = v;
        } else if (!std::strcmp(arg, "--loop")) {
            const char* v = value();
            int mode = v ? option_index(v, {"file", "on", "off"}) : -1;
            if (mode < 0) return usage("--loop takes file, on or off");
            conversion.loop_mode = static_cast<LoopMode>(mode);
        } else if (!std::strcmp(arg, "--channel")) {
            const char* v = value();
            int mode = v ? channel_option_mode(v) : -1;
            if (mode < 0) return usage("--channel takes both, left or right");
            conversion.channel_mode = static_cast<ChannelMode>(mode);
        } else if (!std::strcmp(arg, "--samplepos")) {
            const char* v = value();
            std::optional<uint32_t> n = v ? read_number(v, UINT32_MAX) : std::nullopt;
            if (!n) return usage("--samplepos takes a number from 0 to 4294967295");
            samplepos = *n;
        } else if (!std::strcmp(arg, "--sds-dev")) {
            const char* v = value();
            std::optional<uint32_t> n = v ? read_number(v, 255) : std::nullopt;
            if (!n) return usage("--sds-dev takes a number from 0 to 255");
            conversion.device = static_cast<uint8_t>(*n);
        } else if (!std::strcmp(arg, "--xsds")) {
            xsds = true;
        } else if (!std::strcmp(arg, "--zbname")) {
            zbname = true;
        } else {
            return usage(std::string("unknown option '") + arg + "'");
        }
    }
    if (!file) return usage("no sample file given");
    if (!out) return usage("--out is missing");

    std::string reason;
    std::unique_ptr<Entry> entry = read_file_entry(*file, &reason);
    if (!entry) return failure("cannot read '" + *file + "': " + reason);
    conversion.kind = sample_kind_of(entry->bytes(), entry->length());
    if (conversion.kind == 0) return failure("'" + *file + "' is not a WAV, AIFF or AIFC sample");
    // The Samplepos value minus 1, never below 0; a number beyond the dump's 14 bits is refused
    // by the converter rather than sent to another slot.
    conversion.sample_number = static_cast<int32_t>(
        std::min<uint32_t>(samplepos > 0 ? samplepos - 1 : 0, static_cast<uint32_t>(INT32_MAX)));
    std::string name = sample_base_name(*file);

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
                                        zbname ? sample_name_code(*file) : 0,
                                        xsds ? std::optional<std::string_view>(name) : std::nullopt,
                                        [&](const uint8_t* message, size_t size) {
                                            block.insert(block.end(), message, message + size);
                                            if (block.size() >= (1 << 16) - 512) flush();
                                        });
    if (total == 0) {
        abort_atomic_write(output);
        return failure("cannot convert '" + *file + "': " + conversion_problem(*entry, conversion));
    }
    flush();
    if (!commit_atomic_write(output))
        return failure("cannot write '" + *out + "': " + output.reason);
    return 0;
}

}  // namespace jx::cli
