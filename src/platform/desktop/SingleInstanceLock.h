#pragma once

#include <filesystem>

namespace kv {

// An exclusive lock on a file, held for as long as the object lives (and dropped by an exec: the
// next process image takes it anew).
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const std::filesystem::path& file);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another process holds it.
    bool acquired() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace kv
