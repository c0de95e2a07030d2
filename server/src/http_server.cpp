#include "http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <iostream>
#include <thread>

namespace server {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

std::chrono::steady_clock::duration seconds(double s) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s));
}

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket &&socket, App &app, std::shared_ptr<std::atomic<size_t>> open)
        : stream_(std::move(socket)), app_(app), open_(std::move(open)) {
        beast::error_code ec;
        auto ep = stream_.socket().remote_endpoint(ec);
        peer_ = ec ? "unknown" : ep.address().to_string();
        // An answer may leave in two writes (header, body): without this the second waits for
        // the client's delayed ACK, some 40 ms on every keep-alive submission.
        stream_.socket().set_option(tcp::no_delay(true), ec);
    }
    ~Session() { --*open_; }

    void start() {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_header(); });
    }

  private:
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    App &app_;
    std::shared_ptr<std::atomic<size_t>> open_; // the listener's count of open connections
    std::string peer_, client_;
    char drain_[4096];
    size_t drained_ = 0;

    const Config &config() const { return app_.config(); }

    void read_header() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(config().max_header));
        parser_->body_limit(config().max_body);
        // One deadline for the whole request, header and body: a slow sender is cut off.
        stream_.expires_after(seconds(config().read_timeout));
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->on_header(ec); });
    }

    // Whether the error is the request's fault (answered), or the connection's (closed).
    bool answer_read_error(beast::error_code ec) {
        if (ec == http::error::header_limit) {
            write(app_.error(http::status::request_header_fields_too_large,
                             "the request header is too large"),
                  false);
            return true;
        }
        if (ec == http::error::body_limit) {
            write(app_.error(http::status::payload_too_large, "the request is too large"), false);
            return true;
        }
        // The parser's own errors: the request is malformed (not cut off nor timed out).
        if (&ec.category() == &http::make_error_code(http::error::bad_target).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message) {
            write(app_.error(http::status::bad_request, "malformed request: " + ec.message()),
                  false);
            return true;
        }
        return false;
    }

    void on_header(beast::error_code ec) {
        if (ec) {
            if (!answer_read_error(ec)) close();
            return;
        }
        auto &req = parser_->get();
        client_ = app_.client_of(req, peer_);
        if (auto early = app_.precheck(req, client_)) {
            write(std::move(*early), false);
            return;
        }
        if (beast::iequals(req[http::field::expect], "100-continue")) {
            auto cont = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                           req.version());
            http::async_write(stream_, *cont,
                              [self = shared_from_this(), cont](beast::error_code ec, size_t) {
                                  if (ec) return self->close();
                                  self->read_body();
                              });
            return;
        }
        read_body();
    }

    void read_body() {
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->on_body(ec); });
    }

    void on_body(beast::error_code ec) {
        if (ec) {
            if (!answer_read_error(ec)) close();
            return;
        }
        stream_.expires_never(); // while the app works (a replay may take seconds)
        auto self = shared_from_this();
        app_.handle(parser_->release(), client_, [self](http::message_generator &&m) {
            // Answers may come from a worker thread: write on the session's strand.
            auto msg = std::make_shared<http::message_generator>(std::move(m));
            net::post(self->stream_.get_executor(), [self, msg] { self->write(std::move(*msg)); });
        });
    }

    void write(http::message_generator &&msg) {
        bool keep = msg.keep_alive();
        stream_.expires_after(seconds(config().write_timeout));
        beast::async_write(stream_, std::move(msg),
                           [self = shared_from_this(), keep](beast::error_code ec, size_t) {
                               if (ec) return self->close();
                               if (keep) return self->read_header();
                               self->linger();
                           });
    }

    void write(Response &&res, bool keep) {
        res.keep_alive(keep);
        write(http::message_generator(std::move(res)));
    }

    // The client may still be sending a body we refused: read and drop it for a moment, so
    // closing does not reset the connection before the client has read our answer.
    void linger() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (ec) return close();
        stream_.expires_after(std::chrono::seconds(2));
        drain();
    }

    void drain() {
        stream_.async_read_some(net::buffer(drain_),
                                [self = shared_from_this()](beast::error_code ec, size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->drained_ > (4u << 20)) return self->close();
                                    self->drain();
                                });
    }

    void close() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
        stream_.close();
    }
};

class Listener : public std::enable_shared_from_this<Listener> {
  public:
    Listener(net::io_context &ioc, tcp::endpoint ep, App &app)
        : ioc_(ioc), acceptor_(net::make_strand(ioc)), app_(app) {
        acceptor_.open(ep.protocol());
        acceptor_.set_option(net::socket_base::reuse_address(true));
        acceptor_.bind(ep);
        acceptor_.listen(net::socket_base::max_listen_connections);
    }
    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    void start() { accept(); }
    void stop() {
        net::post(acceptor_.get_executor(), [self = shared_from_this()] {
            beast::error_code ec;
            self->acceptor_.close(ec);
        });
    }

  private:
    net::io_context &ioc_;
    tcp::acceptor acceptor_;
    App &app_;
    std::shared_ptr<std::atomic<size_t>> open_ = std::make_shared<std::atomic<size_t>>(0);

    void accept() {
        acceptor_.async_accept(net::make_strand(ioc_),
                               [self = shared_from_this()](beast::error_code ec, tcp::socket s) {
                                   self->on_accept(ec, std::move(s));
                               });
    }

    void on_accept(beast::error_code ec, tcp::socket s) {
        if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
        if (!ec) {
            if (*open_ >= app_.config().max_connections) {
                beast::error_code ignored;
                s.close(ignored); // over the limit: closed at once
            } else {
                ++*open_;
                std::make_shared<Session>(std::move(s), app_, open_)->start();
            }
        } else if (ec == net::error::no_descriptors) {
            // Out of descriptors: let some connections end before accepting more.
            auto t = std::make_shared<net::steady_timer>(acceptor_.get_executor(),
                                                         std::chrono::milliseconds(100));
            t->async_wait([self = shared_from_this(), t](beast::error_code) { self->accept(); });
            return;
        }
        accept();
    }
};

} // namespace

void serve(App &app, const std::function<void(const std::string &url)> &on_listening) {
    const Config &c = app.config();
    net::io_context ioc(static_cast<int>(c.io_threads));
    auto address = net::ip::make_address(c.address);
    auto listener = std::make_shared<Listener>(ioc, tcp::endpoint{address, c.port}, app);
    listener->start();
    auto ep = listener->endpoint();
    std::string host =
        ep.address().is_v6() ? "[" + ep.address().to_string() + "]" : ep.address().to_string();
    on_listening("http://" + host + ":" + std::to_string(ep.port()) + "/");

    net::signal_set signals(ioc, SIGINT, SIGTERM);
    signals.async_wait([&](beast::error_code, int) {
        listener->stop();
        ioc.stop();
    });
    std::vector<std::thread> threads;
    for (size_t i = 1; i < c.io_threads; ++i)
        threads.emplace_back([&] { ioc.run(); });
    ioc.run();
    for (auto &t : threads)
        t.join();
    // Replays still running answer into the stopped context, which must outlive them.
    app.stop();
}

} // namespace server
