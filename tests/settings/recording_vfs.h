// A test file system for SQLite that records what reaches the disk: every write, truncation,
// sync and deletion of the files in one folder, in the order they happened, so that a test can
// rebuild those files as a power loss at any moment would have left them.
//
// It wraps the file system that was SQLite's default and becomes the default itself, so it must
// be installed before the registry store is first opened: the store's own layer sits over
// whatever is the default at that moment, for the life of the process. Files outside the folder
// being recorded, and every file while nothing is recorded, are passed through untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovarine::testing {

struct FileOp {
    enum Kind { kWrite, kTruncate, kSync, kDelete };
    Kind kind;
    int file;                    // index into RecordedFiles()
    int64_t offset;              // where a write starts; the size a truncation leaves
    std::vector<uint8_t> bytes;  // what a write wrote
};

// Makes the recorder SQLite's default file system, over the default one. Once per process;
// false when SQLite would not register it.
bool InstallRecordingVfs();

// Records the files in `folder` (an absolute path) from now on, starting a new record.
void StartRecording(const std::string &folder);
// Stops recording; the record stays readable.
void StopRecording();

// Makes syncs of the files in `folder` (an absolute path) do nothing from now on: for stores
// that a test throws away, so that checking thousands of them waits for no disk.
void SkipSyncsIn(const std::string &folder);

// The operations recorded so far, and the names (within the folder) of the files they concern.
const std::vector<FileOp> &RecordedOps();
const std::vector<std::string> &RecordedFiles();

// The record so far as bytes, for a child process that recorded the same folder to hand its
// operations to its parent.
std::string RecordBytes();
// Appends a record that RecordBytes() gave, its operations after those recorded so far and its
// files matched to these by name. False, and nothing appended, when `bytes` is no such record.
bool AppendRecordBytes(const std::string &bytes);

}  // namespace tovarine::testing
