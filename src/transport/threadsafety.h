// Lock annotations for Clang's thread-safety analysis (-Wthread-safety); empty for other compilers.
// Mutex is std::mutex declared as a capability, so that fields marked TELVANE_GUARDED_BY(mu) are
// checked at every access; MutexLock is its scoped guard. Waiting on a condition uses
// std::condition_variable_any with a std::unique_lock<Mutex>.
#pragma once

#include <mutex>

#if defined(__clang__)
#define TELVANE_TSA(x) __attribute__((x))
#else
#define TELVANE_TSA(x)
#endif

#define TELVANE_CAPABILITY(x) TELVANE_TSA(capability(x))
#define TELVANE_SCOPED_CAPABILITY TELVANE_TSA(scoped_lockable)
#define TELVANE_GUARDED_BY(x) TELVANE_TSA(guarded_by(x))
#define TELVANE_REQUIRES(...) TELVANE_TSA(requires_capability(__VA_ARGS__))
#define TELVANE_EXCLUDES(...) TELVANE_TSA(locks_excluded(__VA_ARGS__))
#define TELVANE_ACQUIRE(...) TELVANE_TSA(acquire_capability(__VA_ARGS__))
#define TELVANE_RELEASE(...) TELVANE_TSA(release_capability(__VA_ARGS__))
#define TELVANE_NO_THREAD_SAFETY_ANALYSIS TELVANE_TSA(no_thread_safety_analysis)

namespace telvane::transport {

class TELVANE_CAPABILITY("mutex") Mutex {
public:
    void lock() TELVANE_ACQUIRE() { mu_.lock(); }
    void unlock() TELVANE_RELEASE() { mu_.unlock(); }
    bool try_lock() { return mu_.try_lock(); }

private:
    std::mutex mu_;
};

class TELVANE_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mu) TELVANE_ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
    ~MutexLock() TELVANE_RELEASE() { mu_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mu_;
};

// A MutexLock that a condition variable can release while it waits: cv.wait_for(lock.get(), ...).
class TELVANE_SCOPED_CAPABILITY UniqueLock {
public:
    explicit UniqueLock(Mutex& mu) TELVANE_ACQUIRE(mu) : lock_(mu) {}
    ~UniqueLock() TELVANE_RELEASE() {}
    void unlock() TELVANE_RELEASE() { lock_.unlock(); }
    std::unique_lock<Mutex>& get() { return lock_; }

private:
    std::unique_lock<Mutex> lock_;
};

}  // namespace telvane::transport

// Marks a wait predicate: the condition variable calls it with the wait's lock held, which the
// analysis cannot see through std::condition_variable_any.
#define TELVANE_LOCKED_PREDICATE TELVANE_NO_THREAD_SAFETY_ANALYSIS
