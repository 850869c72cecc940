#include "world/DurableFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zarn {

namespace fs = std::filesystem;

#ifdef _WIN32

DurableFile::DurableFile(const fs::path& path)
    : handle_(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                          nullptr)) {}

DurableFile::~DurableFile() {
    close();
}

bool DurableFile::isOpen() const {
    return handle_ != INVALID_HANDLE_VALUE;
}

bool DurableFile::write(std::string_view bytes) {
    while (isOpen() && !bytes.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return isOpen();
}

bool DurableFile::sync() {
    return isOpen() && FlushFileBuffers(handle_);
}

bool DurableFile::close() {
    if (!isOpen()) {
        return false;
    }
    const bool closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
}

void replaceFile(const fs::path& from, const fs::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::error_code error(static_cast<int>(GetLastError()), std::system_category());
        throw fs::filesystem_error("cannot replace file", from, to, error);
    }
}

void syncFolder(const fs::path&) {
    // Windows has no sync of a folder for ordinary users; the write-through moves stand in for it.
}

#else

DurableFile::DurableFile(const fs::path& path)
    : descriptor_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}

DurableFile::~DurableFile() {
    close();
}

bool DurableFile::isOpen() const {
    return descriptor_ >= 0;
}

bool DurableFile::write(std::string_view bytes) {
    while (isOpen() && !bytes.empty()) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return isOpen();
}

bool DurableFile::sync() {
    return isOpen() && ::fsync(descriptor_) == 0;
}

bool DurableFile::close() {
    if (!isOpen()) {
        return false;
    }
    const bool closed = ::close(descriptor_) == 0;
    descriptor_ = -1;
    return closed;
}

void replaceFile(const fs::path& from, const fs::path& to) {
    fs::rename(from, to); // one atomic step on POSIX systems, replacing a file of that name
}

void syncFolder(const fs::path& folder) {
    const int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

#endif

} // namespace zarn
