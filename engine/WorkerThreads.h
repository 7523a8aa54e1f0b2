// Worker threads for a render: started together, joined together, never left running.
#pragma once

#include <cstdint>
#include <thread>

namespace oryn {

// Most threads a render uses, the calling thread included.
constexpr int32_t MaxRenderThreads = 16;

// Up to MaxRenderThreads - 1 threads, each running run(arg, index) once. The destructor joins
// every thread still running, so no worker outlives its owner.
class WorkerThreads {
public:
    WorkerThreads() = default;
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() { joinAll(); }

    // Starts count threads (limited to MaxRenderThreads - 1) with indices 0 .. count - 1.
    // Creating a thread can fail when the system is short of memory or threads; the threads
    // started until then keep running. Returns how many threads run.
    int32_t start(int32_t count, void (*run)(void* arg, int32_t index), void* arg);

    // Waits for every started thread to end.
    void joinAll();

private:
    std::thread threads[MaxRenderThreads - 1];
    int32_t started = 0;
};

} // namespace oryn
