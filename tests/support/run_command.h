#pragma once
// Runs a program with arguments and collects what it printed and its exit status.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace jx::test {

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline CommandResult run_command(const std::string& program, const std::vector<std::string>& args,
                                 const std::string& err_file) {
    std::string line = shell_quote(program);
    // Appended piece by piece: GCC 12 reports a false overlap (-Wrestrict) for
    // `" " + std::string` at -O3.
    for (const std::string& a : args) {
        line += ' ';
        line += shell_quote(a);
    }
    line += " 2>";
    line += shell_quote(err_file);
    CommandResult result;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buf;
    size_t got;
    while ((got = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.out.append(buf.data(), got);
    int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (FILE* err = std::fopen(err_file.c_str(), "r")) {
        while ((got = std::fread(buf.data(), 1, buf.size(), err)) > 0)
            result.err.append(buf.data(), got);
        std::fclose(err);
    }
    return result;
}

}  // namespace jx::test
