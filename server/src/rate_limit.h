#pragma once
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace server {

// A token bucket per client address: `burst` requests at once, then `per_second` on average.
class RateLimiter {
  public:
    using Clock = std::chrono::steady_clock;
    RateLimiter(double per_second, double burst, size_t max_clients = 100000);
    // 0 when the request may go ahead (a token taken), else the seconds until one is there.
    double take(const std::string &client, Clock::time_point now = Clock::now());

  private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    double rate_, burst_;
    size_t max_clients_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    void prune(Clock::time_point now);
};

// The key a client is limited by: an IPv4 address, or an IPv6 address's /64 (one host
// usually holds a whole /64); IPv4-mapped IPv6 addresses count as IPv4.
std::string client_key(const std::string &address);

} // namespace server
