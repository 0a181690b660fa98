#pragma once
// Points the per-user configuration and data folders at a fresh temporary folder for one test,
// and puts the environment back afterwards.
#include <cstdlib>
#include <optional>
#include <string>

#include "temp_dir.h"

namespace jx::test {

struct ScopedEnv {
    std::string name;
    std::optional<std::string> old;
    ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
        if (const char* v = std::getenv(name.c_str())) old = v;
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old)
            ::setenv(name.c_str(), old->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
};

struct XdgFolders {
    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", dir.file("config")};
    ScopedEnv data{"XDG_DATA_HOME", dir.file("data")};

    std::string registry_file() const { return dir.file("config/Tessarin/registry.reg"); }
    std::string stored_list() const { return dir.file("data/Tessarin/jx_files.dat"); }
};

}  // namespace jx::test
