#pragma once
// The per-user key store. Keys and values live in a REGEDIT4 text file that a person can read
// and regedit can import; the calls below behave as the registry calls the configuration was
// designed around: open, query into a caller's buffer, create, set, close, with their results.
// On Windows the store is the registry itself: the "file" names HKEY_CURRENT_USER's maker key,
// an edit reads that key's tree into the same lines, holds a named mutex instead of the flock
// (lock_fd holds its handle), and its commit writes the changed values, all or none.
#include <cstdint>
#include <string>

#include "platform/store/regedit.h"

namespace jx {

// $XDG_CONFIG_HOME/Tessarin/registry.reg; empty when there is no configuration folder. On
// Windows HKEY_CURRENT_USER\Software\Tessarin.
std::string registry_file_path();

// An open key under HKEY_CURRENT_USER in the store file `file`.
struct RegistryKey {
    std::string file;
    std::string path;  // full key path
    bool open = false;
};

// Opens an existing key for reading.
int reg_open_key(const std::string& file, const std::string& subkey, RegistryKey& key);
// Opens the key for reading and writing, creating the file, its folder and the key as needed.
int reg_create_key(const std::string& file, const std::string& subkey, RegistryKey& key);
// Copies the value's data into data (*size bytes of room) and sets *size to the data's length
// and *type to its type. With data null only the length and type are given. A value longer
// than the buffer gives reg_more_data and copies nothing.
int reg_query_value(const RegistryKey& key, const std::string& name, uint32_t* type, uint8_t* data,
                    uint32_t* size);
// Stores the value, replacing the file atomically.
int reg_set_value(const RegistryKey& key, const std::string& name, uint32_t type,
                  const uint8_t* data, uint32_t size);
void reg_close_key(RegistryKey& key);

// The full path of a key under HKEY_CURRENT_USER, as the store's sections name it.
std::string registry_key_path(const std::string& subkey);

// The store's lines; a store that is not there is an empty one. False, with the reason, when a
// file is there but cannot be read.
bool read_registry_store(const std::string& file, RegistryFile& store,
                         std::string* reason = nullptr);
// reg_query_value's answer from lines already read.
int query_registry_value(const RegistryFile& store, const std::string& key_path,
                         const std::string& name, uint32_t* type, uint8_t* data, uint32_t* size);

// Several changes of the store in one rewrite, all or none. The store's lock (flock on its
// folder) is held from the read to the rename, so a writer in another process (the
// window, another jx-cli) waits for this one instead of writing over what it stores. Every
// write of the store goes through an edit.
struct RegistryEdit {
    std::string file;
    int lock_fd = -1;
    RegistryFile store;  // the lines read under the lock; change them, then commit
    RegistryEdit() = default;
    RegistryEdit(const RegistryEdit&) = delete;
    RegistryEdit& operator=(const RegistryEdit&) = delete;
    ~RegistryEdit();  // releases the lock of an edit neither committed nor ended
};
// Makes the store's folder, takes the lock and reads the store. reg_cannot_write, with the
// reason, when any of that fails, a store that is there but cannot be read included.
int begin_registry_edit(const std::string& file, RegistryEdit& edit, std::string* reason = nullptr);
// Writes the lines back atomically (a read-only store is kept: "read-only") and releases the
// lock.
int commit_registry_edit(RegistryEdit& edit, std::string* reason = nullptr);
// Releases the lock without writing.
void end_registry_edit(RegistryEdit& edit);

}  // namespace jx
