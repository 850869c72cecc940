#pragma once

#include <filesystem>
#include <string_view>

namespace zarn {

// A file written for keeps: what sync returns true for is on the disk, so that a rename that
// follows never hands a name to bytes that a power cut could still take away. The platform's own
// calls, not a stream, because a stream cannot ask the disk to flush.
class DurableFile {
  public:
    // Creates the file or empties it, for writing.
    explicit DurableFile(const std::filesystem::path& path);
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;

    bool isOpen() const;
    // Each is false when the platform refused it (a full disk, a lost drive).
    bool write(std::string_view bytes);
    bool sync();
    bool close();

  private:
#ifdef _WIN32
    void* handle_;
#else
    int descriptor_;
#endif
};

// Gives the file at from the name to, replacing the file of that name in one move (on Windows the
// move is written through to the disk before it returns). Throws std::filesystem::filesystem_error.
void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Brings the names given in this folder to the disk where the platform has a way to ask for it
// (a folder's sync on POSIX systems). Some file systems cannot: the names are in place either way.
void syncFolder(const std::filesystem::path& folder);

} // namespace zarn
