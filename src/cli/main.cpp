// jx-cli: the command-line companion of jx, for scripts and machines without a screen.
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "platform/os/console.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

const Command commands[] = {
    {"info", jx::cli::cmd_info, "describe files as the File Info panel does"},
    {"config", jx::cli::cmd_config, "show the settings, or change preferences with --set"},
    {"save-list", jx::cli::cmd_save_list, "save files as a Jx Filelist document"},
    {"sds", jx::cli::cmd_sds, "write the MIDI Sample Dump that Send sends for a sample"},
    {"tonepak", jx::cli::cmd_tonepak, "turn samples into TonePAK waveform messages"},
    {"ports", jx::cli::cmd_ports, "list the MIDI inputs and outputs"},
    {"send", jx::cli::cmd_send, "send files to a MIDI output as Send does"},
    {"receive", jx::cli::cmd_receive,
     "record what arrives at a MIDI input as Receive does and write the entries"},
    {"receive-file", jx::cli::cmd_receive_file,
     "record a captured MIDI stream as Receive does and write the entries"},
    {"messages", jx::cli::cmd_messages, "list the SysEx messages of a file and their damage"},
    {"waveform", jx::cli::cmd_waveform, "draw the waveform of a sample or dump as SVG or PNG"},
};

void print_usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: jx-cli COMMAND [ARGS...]\n\n"
                 "Moves MIDI SysEx dumps and samples between files and instruments.\n\n"
                 "Commands:\n");
    for (const Command& c : commands) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
    std::fprintf(out,
                 "\n'jx-cli COMMAND --help' explains a command; 'jx-cli --version' prints the "
                 "version.\n");
}

}  // namespace

int main(int argc, char** argv) {
    jx::use_utf8_binary_console(argc, argv);
    if (argc < 2) {
        print_usage(stderr);
        return 2;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
        !std::strcmp(argv[1], "help")) {
        print_usage(stdout);
        return jx::finish_output("jx-cli", 0);
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("jx-cli %s\n", JX_VERSION);
        return jx::finish_output("jx-cli", 0);
    }
    // What a command printed reaches its reader, or the command fails: a listing cut short by a
    // full disk is no success.
    for (const Command& c : commands)
        if (!std::strcmp(argv[1], c.name))
            return jx::finish_output("jx-cli", c.run(argc - 1, argv + 1));
    std::fprintf(stderr, "jx-cli: unknown command '%s' (try 'jx-cli --help')\n", argv[1]);
    return 2;
}
