// Files as the tool reads and writes them: inputs are refused up front
// unless they are regular files (a fifo or a device is never opened, so it
// cannot hang the tool), and every output is written beside its target and
// renamed into place only once every write, flush and close succeeded. A
// failure thus leaves the target as it was, even when it is also the input.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "tool_error.h"

// The absolute, normalised form of a target given on the command line:
// "dir/", "dir/." and "dir" are one target, "." is the current folder.
std::string NormalizeTarget(const std::string& path);

class InputFile {
public:
    // what ("the installer") goes in front of the path in error lines.
    InputFile(const std::string& path, const std::string& what);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t size() const { return size_; }
    mode_t mode() const { return mode_; }
    const std::string& path() const { return path_; }
    // Reads exactly n bytes at offset; fails on a read error or a short read.
    void ReadAt(std::uint64_t offset, void* buffer, std::size_t n) const;
    // The same, reporting instead of failing (for readers that decide).
    bool TryReadAt(std::uint64_t offset, void* buffer, std::size_t n) const;

private:
    std::string path_, what_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    mode_t mode_ = 0;
};

// Refuses a path that exists and is not a regular file, before anything is
// opened. what names the file in the error line.
void RequireRegularOrMissing(const std::string& path, const std::string& what);

// A new file written in order; name is the path the error lines show.
class OutputFile {
public:
    OutputFile(const std::string& path, const std::string& name, mode_t mode);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const void* data, std::size_t n);
    void WriteAt(std::uint64_t offset, const void* data, std::size_t n);
    // Flushes to the disk and closes; fails with the system's reason.
    void Close();
    std::uint64_t written() const { return written_; }

private:
    std::string path_, name_;
    int fd_ = -1;
    std::uint64_t written_ = 0;
};

// An output file that replaces target only on Commit.
class ReplacingFile {
public:
    ReplacingFile(const std::string& target, mode_t mode);
    ~ReplacingFile();  // removes the temporary file unless committed
    OutputFile& file() { return *file_; }
    void Commit();

private:
    std::string target_, temp_;
    OutputFile* file_ = nullptr;
    bool committed_ = false;
};

// Writes all of data to a file descriptor (standard output), failing with
// the system's reason under name.
void WriteAllTo(int fd, const void* data, std::size_t n, const std::string& name);
