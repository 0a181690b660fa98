#include "platform/store/regedit.h"

#include <algorithm>
#include <cstdio>

#include "platform/os/text.h"

namespace jx {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_text(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (lower(a[k]) != lower(b[k])) return false;
    return true;
}

bool starts_with_text(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && same_text(text.substr(0, prefix.size()), prefix);
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// A physical line without its '\r' and trailing blanks.
std::string trimmed_end(const std::string& line) {
    size_t end = line.size();
    while (end > 0 && (is_blank(line[end - 1]) || line[end - 1] == '\r')) --end;
    return line.substr(0, end);
}

bool continues(const std::string& line) {
    std::string t = trimmed_end(line);
    return !t.empty() && t.back() == '\\';
}

// Reads a quoted text starting at text[at] == '"'; \\ and \" are the escapes. Moves `at` past
// the closing quote; false when there is none.
bool read_quoted(const std::string& text, size_t& at, std::string& out) {
    for (size_t k = at + 1; k < text.size(); ++k) {
        char c = text[k];
        if (c == '"') {
            at = k + 1;
            return true;
        }
        if (c == '\\' && k + 1 < text.size() && (text[k + 1] == '\\' || text[k + 1] == '"'))
            c = text[++k];
        out += c;
    }
    return false;
}

bool only_blanks_from(const std::string& text, size_t at) {
    for (size_t k = at; k < text.size(); ++k)
        if (!is_blank(text[k])) return false;
    return true;
}

// "dword:" followed by one to eight hex digits.
bool read_dword(const std::string& text, size_t at, RegistryValue& value) {
    uint32_t number = 0;
    size_t digits = 0;
    while (at < text.size() && hex_digit(text[at]) >= 0) {
        if (++digits > 8) return false;
        number = (number << 4) | static_cast<uint32_t>(hex_digit(text[at++]));
    }
    if (digits == 0 || !only_blanks_from(text, at)) return false;
    value.type = reg_dword;
    value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                  static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
    return true;
}

// Comma-separated bytes of one or two hex digits; a comma may end the list.
bool read_hex_bytes(const std::string& text, size_t at, std::vector<uint8_t>& out) {
    while (true) {
        while (at < text.size() && is_blank(text[at])) ++at;
        if (at == text.size()) return true;
        int hi = hex_digit(text[at]);
        if (hi < 0) return false;
        int byte = hi;
        ++at;
        if (at < text.size() && hex_digit(text[at]) >= 0) byte = byte * 16 + hex_digit(text[at++]);
        out.push_back(static_cast<uint8_t>(byte));
        while (at < text.size() && is_blank(text[at])) ++at;
        if (at == text.size()) return true;
        if (text[at++] != ',') return false;
    }
}

bool read_data(const std::string& text, size_t at, RegistryValue& value) {
    if (at < text.size() && text[at] == '"') {
        std::string s;
        if (!read_quoted(text, at, s) || !only_blanks_from(text, at)) return false;
        value.type = reg_sz;
        value.data.assign(s.begin(), s.end());
        value.data.push_back(0);
        return true;
    }
    std::string rest = text.substr(at);
    if (starts_with_text(rest, "dword:")) return read_dword(text, at + 6, value);
    if (starts_with_text(rest, "hex:")) {
        value.type = reg_binary;
        return read_hex_bytes(text, at + 4, value.data);
    }
    if (!starts_with_text(rest, "hex(")) return false;
    at += 4;
    uint32_t type = 0;
    size_t digits = 0;
    while (at < text.size() && hex_digit(text[at]) >= 0) {
        if (++digits > 8) return false;
        type = (type << 4) | static_cast<uint32_t>(hex_digit(text[at++]));
    }
    if (digits == 0 || text.compare(at, 2, "):") != 0) return false;
    value.type = type;
    return read_hex_bytes(text, at + 2, value.data);
}

// Where the data of a `"name"=data` or `@=data` line starts; npos when the line is not one.
size_t data_start(const std::string& text, std::string& name) {
    size_t at = 0;
    if (text.empty()) return std::string::npos;
    if (text[0] == '@') {
        at = 1;
    } else if (text[0] != '"' || !read_quoted(text, at, name)) {
        return std::string::npos;
    }
    while (at < text.size() && is_blank(text[at])) ++at;
    if (at == text.size() || text[at] != '=') return std::string::npos;
    ++at;
    while (at < text.size() && is_blank(text[at])) ++at;
    return at;
}

// Only hex data goes on over several lines.
bool starts_hex_value(const std::string& line) {
    std::string name;
    size_t at = data_start(line, name);
    return at != std::string::npos && starts_with_text(line.substr(at), "hex");
}

// A value line with its continuations joined.
bool read_value_line(const std::string& text, RegistryValue& value) {
    size_t at = data_start(text, value.name);
    return at != std::string::npos && read_data(text, at, value);
}

// The line's value text with continuation backslashes removed and the following lines' leading
// blanks dropped.
std::string joined(const std::vector<std::string>& physical) {
    std::string all;
    for (size_t k = 0; k < physical.size(); ++k) {
        std::string part = trimmed_end(physical[k]);
        if (k + 1 < physical.size()) part.pop_back();  // the continuation backslash
        size_t start = 0;
        if (k > 0)
            while (start < part.size() && is_blank(part[start])) ++start;
        all += part.substr(start);
    }
    return all;
}

RegistryLine classify(const std::vector<std::string>& physical, bool complete) {
    RegistryLine line;
    for (size_t k = 0; k < physical.size(); ++k) line.text += (k ? "\n" : "") + physical[k];
    if (!complete) return line;  // a continuation with nothing to continue
    std::string first = trimmed_end(physical[0]);
    if (physical.size() == 1 && first.size() >= 2 && first.front() == '[' && first.back() == ']') {
        line.kind = RegistryLine::key_line;
        line.key = first.substr(1, first.size() - 2);
        return line;
    }
    RegistryValue value;
    if (read_value_line(joined(physical), value)) {
        line.kind = RegistryLine::value_line;
        line.value = std::move(value);
    }
    return line;
}

bool is_header(const std::string& line) {
    std::string t = trimmed_end(line);
    if (t.rfind("\xEF\xBB\xBF", 0) == 0) t = t.substr(3);
    return t == "REGEDIT4" || t == "Windows Registry Editor Version 5.00";
}

bool valid_name(const std::string& name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

std::string quoted(const std::string& text) {
    std::string q = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}

// A REG_SZ whose data is printable ASCII with one terminating zero is written as text; any
// other data keeps its exact bytes in hex form.
bool plain_text(const RegistryValue& value) {
    if (value.type != reg_sz || value.data.empty() || value.data.back() != 0) return false;
    for (size_t k = 0; k + 1 < value.data.size(); ++k)
        if (value.data[k] < 0x20 || value.data[k] > 0x7E) return false;
    return true;
}

std::string format_value(const RegistryValue& value, bool crlf) {
    std::string line = (value.name.empty() ? std::string("@") : quoted(value.name)) + "=";
    char buffer[32];
    const std::vector<uint8_t>& d = value.data;
    if (value.type == reg_dword && d.size() == 4) {
        uint32_t number = d[0] | (d[1] << 8) | (d[2] << 16) | (static_cast<uint32_t>(d[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        line += buffer;
    } else if (plain_text(value)) {
        line += quoted(std::string(d.begin(), d.end() - 1));
    } else {
        if (value.type == reg_binary) {
            line += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
            line += buffer;
        }
        // Long lists wrap as regedit wraps them, at 80 columns with a backslash.
        size_t column = line.size();
        for (size_t k = 0; k < d.size(); ++k) {
            if (k > 0 && column + 3 > 78) {
                line += crlf ? "\\\r\n  " : "\\\n  ";
                column = 2;
            }
            std::snprintf(buffer, sizeof buffer, k + 1 < d.size() ? "%02x," : "%02x", d[k]);
            line += buffer;
            column += 3;
        }
    }
    return crlf ? line + "\r" : line;
}

RegistryLine made_line(RegistryLine::Kind kind, std::string text, bool crlf) {
    RegistryLine line;
    line.kind = kind;
    line.text = crlf ? text + "\r" : std::move(text);
    return line;
}
}  // namespace

RegistryFile parse_registry(const uint8_t* data, size_t length) {
    RegistryFile file;
    std::vector<std::string> physical;
    size_t start = 0;
    for (size_t k = 0; k <= length; ++k) {
        if (k == length || data[k] == '\n') {
            if (k < length || k > start)
                physical.emplace_back(reinterpret_cast<const char*>(data) + start, k - start);
            start = k + 1;
        }
    }
    file.crlf = !physical.empty() && !physical[0].empty() && physical[0].back() == '\r';
    for (size_t k = 0; k < physical.size();) {
        std::vector<std::string> group{physical[k++]};
        bool hex_value = starts_hex_value(group[0]);
        bool complete = true;
        // A continuation line is indented, as regedit writes it; anything else after a
        // backslash leaves the value unfinished and stands on its own.
        while (hex_value && continues(group.back())) {
            if (k == physical.size() || physical[k].empty() || !is_blank(physical[k][0])) {
                complete = false;
                break;
            }
            group.push_back(physical[k++]);
        }
        file.lines.push_back(classify(group, complete));
    }
    return file;
}

std::string format_registry(const RegistryFile& file) {
    std::string eol = file.crlf ? "\r\n" : "\n";
    std::string text;
    if (file.lines.empty() || !is_header(file.lines[0].text)) text = "REGEDIT4" + eol + eol;
    for (const RegistryLine& line : file.lines) text += line.text + "\n";
    return text;
}

const RegistryValue* find_registry_value(const RegistryFile& file, const std::string& key,
                                         const std::string& name) {
    const RegistryValue* found = nullptr;
    bool in_key = false;
    for (const RegistryLine& line : file.lines) {
        if (line.kind == RegistryLine::key_line) in_key = same_text(line.key, key);
        if (line.kind == RegistryLine::value_line && in_key && same_text(line.value.name, name))
            found = &line.value;
    }
    return found;
}

bool has_registry_key(const RegistryFile& file, const std::string& key) {
    for (const RegistryLine& line : file.lines)
        if (line.kind == RegistryLine::key_line &&
            (same_text(line.key, key) || starts_with_text(line.key, key + "\\")))
            return true;
    return false;
}

int add_registry_key(RegistryFile& file, const std::string& key) {
    if (!valid_name(key) || key.find(']') != std::string::npos) return reg_invalid_name;
    for (const RegistryLine& line : file.lines)
        if (line.kind == RegistryLine::key_line && same_text(line.key, key)) return reg_success;
    if (file.lines.empty() || !is_header(file.lines[0].text)) {
        file.lines.insert(file.lines.begin(), made_line(RegistryLine::other_line, "", file.crlf));
        file.lines.insert(file.lines.begin(),
                          made_line(RegistryLine::other_line, "REGEDIT4", file.crlf));
    }
    // A blank line before the new section, as regedit writes them.
    if (!trimmed_end(file.lines.back().text).empty())
        file.lines.push_back(made_line(RegistryLine::other_line, "", file.crlf));
    RegistryLine line = made_line(RegistryLine::key_line, "[" + key + "]", file.crlf);
    line.key = key;
    file.lines.push_back(std::move(line));
    return reg_success;
}

int set_registry_value(RegistryFile& file, const std::string& key, const RegistryValue& value) {
    if (!valid_name(value.name)) return reg_invalid_name;
    if (int result = add_registry_key(file, key); result != reg_success) return result;
    RegistryLine line;
    line.kind = RegistryLine::value_line;
    line.text = format_value(value, file.crlf);
    line.value = value;
    // Replace the line that holds the value now; otherwise add it after the last key or value
    // line of the key's last section, before any blank lines or comments that follow it.
    size_t replace = file.lines.size();
    size_t insert_at = file.lines.size();
    bool in_key = false;
    for (size_t k = 0; k < file.lines.size(); ++k) {
        const RegistryLine& l = file.lines[k];
        if (l.kind == RegistryLine::key_line) in_key = same_text(l.key, key);
        if (!in_key || l.kind == RegistryLine::other_line) continue;
        insert_at = k + 1;
        if (l.kind == RegistryLine::value_line && same_text(l.value.name, value.name)) replace = k;
    }
    if (replace < file.lines.size()) {
        file.lines[replace] = std::move(line);
    } else {
        file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(insert_at),
                          std::move(line));
    }
    return reg_success;
}

}  // namespace jx
