// jx-cli ports: the MIDI inputs and outputs, with the indices --to and --from take.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/cli_midi.h"

namespace jx::cli {

namespace {

#ifdef _WIN32
const char* const ports_help =
    "usage: jx-cli ports\n\n"
    "Lists the MIDI inputs and outputs, one JSON line each:\n"
    "  {\"direction\": \"in\"|\"out\", \"index\": i, \"name\": ..., \"api\": "
    "\"Windows\"|\"virtual\"}\n"
    "The MIDI devices of Windows come first (a second device of one name gets \" (2)\"); then\n"
    "\"Virtual device\", the simulated instrument inside jx-cli. --to and --from take an index,\n"
    "a name, or a case-insensitive part of one name.\n";
#else
const char* const ports_help =
    "usage: jx-cli ports\n\n"
    "Lists the MIDI inputs and outputs, one JSON line each:\n"
    "  {\"direction\": \"in\"|\"out\", \"index\": i, \"name\": ..., \"api\": "
    "\"ALSA\"|\"JACK\"|\"virtual\"}\n"
    "The ports of the MIDI server come first: the ALSA sequencer where /dev/snd/seq exists,\n"
    "else JACK when a server runs (JX_MIDI_API=alsa|jack picks one); then \"Virtual device\",\n"
    "the simulated instrument inside jx-cli. --to and --from take an index, a name, or a\n"
    "case-insensitive part of one name. When the server cannot be used, the reason is said on\n"
    "stderr and only the virtual device is listed.\n";
#endif

}  // namespace

int cmd_ports(int argc, char** argv) {
    Arguments args = read_arguments(argc, argv, {});
    if (args.help) return print_help(ports_help);
    if (!args.problem.empty()) return usage_error("ports", args.problem);
    if (!args.operands.empty())
        return usage_error("ports", "unexpected argument '" + args.operands.front() + "'");
    CliMidi midi;
    if (!midi.server->unavailable_reason().empty())
        std::fprintf(stderr, "jx-cli ports: %s\n", midi.server->unavailable_reason().c_str());
    for (bool output : {false, true}) {
        MidiService& service = *midi.service;
        const int count = output ? midi_out_count(service) : midi_in_count(service);
        const int server_count = output ? midi.server->out_count() : midi.server->in_count();
        for (int i = 0; i < count; ++i)
            print_json_line(
                {{"direction", output ? "out" : "in"},
                 {"index", i},
                 {"name", output ? midi_out_name(service, i) : midi_in_name(service, i)},
                 {"api", i < server_count ? midi.server->api_name() : "virtual"}});
    }
    return 0;
}

}  // namespace jx::cli
