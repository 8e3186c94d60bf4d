#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

void FailSystem(const std::string& path, int errno_value) { Fail(path + ": " + std::strerror(errno_value)); }

std::string NormalizeTarget(const std::string& path) {
    if (path.empty()) Fail("an empty path was given");
    fs::path normal = fs::absolute(path).lexically_normal();
    // lexically_normal keeps a trailing separator ("dir/" stays "dir/"),
    // which would give an empty file name and a parent inside the target.
    while (normal.has_parent_path() && normal.filename().empty() && normal != normal.root_path())
        normal = normal.parent_path();
    return normal.string();
}

namespace {

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder, not a file";
    if (S_ISFIFO(mode)) return "is a fifo, not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
    if (S_ISSOCK(mode)) return "is a socket, not a file";
    return "is not a regular file";
}

}  // namespace

void RequireRegularOrMissing(const std::string& path, const std::string& what) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return;
        FailSystem(what + path, errno);
    }
    if (!S_ISREG(st.st_mode)) Fail(what + path + ": " + KindOf(st.st_mode));
}

InputFile::InputFile(const std::string& path, const std::string& what)
    : path_(path), what_(what.empty() ? "" : what + " ") {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) FailSystem(what_ + path, errno);
    if (!S_ISREG(st.st_mode)) Fail(what_ + path + ": " + KindOf(st.st_mode));
    // O_NONBLOCK: should the path turn into a fifo after the check, the open
    // still returns at once and the second check refuses it.
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) FailSystem(what_ + path, errno);
    if (fstat(fd_, &st) != 0) FailSystem(what_ + path, errno);
    if (!S_ISREG(st.st_mode)) Fail(what_ + path + ": " + KindOf(st.st_mode));
    size_ = static_cast<std::uint64_t>(st.st_size);
    mode_ = st.st_mode & 07777;
}

InputFile::~InputFile() {
    if (fd_ >= 0) close(fd_);
}

bool InputFile::TryReadAt(std::uint64_t offset, void* buffer, std::size_t n) const {
    auto* out = static_cast<unsigned char*>(buffer);
    while (n > 0) {
        const ssize_t got = pread(fd_, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

void InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t n) const {
    errno = 0;
    if (!TryReadAt(offset, buffer, n)) {
        if (errno) FailSystem(what_ + path_, errno);
        Fail(what_ + path_ + ": the file became shorter while it was read");
    }
}

OutputFile::OutputFile(const std::string& path, const std::string& name, mode_t mode) : path_(path), name_(name) {
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0) FailSystem(name_, errno);
    // The umask must not narrow a copy's mode (an executable stays one).
    if (fchmod(fd_, mode) != 0) FailSystem(name_, errno);
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) close(fd_);
}

void OutputFile::Write(const void* data, std::size_t n) {
    WriteAllTo(fd_, data, n, name_);
    written_ += n;
}

void OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t n) {
    const auto* in = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const ssize_t put = pwrite(fd_, in, n, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) FailSystem(name_, put < 0 ? errno : ENOSPC);
        in += put;
        offset += static_cast<std::uint64_t>(put);
        n -= static_cast<std::size_t>(put);
    }
}

void OutputFile::Close() {
    // A file system may report a full disk or quota only here.
    if (fsync(fd_) != 0 && errno != EINVAL) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        FailSystem(name_, error);
    }
    const int result = close(fd_);
    fd_ = -1;
    if (result != 0) FailSystem(name_, errno);
}

void WriteAllTo(int fd, const void* data, std::size_t n, const std::string& name) {
    const auto* in = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const ssize_t put = write(fd, in, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) FailSystem(name, put < 0 ? errno : ENOSPC);
        in += put;
        n -= static_cast<std::size_t>(put);
    }
}

ReplacingFile::ReplacingFile(const std::string& target, mode_t mode) : target_(target) {
    const fs::path path(target);
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) Fail(target + ": " + KindOf(st.st_mode));
    // Beside the target, so that the rename stays on one file system.
    std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) FailSystem(target, errno);
    close(fd);
    unlink(pattern.c_str());
    temp_ = pattern;
    file_ = new OutputFile(temp_, target, mode);
}

ReplacingFile::~ReplacingFile() {
    delete file_;
    if (!committed_) unlink(temp_.c_str());
}

void ReplacingFile::Commit() {
    file_->Close();
    if (rename(temp_.c_str(), target_.c_str()) != 0) FailSystem(target_, errno);
    committed_ = true;
}
