#include "toolkit/serial_worker.hpp"

#include <utility>

namespace ocu {

SerialWorker::SerialWorker() : thread_([this] { loop(); }) {
    std::lock_guard<std::mutex> lock(m_);
    id_ = thread_.get_id();
}

SerialWorker::~SerialWorker() {
    {
        std::lock_guard<std::mutex> lock(m_);
        quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void SerialWorker::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(m_);
        jobs_.push_back(std::move(job));
    }
    cv_.notify_one();
}

bool SerialWorker::in_worker() const {
    std::lock_guard<std::mutex> lock(m_);  // id_ is set after the thread has started
    return std::this_thread::get_id() == id_;
}

std::size_t SerialWorker::pending() const {
    std::lock_guard<std::mutex> lock(m_);
    return jobs_.size() + running_;
}

void SerialWorker::loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // quit, and everything posted is done
            job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = 1;
        }
        try {
            job();
        } catch (...) {
            // A job hands back what it needs to; nothing escapes the thread.
        }
        job = nullptr;  // what it captured goes before the next job starts
        std::lock_guard<std::mutex> lock(m_);
        running_ = 0;
    }
}

}  // namespace ocu
