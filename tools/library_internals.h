// What the command-line host takes from the library's sources, beyond <tovarine.h>: the one
// place where tools/ reaches into src/. No other file of the tool includes a header of src/ (a
// test looks through tools/ for one), so what the tool depends on is what is listed here.
//
// The tool runs the readers and the settings calls through the exports, as a server does. It
// takes the library's internals only where it must follow the library's own rules rather than
// a copy of them:
//  - "read --explain" runs the request code that no export exposes, linked from the library's
//    objects (tovarine_request_code);
//  - "settings" works on the registry itself, which no export lists or creates, with the same
//    root, buffers and instance rule as the settings calls; on POSIX through the registry
//    stand-in's objects (tovarine_registry), so that tool and servers share one store.
#pragma once

// Text: ASCII case folding and word separators (text::EqualIgnoringCase, text::AsciiUpper,
// text::IsWordSeparator).
#include "module/text.h"

// Registry names: the longest key and value names and how a name's length is counted
// (registry_names::kMaxKeyNameChars, kMaxValueNameChars, NameLength).
#include "module/registry_names.h"

// The readers' field tables and field reader (kLiveFields ... kClipTable, FieldReader,
// OutputNameOf, MediaKindOf, kMaxFields, kCameraTextBytes), the parameter walk and list
// (ForEachParameter, ParameterList) and the client header scan (FindClientHeader,
// NamesMozilla), for "read" and "read --explain".
#include "request/client_header.h"
#include "request/parameter_list.h"
#include "request/reader_fields.h"

// The Win32 registry calls and types (the real ones on Windows, the stand-in's on POSIX),
// DiscardKey, and the system's words for an error code (ErrorWords).
#include "platform/platform.h"

// The settings root's path and the enumeration buffers (kSettingsRootPath,
// kSettingsRootFullName, kSubkeyNameChars, kValueNameChars), and which keys are whose instances
// (IsInstanceKeyOf, InInstanceForm, EnumerateSubkeys).
#include "settings/instance_keys.h"
#include "settings/settings_root.h"

// The library's words for a value a change list adds (IDS_WILL_BE_TEXT).
#include "res/strings.h"

#if !defined(_WIN32)
// The POSIX store itself: its file and the mode of copies of it, committing several keys' writes
// together (deletions included), letting go of it, its check and its online backup, its history
// and the keys of a store file such as a backup (registry::StoreFile, StoreCopyMode,
// CommitTogether, DeleteValueLater, DeleteKeyLater, CloseStore, CheckStore, BackupStore,
// ForEachChange, ReadHistorySpan, ReadRetention, SetRetention, SetChangeCommand,
// ReadStoreFileInstances).
#include "platform/posix/registry_store.h"

// The yes/no question on the terminal, asked as the library's message boxes ask it
// (terminal::AskYesNo).
#include "platform/posix/terminal.h"
#endif
