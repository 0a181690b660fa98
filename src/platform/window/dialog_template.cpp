#include "platform/window/dialog_template.h"

#include <sstream>

namespace jx {

namespace {

std::set<std::string> style_words(const std::string& list) {
    std::set<std::string> words;
    if (list == "-") return words;
    std::stringstream in(list);
    std::string word;
    while (std::getline(in, word, ','))
        if (!word.empty()) words.insert(word);
    return words;
}

// The quoted text that ends a line: everything between the first and the last double quote.
std::optional<std::string> quoted_tail(const std::string& line) {
    const size_t open = line.find('"');
    const size_t close = line.rfind('"');
    if (open == std::string::npos || close == open) return std::nullopt;
    return line.substr(open + 1, close - open - 1);
}

std::string before_quote(const std::string& line) {
    return line.substr(0, line.find('"'));
}

}  // namespace

std::optional<DialogTemplate> parse_dialog_template(const std::string& text, int* error_line) {
    DialogTemplate dialog;
    bool have_dialog = false;
    std::stringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&]() -> std::optional<DialogTemplate> {
        if (error_line) *error_line = number;
        return std::nullopt;
    };
    while (std::getline(lines, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const auto quoted = quoted_tail(line);
        if (!quoted) return fail();
        std::stringstream fields(before_quote(line));
        std::string first;
        fields >> first;
        if (first == "dialog") {
            std::string styles;
            if (!(fields >> dialog.id >> dialog.w >> dialog.h >> styles)) return fail();
            dialog.styles = style_words(styles);
            dialog.caption = *quoted;
            have_dialog = true;
        } else if (first == "font") {
            // font "family" points: the number follows the quotes
            std::stringstream size(line.substr(line.rfind('"') + 1));
            if (!(size >> dialog.font_points)) return fail();
            dialog.font_family = *quoted;
        } else {
            ControlTemplate control;
            std::string styles;
            try {
                control.id = std::stoi(first);
            } catch (...) {
                return fail();
            }
            if (!(fields >> control.kind >> control.x >> control.y >> control.w >> control.h >>
                  styles))
                return fail();
            control.styles = style_words(styles);
            control.text = *quoted;
            dialog.controls.push_back(std::move(control));
        }
    }
    if (!have_dialog) return fail();
    return dialog;
}

}  // namespace jx
