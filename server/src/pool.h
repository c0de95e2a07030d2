#pragma once
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace server {

// Threads that run replays, behind a bounded queue: work that does not fit is refused at
// once rather than left to wait without end.
class Pool {
  public:
    Pool(size_t workers, size_t queue);
    ~Pool();
    // False when the queue is full (or the pool stopping): the job was not taken.
    bool try_post(std::function<void()> job);
    // Finishes the running jobs, drops the waiting ones.
    void stop();

    size_t workers() const { return threads_.size(); }
    size_t capacity() const { return capacity_; }
    size_t waiting();
    size_t running();

  private:
    size_t capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    size_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace server
