#include "rate_limit.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <cmath>

namespace server {

RateLimiter::RateLimiter(double per_second, double burst, size_t max_clients)
    : rate_(per_second), burst_(std::max(1.0, burst)), max_clients_(max_clients) {}

void RateLimiter::prune(Clock::time_point now) {
    // A bucket that has filled up again is the same as no bucket.
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        double t = it->second.tokens +
                   std::chrono::duration<double>(now - it->second.last).count() * rate_;
        it = t >= burst_ ? buckets_.erase(it) : std::next(it);
    }
}

double RateLimiter::take(const std::string &client, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = buckets_.find(client);
    if (it == buckets_.end()) {
        if (buckets_.size() >= max_clients_) prune(now);
        // Memory stays bounded: past the limit, new addresses wait for the table to drain.
        if (buckets_.size() >= max_clients_) return 1.0;
        it = buckets_.emplace(client, Bucket{burst_, now}).first;
    }
    Bucket &b = it->second;
    b.tokens =
        std::min(burst_, b.tokens + std::chrono::duration<double>(now - b.last).count() * rate_);
    b.last = now;
    if (b.tokens >= 1.0) {
        b.tokens -= 1.0;
        return 0.0;
    }
    return rate_ > 0 ? (1.0 - b.tokens) / rate_ : 3600.0;
}

std::string client_key(const std::string &address) {
    boost::system::error_code ec;
    auto a = boost::asio::ip::make_address(address, ec);
    if (ec) return address;
    if (a.is_v6()) {
        auto v6 = a.to_v6();
        if (v6.is_v4_mapped())
            return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_string();
        auto bytes = v6.to_bytes();
        std::fill(bytes.begin() + 8, bytes.end(), 0);
        return boost::asio::ip::address_v6(bytes).to_string() + "/64";
    }
    return a.to_string();
}

} // namespace server
