#pragma once
// What every jx-cli command shares: reading its arguments, the usage-error and failure lines,
// numbers and choices from option values, and JSON result lines. A command is a function
// `int cmd_NAME(int argc, char** argv)` in its own cmd_NAME.cpp, listed in main.cpp; argv[0] is
// the command's name.
#include <charconv>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/sample_modes.h"

namespace jx::cli {

int cmd_info(int argc, char** argv);
int cmd_config(int argc, char** argv);
int cmd_save_list(int argc, char** argv);
int cmd_sds(int argc, char** argv);
int cmd_tonepak(int argc, char** argv);
int cmd_ports(int argc, char** argv);
int cmd_send(int argc, char** argv);
int cmd_receive(int argc, char** argv);
int cmd_receive_file(int argc, char** argv);
int cmd_messages(int argc, char** argv);
int cmd_waveform(int argc, char** argv);

// One long option of a command: --name, or --name VALUE / --name=VALUE when it takes a value.
struct OptionSpec {
    const char* name;             // without the leading "--"
    const char* value = nullptr;  // what the value is, for "--name needs a file name"; none: a flag
};

// A command's arguments as given: its options in order, each with its value ("" for a flag), and
// the operands, which may stand before, between and after the options; everything after "--" is an
// operand.
struct Arguments {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> operands;
    bool help = false;    // --help came before any error: print the help and do nothing else
    std::string problem;  // the first usage error; empty when there is none
};

// Reads argv[1..argc-1] (argv[0] is the command's name) with getopt_long: long options only,
// spelled out in full.
Arguments read_arguments(int argc, char** argv, std::initializer_list<OptionSpec> specs);

// The one line of a usage error, "jx-cli COMMAND: PROBLEM (try 'jx-cli COMMAND --help')", on
// stderr; returns the exit status 2.
int usage_error(const char* command, const std::string& problem);
// The one line of a failed piece of work, "jx-cli COMMAND: PROBLEM", on stderr; returns 1.
int failure(const char* command, const std::string& problem);
// The command's help text on stdout; returns 0.
int print_help(const char* help);

// The whole text as a decimal number from low to high (digits, and a minus sign for a signed
// type); nothing for any other text.
template <class Number>
std::optional<Number> read_decimal(std::string_view text, Number low, Number high) {
    Number value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < low || value > high)
        return std::nullopt;
    return value;
}

// An SDS device number, 0 to 127: the messages carry seven bits of it, so a larger one would
// reach another device. Nothing for any other text.
inline std::optional<uint8_t> read_sds_device(std::string_view text) {
    const std::optional<uint32_t> n = read_decimal<uint32_t>(text, 0, 127);
    return n ? std::optional<uint8_t>(static_cast<uint8_t>(*n)) : std::nullopt;
}
constexpr const char* text_sds_dev_range = "--sds-dev takes a number from 0 to 127";

// Whether `out` names one of the input files (by another path too): writing it would replace an
// input with what was made of it.
bool is_one_of_the_inputs(const std::string& out, const std::vector<std::string>& inputs);
// The usage error for such an --out.
std::string text_out_is_an_input(const std::string& out);

// The position of text among the choices (0 for the first), or -1 when it is none of them.
int read_choice(std::string_view text, std::initializer_list<const char*> choices);

// --channel both|left|right; nothing for another text.
std::optional<ChannelMode> read_channel_mode(std::string_view text);

// Writes the object as one line of JSON on stdout: {"key": value, "key": value} in the object's
// order, with strings escaped by json_string.
void print_json_line(const nlohmann::ordered_json& object);
// The text as a JSON string literal: quotes, backslashes and control characters escaped. A byte
// that is not part of valid UTF-8 is written as \udcXX (XX its value in hex): a lone surrogate
// that valid UTF-8 never holds, so that two names never print alike and each can be recovered
// byte for byte (as Python's "surrogateescape" error handler reads it back).
std::string json_string(const std::string& text);

}  // namespace jx::cli
