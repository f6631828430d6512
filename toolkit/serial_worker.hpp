#pragma once
// One thread that runs jobs one after the other, in the order they were
// posted. Whatever only one thread at a time may do (the pyramid engine's
// process-wide table) is done by posting it to one SerialWorker: no two jobs
// ever overlap, and each job sees everything the earlier ones did.
//
//   SerialWorker w;
//   w.post([] { ... runs on w's thread ... });
//
// A job's exceptions are the job's own business: one that escapes is dropped
// (post a job that catches what it needs to hand back). The destructor waits
// for the jobs posted before it, then ends the thread.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ocu {

class SerialWorker {
public:
    SerialWorker();
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> job);
    // True on the worker's own thread (inside a job).
    bool in_worker() const;
    // Jobs posted and not yet finished (the one running included).
    std::size_t pending() const;

private:
    void loop();
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::size_t running_ = 0;
    bool quit_ = false;
    std::thread thread_;
    std::thread::id id_;
};

}  // namespace ocu
