// Slim reader/writer locks and their scope guards. The framework's few shared tables (factories,
// component classes, the dialog handler, the log's identity) are guarded with these rather than
// std::mutex, so that the DLL needs no threading library beyond the kernel's own.
#pragma once

#include <windows.h>

namespace qvr {

class SrwLock {
public:
    SrwLock() noexcept = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    SRWLOCK* get() noexcept { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// Held for writing until the end of the scope.
class [[nodiscard]] ExclusiveLock {
public:
    explicit ExclusiveLock(SrwLock& lock) noexcept : lock_(lock.get()) { AcquireSRWLockExclusive(lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK* lock_;
};

// Held for reading until the end of the scope; readers do not wait for each other.
class [[nodiscard]] SharedLock {
public:
    explicit SharedLock(SrwLock& lock) noexcept : lock_(lock.get()) { AcquireSRWLockShared(lock_); }
    ~SharedLock() { ReleaseSRWLockShared(lock_); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK* lock_;
};

}  // namespace qvr
