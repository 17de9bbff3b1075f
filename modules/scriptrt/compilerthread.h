#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>

#include <pthread.h>

// Compiling on a thread with a stack large enough for the interpreter's recursive-descent parser
// and compiler at the deepest nesting the source checks admit.
namespace scriptrt {

// 256 MB of address space, reserved, not committed: only the pages compilations touch are used.
// The deepest admitted text needs about 30 MB.
inline constexpr std::size_t kCompilerStackSize = std::size_t(256) << 20;

// One waiting thread with a stack of kCompilerStackSize that runs the work handed to it while
// the caller waits, so the interpreter is still used by one thread at a time. Started on first
// use; stopped (its interpreter data released) on destruction, which must come before the
// interpreter's engine is released.
class CompilerThread
{
public:
    CompilerThread() = default;
    ~CompilerThread();
    CompilerThread(const CompilerThread &) = delete;
    CompilerThread &operator=(const CompilerThread &) = delete;

    // Runs `work` on the thread and waits for it; an exception thrown by `work` is rethrown
    // here. False, with nothing run, when the thread cannot be started.
    bool run(const std::function<void()> &work);

private:
    static void *main(void *self);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void()> *m_work = nullptr; // guarded by m_mutex
    std::exception_ptr m_failure;
    bool m_stop = false;
    bool m_started = false;
    pthread_t m_thread{};
};

} // namespace scriptrt
