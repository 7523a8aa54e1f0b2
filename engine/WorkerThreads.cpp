// Worker threads for a render. The one file of the core built with exceptions: std::thread
// reports a failed start by throwing, and the failure is turned into a count here.
#include "engine/WorkerThreads.h"

#include <new>
#include <system_error>

namespace oryn {

int32_t WorkerThreads::start(int32_t count, void (*run)(void* arg, int32_t index), void* arg)
{
    joinAll();
    if (count > MaxRenderThreads - 1)
        count = MaxRenderThreads - 1;
    for (int32_t i = 0; i < count; ++i) {
        try {
            threads[i] = std::thread(run, arg, i);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
        started = i + 1;
    }
    return started;
}

void WorkerThreads::joinAll()
{
    for (int32_t i = 0; i < started; ++i) {
        if (threads[i].joinable())
            threads[i].join();
    }
    started = 0;
}

} // namespace oryn
