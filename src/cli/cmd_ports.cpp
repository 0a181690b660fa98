// jx-cli ports: the MIDI inputs and outputs, with the indices --to and --from take.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_midi.h"
#include "cli/commands.h"
#include "cli/json.h"

namespace jx::cli {

namespace {

const char* const ports_help =
    "usage: jx-cli ports\n\n"
    "Lists the MIDI inputs and outputs, one JSON line each:\n"
    "  {\"direction\": \"in\"|\"out\", \"index\": i, \"name\": ...}\n"
    "The ports of the MIDI server come first (JX_MIDI_API=alsa|jack picks the server), then\n"
    "\"Virtual device\", the simulated instrument inside jx-cli. --to and --from take an index\n"
    "or a case-insensitive part of a name. When the server cannot be used, the reason is said\n"
    "on stderr and only the virtual device is listed.\n";

}  // namespace

int cmd_ports(int argc, char** argv) {
    for (int k = 0; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--help")) {
            std::fputs(ports_help, stdout);
            return 0;
        }
        std::fprintf(stderr, "jx-cli ports: unexpected argument '%s' (try 'jx-cli ports --help')\n",
                     argv[k]);
        return 2;
    }
    CliMidi midi;
    if (!midi.rtmidi.unavailable_reason().empty())
        std::fprintf(stderr, "jx-cli ports: %s\n", midi.rtmidi.unavailable_reason().c_str());
    for (bool output : {false, true}) {
        const int count = output ? midi_out_count(*midi.service) : midi_in_count(*midi.service);
        for (int i = 0; i < count; ++i) {
            const std::string name =
                output ? midi_out_name(*midi.service, i) : midi_in_name(*midi.service, i);
            std::printf("{\"direction\": \"%s\", \"index\": %d, \"name\": %s}\n",
                        output ? "out" : "in", i, json_string(name).c_str());
        }
    }
    return 0;
}

}  // namespace jx::cli
