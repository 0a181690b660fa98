#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/os/console.h"
#include "platform/os/wide_win.h"

// After windows.h, which it needs.
#include <shellapi.h>

namespace jx {

void use_utf8_binary_console(int& argc, char**& argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return;
    // Kept for the process's life, as argv is.
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    texts.clear();
    for (int i = 0; i < count; ++i) texts.push_back(from_wide(wide[i], wcslen(wide[i])));
    LocalFree(wide);
    pointers.clear();
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
}

}  // namespace jx
