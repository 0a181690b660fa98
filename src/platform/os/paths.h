#pragma once
// Path operations on names, over '/'. They mirror the shell's path helpers the program was
// designed around: the same results for the same questions, never a cut name.
#include <string>

namespace jx {

// Joins folder and name with exactly one '/' between them; an absolute name replaces the folder.
std::string path_append(const std::string& folder, const std::string& name);
// Removes the last component; "/a/b" -> "/a", "/a" -> "/", "a" -> "".
std::string path_remove_file_spec(const std::string& path);
// The extension from the last dot of the file name ("" when there is none), dot included.
std::string path_find_extension(const std::string& path);
// The last component.
std::string path_find_file_name(const std::string& path);
// The path without its extension.
std::string path_remove_extension(const std::string& path);
// Adds ext (with its dot) when the path has no extension yet.
std::string path_add_extension(const std::string& path, const std::string& ext);

}  // namespace jx
