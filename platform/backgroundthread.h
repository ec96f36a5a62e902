// Threads that do work the user does not wait on frame by frame (tag reads, folder walks,
// playlist checks) give way to the GUI thread when every processor is busy.
#pragma once

#include <QThreadPool>

#include <utility>

namespace kes
{

// Raises the calling thread's nice value by 5, once per thread (later calls do nothing).
// Only that thread changes; where the system refuses, it runs on as it was.
void lowerThisThreadPriority();

// A thread pool for such work: every job runs on a thread that gave way first.
class BackgroundPool : public QThreadPool
{
public:
    template <typename Job> void start(Job &&job, int priority = 0)
    {
        QThreadPool::start(
            [job = std::forward<Job>(job)]() mutable {
                lowerThisThreadPriority();
                job();
            },
            priority);
    }
};

} // namespace kes
