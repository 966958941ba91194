// Forced into GoogleTest's own build for the Wine suites, which build it
// single-threaded (GTEST_IS_THREADSAFE=0). Its Windows death-test code still
// wants the handle owner that only the thread-safe build declares.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class AutoHandle {
public:
    typedef void* Handle;
    AutoHandle() : handle_(INVALID_HANDLE_VALUE) {}
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    ~AutoHandle() { Reset(); }
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;

    Handle Get() const { return handle_; }
    void Reset() { Reset(INVALID_HANDLE_VALUE); }
    void Reset(Handle handle)
    {
        if (handle_ != handle && handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    Handle handle_;
};

} // namespace internal
} // namespace testing
