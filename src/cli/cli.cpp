#include "cli/cli.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace jx::cli {

namespace {

// getopt_long's code of the n-th option, clear of the characters it returns itself.
constexpr int first_option_code = 256;

bool spelled_out(const char* token, const char* name) {
    size_t n = std::strlen(name);
    return std::strncmp(token, "--", 2) == 0 && std::strncmp(token + 2, name, n) == 0 &&
           (token[2 + n] == '\0' || token[2 + n] == '=');
}

}  // namespace

Arguments read_arguments(int argc, char** argv, std::initializer_list<OptionSpec> specs) {
    Arguments args;
    std::vector<OptionSpec> all(specs);
    all.push_back({"help"});
    std::vector<option> table;
    for (size_t k = 0; k < all.size(); ++k) {
        int has_arg = all[k].value ? required_argument : no_argument;
        table.push_back({all[k].name, has_arg, nullptr, first_option_code + static_cast<int>(k)});
    }
    table.push_back({nullptr, 0, nullptr, 0});
    // "-": operands come back in order, as code 1; ":": a missing value is told apart. No
    // messages from getopt itself, and optind 0 starts it afresh.
    opterr = 0;
    optind = 0;
    for (;;) {
        const char* token = argv[optind > 0 ? optind : 1];
        int code = getopt_long(argc, argv, "-:", table.data(), nullptr);
        if (code == -1) break;
        if (code == 1) {
            args.operands.emplace_back(optarg);
            continue;
        }
        const OptionSpec* wanted = nullptr;
        int index = (code == '?' || code == ':' ? optopt : code) - first_option_code;
        if (index >= 0 && static_cast<size_t>(index) < all.size()) wanted = &all[index];
        if (code == ':' && wanted) {
            args.problem = std::string("--") + wanted->name + " needs " + wanted->value;
        } else if (code == '?' && wanted && !wanted->value) {
            args.problem = std::string("--") + wanted->name + " takes no value";
        } else if (!wanted || !spelled_out(token, wanted->name)) {
            // Unknown, or a shortened name, which a later option could make ambiguous.
            args.problem = std::string("unknown option '") + token + "'";
        } else if (std::strcmp(wanted->name, "help") == 0) {
            args.help = true;
        } else {
            args.options.emplace_back(wanted->name, optarg ? optarg : "");
            continue;
        }
        return args;
    }
    for (int k = optind; k < argc; ++k) args.operands.emplace_back(argv[k]);
    return args;
}

int usage_error(const char* command, const std::string& problem) {
    std::fprintf(stderr, "jx-cli %s: %s (try 'jx-cli %s --help')\n", command, problem.c_str(),
                 command);
    return 2;
}

int failure(const char* command, const std::string& problem) {
    std::fprintf(stderr, "jx-cli %s: %s\n", command, problem.c_str());
    return 1;
}

int print_help(const char* help) {
    std::fputs(help, stdout);
    return 0;
}

int read_choice(std::string_view text, std::initializer_list<const char*> choices) {
    int index = 0;
    for (const char* choice : choices) {
        if (text == choice) return index;
        ++index;
    }
    return -1;
}

std::optional<ChannelMode> read_channel_mode(std::string_view text) {
    int mode = read_choice(text, {"both", "left", "right"});
    if (mode < 0) return std::nullopt;
    return static_cast<ChannelMode>(mode);
}

void print_json_line(const nlohmann::ordered_json& object) {
    std::string line = "{";
    for (const auto& item : object.items()) {
        if (line.size() > 1) line += ", ";
        const nlohmann::ordered_json& value = item.value();
        line +=
            json_string(item.key()) + ": " +
            (value.is_string() ? json_string(value.get_ref<const std::string&>()) : value.dump());
    }
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

namespace {
// Length of the valid UTF-8 sequence starting at s[k], or 0.
size_t utf8_sequence(const std::string& s, size_t k) {
    auto b = static_cast<unsigned char>(s[k]);
    size_t len = b < 0x80             ? 1
                 : (b & 0xE0) == 0xC0 ? 2
                 : (b & 0xF0) == 0xE0 ? 3
                 : (b & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (len == 0 || k + len > s.size()) return 0;
    uint32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (size_t c = 1; c < len; ++c) {
        auto t = static_cast<unsigned char>(s[k + c]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    static const uint32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_for_len[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}
}  // namespace

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (size_t k = 0; k < text.size();) {
        auto c = static_cast<unsigned char>(text[k]);
        size_t len = utf8_sequence(text, k);
        if (len == 0) {
            // A byte that is not UTF-8 (a Linux file name may hold any) is kept recoverable: it
            // becomes the lone surrogate U+DC00 + byte, which no valid UTF-8 text can contain.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\udc%02x", c);
            out += buf;
            ++k;
            continue;
        }
        if (len > 1) {
            out.append(text, k, len);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
        k += len;
    }
    return out + "\"";
}

bool is_one_of_the_inputs(const std::string& out, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        std::error_code error;
        if (std::filesystem::equivalent(out, input, error)) return true;
    }
    return false;
}

std::string text_out_is_an_input(const std::string& out) {
    return "--out '" + out + "' is one of the input files; it would be replaced";
}

}  // namespace jx::cli
