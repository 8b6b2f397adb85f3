#pragma once

#include <atomic>
#include <thread>

namespace lumivox::engine {

// One helper thread kept for the life of its owner. Each post wakes it to call the task with the
// posted number; posts that arrive while it is busy fold into the latest. Destroying the worker
// ends and joins the thread; the task must return by itself in bounded time, and nothing ever
// waits for the worker except what the task itself arranges.
class BandWorker {
public:
    using Task = void (*)(void* context, unsigned posted);

    BandWorker(Task task, void* context); // throws std::system_error where no thread can be made
    ~BandWorker();
    BandWorker(const BandWorker&) = delete;
    BandWorker& operator=(const BandWorker&) = delete;

    // Returns whether the worker was asleep and had to be woken, which takes a while.
    bool post(unsigned number); // never 0

private:
    void serve();

    Task task;
    void* context;
    std::atomic<unsigned> posted { 0 };
    std::atomic<bool> stopping { false };
    std::atomic<bool> sleeping { false }; // so that a post wakes it only when it has to
    std::thread thread; // started last, once everything it reads exists
};

} // namespace lumivox::engine
