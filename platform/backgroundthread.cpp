#include "backgroundthread.h"

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

namespace kes
{

void lowerThisThreadPriority()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    // On Linux a thread id names one thread for PRIO_PROCESS.
    const auto tid = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        setpriority(PRIO_PROCESS, tid, nice + 5);
}

} // namespace kes
