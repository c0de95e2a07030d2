#pragma once
#include "config.h"
#include "pool.h"
#include "rate_limit.h"
#include "storage.h"

#include <boost/beast/http.hpp>

#include <functional>
#include <memory>
#include <optional>

namespace server {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
using Send = std::function<void(http::message_generator &&)>;

// What the server answers, apart from sockets: routing, limits, replays, storage.
class App {
  public:
    App(Config config, std::unique_ptr<Storage> storage);
    ~App();

    // Who sent the request: the peer's address, or behind a trusted reverse proxy the
    // address that proxy names in X-Forwarded-For.
    std::string client_of(const Request &header, const std::string &peer) const;
    // With the header alone, before the body is read: an answer that ends the request
    // (rate limited, too large, wrong type), or nothing. Called once per request.
    std::optional<Response> precheck(const Request &header, const std::string &client);
    // Answers a whole request through `send`, at once or later from a worker.
    void handle(Request &&req, const std::string &client, Send send);
    // An answer to a request that could not be read (size, syntax).
    Response error(http::status status, const std::string &message, unsigned version = 11);

    const Config &config() const { return config_; }
    void stop();

  private:
    Config config_;
    std::unique_ptr<Storage> storage_;
    Pool pool_;
    RateLimiter requests_, submissions_;
    std::string tmp_dir_;
    std::string page_style_hash_;

    // These answer through `send`, which the caller still holds: what they throw is answered
    // by the caller through it.
    void submit(Request &&req, const Send &send);
    Response ranking(const Request &req);
    Response leaderboard(const Request &req);
    Response health(const Request &req);
    void game(Request &&req, const std::string &rest, const Send &send);
    void play_file(Request &&req, const std::string &path, const Send &send);
    bool authorized(const Request &req) const;
    const StageSet *stage_set(const std::string &sha256) const;
};

} // namespace server
