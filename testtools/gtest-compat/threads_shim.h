// Force-included into GoogleTest and the unit tests. The shipping programs
// use the win32 thread model of the toolchain (the POSIX one imports
// functions Windows XP lacks), whose standard library has no std::mutex or
// std::condition_variable; GoogleTest names them in code the tests never run
// concurrently. Minimal stand-ins keep it compiling.
#pragma once
#include <condition_variable>
#include <mutex>
#if !defined(_GLIBCXX_HAS_GTHREADS)
#include <windows.h>
namespace std {
class mutex {
public:
    mutex() { ::InitializeCriticalSection(&cs_); }
    ~mutex() { ::DeleteCriticalSection(&cs_); }
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;
    void lock() { ::EnterCriticalSection(&cs_); }
    void unlock() { ::LeaveCriticalSection(&cs_); }
private:
    CRITICAL_SECTION cs_;
};
class condition_variable {
public:
    void notify_one() {}
    void notify_all() {}
    template <class Predicate>
    void wait(unique_lock<mutex>& lock, Predicate ready) {
        while (!ready()) {
            lock.unlock();
            ::Sleep(1);
            lock.lock();
        }
    }
};
}  // namespace std
#endif
