#include "pool.h"

namespace server {

Pool::Pool(size_t workers, size_t queue) : capacity_(queue) {
    for (size_t i = 0; i < workers; ++i)
        threads_.emplace_back([this] {
            for (;;) {
                std::function<void()> job;
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                    if (stopping_) return;
                    job = std::move(jobs_.front());
                    jobs_.pop_front();
                    ++running_;
                }
                job();
                std::lock_guard<std::mutex> lock(mutex_);
                --running_;
            }
        });
}

Pool::~Pool() {
    stop();
}

bool Pool::try_post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || jobs_.size() >= capacity_) return false;
        jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
    return true;
}

void Pool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && threads_.empty()) return;
        stopping_ = true;
        jobs_.clear();
    }
    ready_.notify_all();
    for (auto &t : threads_)
        if (t.joinable()) t.join();
}

size_t Pool::waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

size_t Pool::running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

} // namespace server
