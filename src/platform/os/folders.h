#pragma once
// Where the program keeps its files: the per-user configuration and data folders of the XDG
// base directory rules, and the folder operations the writers need.
#include <string>

namespace jx {

// $XDG_CONFIG_HOME, or ~/.config; empty when neither it nor HOME is set to an absolute path.
std::string config_home();
// $XDG_DATA_HOME, or ~/.local/share; empty when neither it nor HOME is set to an absolute path.
std::string data_home();
// The folder the process runs in; empty when it cannot be found.
std::string current_folder();
// The path made absolute against the current folder (unchanged when it already is).
std::string absolute_path(const std::string& path);
// Creates the folder and any missing parents. True when it exists afterwards.
bool make_folders(const std::string& folder);
// Creates the one folder (its parent must exist). True when it made it.
bool make_folder(const std::string& folder);
// True when the path is a folder, or a link to one.
bool is_folder(const std::string& path);
// True when something (file, folder, link) stands at the path.
bool path_exists(const std::string& path);

// Why no file can be made in the folder, or empty when one can (one is made and removed).
std::string folder_write_problem(const std::string& folder);
// A new, empty folder in the system's temporary folder, named after `prefix`; empty when none
// could be made.
std::string make_temporary_folder(const std::string& prefix);

}  // namespace jx
