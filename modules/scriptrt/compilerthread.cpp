#include "compilerthread.h"

#include <angelscript.h>

#include <exception>

#include <pthread.h>

namespace scriptrt {

namespace {

struct Job
{
    const std::function<void()> *work;
    std::exception_ptr failure;
};

void *runJob(void *arg)
{
    auto *job = static_cast<Job *>(arg);
    try {
        (*job->work)();
    } catch (...) {
        job->failure = std::current_exception();
    }
    // The interpreter keeps per-thread data; this thread ends here.
    AngelScript::asThreadCleanup();
    return nullptr;
}

} // namespace

bool runOnCompilerStack(const std::function<void()> &work)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    Job job{&work, nullptr};
    pthread_t thread;
    const bool started = pthread_attr_setstacksize(&attr, kCompilerStackSize) == 0
                         && pthread_create(&thread, &attr, runJob, &job) == 0;
    pthread_attr_destroy(&attr);
    if (!started)
        return false;
    pthread_join(thread, nullptr);
    if (job.failure)
        std::rethrow_exception(job.failure);
    return true;
}

} // namespace scriptrt
