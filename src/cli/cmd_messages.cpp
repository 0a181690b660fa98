// jx-cli messages: the messages of a file one by one, as the inspector lists them.
#include <cstdio>
#include <string>

#include "analysis/message_table.h"
#include "audio/sample_file.h"
#include "cli/cli.h"
#include "transfer/file_entry.h"

namespace jx::cli {

namespace {

const char* const messages_help =
    "usage: jx-cli messages FILE [--json] [--hex]\n\n"
    "Lists every System Exclusive message of the file, one line each: its offset and length in\n"
    "bytes, the maker id, the device code (the channel of a universal message), what the\n"
    "analysis takes it for (kit, sound, pattern, song, global, settings, waveform, upgrade block,\n"
    "upgrade control, sample dump header, sample dump packet, sample name, universal, other),\n"
    "its number (the record's position, the sample or packet number; - without one), and why it\n"
    "is damaged (cut short, bad checksum, bad length, upgrade packet out of order or bad\n"
    "checksum).\n\n"
    "  --json   one JSON object per message: {\"offset\", \"length\", \"maker\", \"device\",\n"
    "           \"kind\", \"number\", \"damaged\", \"reason\"} (device and number null without "
    "one)\n"
    "  --hex    adds the message's bytes in hex (\"hex\" with --json)\n"
    "  --help   this text\n\n"
    "Exit status 1 when the file cannot be read or is a WAV, AIFF or AIFC sample.\n";

std::string hex_text(const uint8_t* bytes, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (size_t k = 0; k < length; ++k) {
        if (k > 0) text += ' ';
        text += digits[bytes[k] >> 4];
        text += digits[bytes[k] & 15];
    }
    return text;
}

}  // namespace

int cmd_messages(int argc, char** argv) {
    Arguments args = read_arguments(argc, argv, {{"json"}, {"hex"}});
    if (args.help) return print_help(messages_help);
    if (!args.problem.empty()) return usage_error("messages", args.problem);
    if (args.operands.size() != 1) return usage_error("messages", "give exactly one file");
    bool json = false, hex = false;
    for (const auto& [name, value] : args.options) (name == "json" ? json : hex) = true;

    const std::string& file = args.operands[0];
    std::string reason;
    std::unique_ptr<Entry> entry = read_file_entry(file, &reason);
    if (!entry) return failure("messages", "cannot read '" + file + "': " + reason);

    if (is_sample(entry->bytes(), entry->length()))
        return failure("messages",
                       "'" + file + "' is a sample file, which holds no SysEx messages");

    for (const MessageRow& row : list_messages(entry->bytes(), entry->length())) {
        const uint8_t* bytes = entry->bytes() + row.offset;
        if (json) {
            nlohmann::ordered_json line = {
                {"offset", row.offset},
                {"length", row.length},
                {"maker", maker_text(row)},
                {"device", row.device >= 0 ? nlohmann::ordered_json(row.device) : nullptr},
                {"kind", kind_text(row.kind)},
                {"number", row.number >= 0 ? nlohmann::ordered_json(row.number) : nullptr},
                {"damaged", row.damage != MessageDamage::none},
                {"reason", damage_text(row.damage)}};
            if (hex) line["hex"] = hex_text(bytes, row.length);
            print_json_line(line);
            continue;
        }
        char device[16] = "-", number[16] = "-";
        if (row.device >= 0) std::snprintf(device, sizeof device, "%02X", row.device);
        if (row.number >= 0) std::snprintf(number, sizeof number, "%d", row.number);
        std::printf("%10zu %8zu  %-8s %-3s %-19s %6s  %s\n", row.offset, row.length,
                    maker_text(row).c_str(), device, kind_text(row.kind), number,
                    damage_text(row.damage));
        if (hex) std::printf("  %s\n", hex_text(bytes, row.length).c_str());
    }
    return 0;
}

}  // namespace jx::cli
