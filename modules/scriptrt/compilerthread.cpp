#include "compilerthread.h"

#include <angelscript.h>

#include <utility>

namespace scriptrt {

CompilerThread::~CompilerThread()
{
    if (!m_started)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    pthread_join(m_thread, nullptr);
}

bool CompilerThread::run(const std::function<void()> &work)
{
    if (!m_started) {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0)
            return false;
        m_started = pthread_attr_setstacksize(&attr, kCompilerStackSize) == 0
                    && pthread_create(&m_thread, &attr, &CompilerThread::main, this) == 0;
        pthread_attr_destroy(&attr);
        if (!m_started)
            return false;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_work = &work;
    m_failure = nullptr;
    m_wake.notify_one();
    m_done.wait(lock, [this] { return m_work == nullptr; });
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
    return true;
}

void *CompilerThread::main(void *self)
{
    auto &t = *static_cast<CompilerThread *>(self);
    std::unique_lock<std::mutex> lock(t.m_mutex);
    for (;;) {
        t.m_wake.wait(lock, [&t] { return t.m_work || t.m_stop; });
        if (t.m_stop)
            break;
        const std::function<void()> &work = *t.m_work;
        std::exception_ptr failure;
        lock.unlock();
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        t.m_failure = failure;
        t.m_work = nullptr;
        t.m_done.notify_one();
    }
    lock.unlock();
    // The interpreter keeps data per thread; this thread ends here.
    AngelScript::asThreadCleanup();
    return nullptr;
}

} // namespace scriptrt
