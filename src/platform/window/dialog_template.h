#pragma once
// The dialogs' templates as data: every control with its id, kind, position and size in dialog
// units, style words and text. Parsed from the small text form kept in resources/.
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace jx {

struct ControlTemplate {
    int id = -1;       // -1: a control without an id of its own
    std::string kind;  // button, checkbox, edit, static, group, listview, listbox, combo, progress
    int x = 0, y = 0, w = 0, h = 0;
    std::set<std::string> styles;
    std::string text;
    bool has(const std::string& style) const { return styles.count(style) != 0; }
};

struct DialogTemplate {
    int id = 0;
    int w = 0, h = 0;
    std::set<std::string> styles;
    std::string caption;
    std::string font_family;
    int font_points = 8;
    std::vector<ControlTemplate> controls;
    bool has(const std::string& style) const { return styles.count(style) != 0; }
};

// The template in the text; nothing when a line does not read, with the line's number in
// `error_line`.
std::optional<DialogTemplate> parse_dialog_template(const std::string& text,
                                                    int* error_line = nullptr);

}  // namespace jx
