// jx-cli receive-file: a captured MIDI byte stream recorded as Receive records it, every entry
// stored written to a folder.
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/received_files.h"
#include "midi/recorder.h"
#include "platform/os/files.h"
#include "transfer/transfer_list.h"

namespace jx::cli {

namespace {

const char* const receive_file_help =
    "usage: jx-cli receive-file STREAM --out DIR [--format sds|wav|aiff|none]\n\n"
    "Replays a captured MIDI byte stream (for example a .syx file saved by another tool) through\n"
    "the recorder of the Receive button, framed as the MIDI input frames what arrives (real-time\n"
    "bytes passed over, a status byte cutting a message short), with the SDS handshake off since\n"
    "nobody is there to answer, then stops as Stop Rec does. Plain SysEx is kept byte for byte; "
    "Sample Dump\n"
    "Standard dumps are stored in the chosen form. Every entry stored is written to DIR as\n"
    "<name><ext>: the name \"unnamed<n>\" or the dump's four-character name, the extension .wav,\n"
    ".aif or .syx from the content; a name already written, or of a file already in DIR, gets\n"
    "-2, -3, ... before the extension (nothing in DIR is replaced), and '/' or a control\n"
    "character in a name becomes '_'. One JSON line per entry: {\"name\", \"file\", \"size\"}.\n\n"
    "  --out DIR       the folder the entries are written to (made when missing)\n"
    "  --format FORM   how sample dumps are stored: sds (their own messages; the default), wav,\n"
    "                  aiff, or none (the whole recording as one entry)\n"
    "  --help          this text\n\n"
    "A stream that cannot be read or a file that cannot be written is named on stderr, and the\n"
    "exit status is 1. An SDS message refused (a bad packet, a header that cannot be decoded) or\n"
    "a full receive buffer (8 MiB) ends the recording there, as Receive does: what came before\n"
    "is written, the rest of the stream is not, and the exit status is 1.\n";

int usage(const std::string& problem) {
    return usage_error("receive-file", problem);
}

int failure(const std::string& problem) {
    return cli::failure("receive-file", problem);
}

}  // namespace

int cmd_receive_file(int argc, char** argv) {
    Arguments args = read_arguments(
        argc, argv, {{"out", "a folder name"}, {"format", "sds, wav, aiff or none"}});
    if (args.help) return print_help(receive_file_help);
    if (!args.problem.empty()) return usage(args.problem);
    std::optional<std::string> out;
    Settings settings;
    settings.ignore_hs = 1;
    settings.rec_format = rec_sds;
    for (const auto& [name, value] : args.options) {
        if (name == "out") {
            if (value.empty()) return usage("--out needs a folder name");
            out = value;
        } else {
            const int format = read_choice(value, {"sds", "wav", "aiff", "none"});
            if (format < 0) return usage("--format takes sds, wav, aiff or none");
            settings.rec_format = format;
        }
    }
    if (args.operands.size() > 1) return usage("give one stream file");
    if (args.operands.empty()) return usage("no stream file given");
    if (!out) return usage("--out is missing");
    const std::string& file = args.operands[0];

    std::string reason;
    const std::optional<std::vector<uint8_t>> stream = read_whole_file(file, &reason);
    if (!stream) return failure("cannot read '" + file + "': " + reason);
    if (!make_received_folder(*out)) return failure("cannot make the folder '" + *out + "'");

    TransferState state;
    state.receive_state = receive_idle;
    TransferList list;
    std::mutex list_mutex;
    Recorder recorder;
    recorder.state = &state;
    recorder.settings = &settings;
    recorder.list = &list;
    recorder.list_mutex = &list_mutex;
    start_recording(recorder);
    if (!is_recording(recorder)) return failure("no memory for the receive buffer");
    replay_stream(recorder, stream->data(), stream->size());
    // A rejected SDS message or a full receive buffer ends the recording before the stream ends.
    const bool whole = is_recording(recorder);
    stop_recording(recorder);

    ReceivedFiles files;
    files.folder = *out;
    if (!write_new_entries(files, "receive-file", list, list_mutex, &recorder.partial_dumps))
        return 1;
    if (!whole)
        return failure("the recording stopped before the end of '" + file +
                       "' (an SDS message refused, or the receive buffer full)");
    return files.partial_dumps > 0 ? 1 : 0;
}

}  // namespace jx::cli
