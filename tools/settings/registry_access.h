// The registry as the tool reaches it: the settings root, the keys below it and their values,
// with failures told in words. On POSIX this is the library's own registry stand-in, so the
// tool and the servers work on the same store.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "library_internals.h"

namespace tovarine_tool {

// An open key, closed when it goes out of scope. A key that a command writes through is
// closed with Close(), whose result says whether its writes were committed; marked with
// DiscardUnlessClosed(), a key that goes out of scope unclosed (an error path, an exception)
// drops what was written through it instead of committing it.
class Key {
public:
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key() {
        if (key_ == nullptr) return;
        if (discard_) {
            tovarine::DiscardKey(key_);
        } else {
            RegCloseKey(key_);
        }
    }
    HKEY *out() { return &key_; }
    HKEY get() const { return key_; }
    Key &DiscardUnlessClosed() {
        discard_ = true;
        return *this;
    }
    // Closes the key, committing its writes: the registry's result.
    LONG Close() {
        const HKEY key = key_;
        key_ = nullptr;
        return key != nullptr ? RegCloseKey(key) : ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
    bool discard_ = false;
};

// What a command may do to the store: a read-only command never creates it or its folder.
enum class Access { kRead, kWrite };

// Where the settings are kept, for messages: on POSIX the store file, on Windows the registry.
std::string StoreName();

// A failed registry call as an error: "settings: DOING: the settings store PATH is not a
// database (error 1009)" for a failure of the store itself, "settings: DOING (error 5: access is
// denied)" for others.
std::runtime_error RegistryFailure(const std::string &doing, LONG rc);

// Checks that the store can be used as `access` needs, before any registry call: on POSIX,
// that TOVARINE_REGISTRY is not set empty and, for kRead, that the store file exists. Throws a
// runtime_error that says what is wrong and what to do.
void CheckStore(Access access);

// Opens the settings root with `rights`, after CheckStore(access). Throws, naming
// 'tovarine settings init', when there is no settings root.
void OpenRoot(Key &root, REGSAM rights, Access access);

// Names cross these calls as the tool's text: on Windows UTF-8, through the registry's Unicode
// calls, so that any name can be given and shown; on POSIX the store's bytes as they are.

// The name of subkey `index` of `key`, enumerated with buffers of `chars` characters for the
// name and, when `with_class`, for its class: a name or class too long for them fails with
// ERROR_MORE_DATA, as it does for the library. On Windows a name that is not valid Unicode text
// fails with ERROR_INVALID_DATA.
LONG EnumSubkey(HKEY key, DWORD index, DWORD chars, bool with_class, std::string &name);

// Opens the subkey `name` of `parent` with `rights`.
LONG OpenSubkey(HKEY parent, const std::string &name, REGSAM rights, Key &key);

// Every subkey of `key`, in the registry's order. Names up to the registry's longest (255
// characters) are all returned; a failure other than the end throws.
std::vector<std::string> Subkeys(HKEY key, const std::string &what);

// A value as the registry holds it: its name and type, and its data byte for byte (on Windows,
// the text of a string type as UTF-8).
struct RawValue {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Every value of `key`, in the registry's order; a failure throws, naming `what`.
std::vector<RawValue> Values(HKEY key, const std::string &what);

}  // namespace tovarine_tool
