#pragma once

#include <atomic>
#include <thread>

namespace lumivox::engine {

// One helper thread kept for the life of its owner. The owner hands it half of a task and runs
// the other half itself; the halves can meet part-way. Destroying the worker ends and joins the
// thread, and it never waits on anything but its owner, which is always inside runBoth when the
// worker has work.
class BandWorker {
public:
    using Task = void (*)(void* context, int half);

    BandWorker(); // starts the thread; throws std::system_error where none can be made
    ~BandWorker();
    BandWorker(const BandWorker&) = delete;
    BandWorker& operator=(const BandWorker&) = delete;

    // Runs task(context, 1) on the worker while the calling thread runs task(context, 0), and
    // returns when both have returned. The task must not throw.
    void runBoth(Task task, void* context);

    // Called by both halves of a task the same number of times: returns once the other half has
    // made as many calls as this one.
    void meet(int half);

private:
    void serve();

    Task posted = nullptr;
    void* postedContext = nullptr;
    std::atomic<unsigned> postedCount { 0 };
    std::atomic<unsigned> finishedCount { 0 };
    std::atomic<bool> stopping { false };
    std::atomic<unsigned> meetings[2] = { 0, 0 };
    std::thread thread; // started last, once everything it reads exists
};

} // namespace lumivox::engine
