// The settings root's instance keys as Unicode text (UTF-8 inside the tool), read and written.
//
// On POSIX the store holds 8-bit text, read and written as UTF-8 or, with --encoding
// windows-1252, as code page 1252. On Windows the registry's own Unicode text is read and
// written, as the registry's tools do. A key or value that is not valid text is an error that
// names it, raised before anything is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "library_internals.h"
#include "reg_file.h"
#include "text_encoding.h"

namespace tovarine_tool {

#ifndef _WIN32
// Store text (a name or a value's text, as the POSIX store holds it) as UTF-8 from `encoding`,
// or an error naming `what` and ending in `outcome` ("nothing was written").
std::string FromStore(std::string_view bytes, StoreEncoding encoding, const std::string &what,
                      const std::string &outcome);
#endif

// "KEY" quoted and escaped for a message.
std::string Quote(std::string_view text);

// Whether `key` is in instance form at all: a name, a blank and a decimal number; the
// library's own rule.
using tovarine::InInstanceForm;

// Every instance key of the settings root (every subkey), or those that belong to one of
// `names`, with their values, in the registry's order. `outcome` ends an error's message
// ("nothing was exported").
std::vector<RegKey> ReadInstances(HKEY root, const std::vector<std::string> &names,
                                  StoreEncoding encoding, const std::string &outcome);

// One instance key, nullopt when there is none of that name.
std::optional<RegKey> ReadInstance(HKEY root, const std::string &name, StoreEncoding encoding,
                                   const std::string &outcome);

// ValueChange and KeyChange, the changes the commands list and write, are reg_file.h's.

// Checks that every name and text of `changes` can be written in `encoding` and that every key
// and value name is within the registry's limits, before anything is written (so that, on
// Windows too, no write fails midway for them); throws naming the first that cannot.
void CheckWritable(const std::vector<KeyChange> &changes, StoreEncoding encoding);

// Writes `changes`. On POSIX they are one transaction of the store, deletions included: all
// written or none.
void ApplyChanges(HKEY root, const std::vector<KeyChange> &changes, StoreEncoding encoding);

}  // namespace tovarine_tool
