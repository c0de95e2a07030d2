#include "app.h"

#include "demo.h"
#include "names.h"
#include "page.h"
#include "util.h"
#include "web_files.h"

#include <boost/asio/ip/address.hpp>
#include <boost/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <mutex>

namespace server {

namespace json = boost::json;

namespace {

std::mutex log_mutex;
void log(const std::string &line) {
    std::lock_guard<std::mutex> lock(log_mutex);
    std::cerr << "tarmik-server: " << line << std::endl;
}

void common_headers(Response &res) {
    res.set(http::field::server, "tarmik-server");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
}

Response json_response(http::status status, const json::value &v, unsigned version = 11) {
    Response res{status, version};
    common_headers(res);
    res.set(http::field::content_type, "application/json; charset=utf-8");
    res.set(http::field::cache_control, "no-store");
    res.set("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
    res.body() = json::serialize(v);
    res.body() += "\n";
    res.prepare_payload();
    return res;
}

Response json_error(http::status status, const std::string &message, unsigned version = 11) {
    return json_response(status, json::object{{"error", message}}, version);
}

json::object game_json(const Game &g, int64_t place) {
    const GameResult &r = g.result;
    std::string id = std::to_string(g.id);
    return json::object{{"id", g.id},
                        {"place", place},
                        {"player", g.player},
                        {"verified", true},
                        {"version", r.version},
                        {"stages", r.stages},
                        {"score", r.score},
                        {"stage", r.stage},
                        {"hitrate", r.hitrate},
                        {"title", r.title},
                        {"title_sjis", r.title_sjis},
                        {"hits", r.hits},
                        {"shots", r.shots},
                        {"ticks", r.ticks},
                        {"submitted", utc_time(g.submitted_ms)},
                        {"demo_sha256", g.demo_sha256},
                        {"demo", "/api/games/" + id + "/demo"}};
}

// A HEAD request gets the GET answer's header alone.
http::message_generator finish(const Request &req, Response &&res) {
    res.version(req.version());
    res.keep_alive(res.keep_alive() && req.keep_alive());
    if (req.method() == http::verb::head) {
        auto size = res.body().size();
        http::response<http::empty_body> head{std::move(res.base())};
        head.content_length(size);
        return head;
    }
    return std::move(res);
}

Response not_allowed(const char *allow) {
    Response res = json_error(http::status::method_not_allowed, "method not allowed here");
    res.set(http::field::allow, allow);
    return res;
}

bool is_get(const Request &req) {
    return req.method() == http::verb::get || req.method() == http::verb::head;
}

std::string query_value(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        size_t eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            std::string raw(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
            for (char &c : raw)
                if (c == '+') c = ' ';
            auto v = percent_decode(raw);
            return v ? *v : std::string("\x01"); // never a valid value
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return "";
}

std::string header_of(const Request &req, http::field f) {
    return std::string(req[f]);
}

} // namespace

App::App(Config config, std::unique_ptr<Storage> storage)
    : config_(std::move(config)), storage_(std::move(storage)),
      pool_(config_.workers, config_.queue),
      requests_(config_.request_per_second, config_.request_burst),
      submissions_(config_.submit_per_minute / 60.0, config_.submit_burst),
      page_style_hash_(sha256_base64(page_style())) {
    // Demos wait for their replay in a folder of our own; what a killed server left goes.
    tmp_dir_ = config_.data_dir + "/tmp";
    mkdir(tmp_dir_.c_str(), 0700);
    chmod(tmp_dir_.c_str(), 0700);
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(tmp_dir_, ec))
        if (e.path().filename().string().rfind("demo-", 0) == 0)
            std::filesystem::remove(e.path(), ec);
}

App::~App() {
    stop();
}

void App::stop() {
    pool_.stop();
}

Response App::error(http::status status, const std::string &message, unsigned version) {
    Response res = json_error(status, message, version);
    res.keep_alive(false);
    return res;
}

const StageSet *App::stage_set(const std::string &sha256) const {
    for (const StageSet &s : config_.stages)
        if (s.sha256 == sha256) return &s;
    return nullptr;
}

std::string App::client_of(const Request &req, const std::string &peer) const {
    if (config_.trusted_proxy.empty()) return peer;
    boost::system::error_code ec;
    auto p = boost::asio::ip::make_address(peer, ec);
    if (ec || p.to_string() != config_.trusted_proxy) return peer;
    // The proxy appends the address it saw; anything before it came from the client.
    std::string forwarded(req["X-Forwarded-For"]);
    std::string last =
        forwarded.substr(forwarded.rfind(',') == std::string::npos ? 0 : forwarded.rfind(',') + 1);
    while (!last.empty() && last.front() == ' ')
        last.erase(0, 1);
    while (!last.empty() && last.back() == ' ')
        last.pop_back();
    auto a = boost::asio::ip::make_address(last, ec);
    return ec ? peer : a.to_string();
}

std::optional<Response> App::precheck(const Request &req, const std::string &client) {
    std::string key = client_key(client);
    if (double wait = requests_.take(key); wait > 0) {
        Response res =
            error(http::status::too_many_requests, "too many requests; slow down", req.version());
        res.set(http::field::retry_after, std::to_string(static_cast<long>(std::ceil(wait))));
        return res;
    }
    std::string_view target = req.target();
    if (req.method() == http::verb::post && target.substr(0, target.find('?')) == "/api/games") {
        if (double wait = submissions_.take(key); wait > 0) {
            Response res =
                error(http::status::too_many_requests,
                      "too many games from this address; try again later", req.version());
            res.set(http::field::retry_after, std::to_string(static_cast<long>(std::ceil(wait))));
            return res;
        }
        std::string length = header_of(req, http::field::content_length);
        if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > config_.max_body)
            return error(http::status::payload_too_large,
                         "the request is larger than " + std::to_string(config_.max_body) +
                             " bytes",
                         req.version());
        std::string type = header_of(req, http::field::content_type);
        // Only JSON: a page elsewhere cannot send that cross-origin without asking first.
        if (type.substr(0, type.find(';')) != "application/json")
            return error(http::status::unsupported_media_type, "send the game as application/json",
                         req.version());
    }
    return std::nullopt;
}

void App::handle(Request &&req, const std::string &client, Send send) {
    auto started = std::chrono::steady_clock::now();
    if (config_.access_log) {
        std::string line =
            client + " " + std::string(req.method_string()) + " " + std::string(req.target());
        send = [send = std::move(send), line, started](http::message_generator &&m) {
            auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                                started)
                          .count();
            char buf[32];
            std::snprintf(buf, sizeof buf, " %.1f ms", ms);
            log(line + buf);
            send(std::move(m));
        };
    }
    std::string target(req.target());
    std::string path = target.substr(0, target.find('?'));
    try {
        if (path == "/api/games") {
            if (req.method() != http::verb::post) return send(finish(req, not_allowed("POST")));
            return submit(std::move(req), send);
        }
        if (path.rfind("/api/games/", 0) == 0) return game(std::move(req), path.substr(11), send);
        if (path.rfind("/play/", 0) == 0) return play_file(std::move(req), path.substr(6), send);
        Response res;
        if (path == "/play" && !config_.web_dir.empty()) {
            // The game's folder as typed without its slash: its files are named from inside it.
            if (!is_get(req)) return send(finish(req, not_allowed("GET, HEAD")));
            res = json_error(http::status::moved_permanently, "the web game is at /play/");
            res.set(http::field::location, "/play/" + target.substr(path.size()));
            return send(finish(req, std::move(res)));
        }
        if (path == "/" || path == "/api/ranking" || path == "/api/health") {
            if (!is_get(req)) return send(finish(req, not_allowed("GET, HEAD")));
            res = path == "/"              ? leaderboard(req)
                  : path == "/api/ranking" ? ranking(req)
                                           : health(req);
        } else {
            res = json_error(http::status::not_found, "nothing here");
        }
        send(finish(req, std::move(res)));
    } catch (const Unavailable &e) {
        log(std::string("database unavailable: ") + e.what());
        Response res = json_error(http::status::service_unavailable,
                                  "the database is unavailable; try again later");
        res.set(http::field::retry_after, "5");
        send(finish(req, std::move(res)));
    } catch (const std::exception &e) {
        log(std::string("fault: ") + e.what());
        send(finish(req, json_error(http::status::internal_server_error, "internal error")));
    }
}

void App::submit(Request &&req, const Send &send) {
    auto bad = [&](http::status s, const std::string &msg) {
        send(finish(req, json_error(s, msg)));
    };
    boost::system::error_code ec;
    json::parse_options opts;
    opts.max_depth = 4;
    json::value body = json::parse(req.body(), ec, {}, opts);
    if (ec) return bad(http::status::bad_request, "the body is not JSON: " + ec.message());
    if (!body.is_object()) return bad(http::status::bad_request, "the body is not a JSON object");
    const json::object &o = body.as_object();
    auto player = o.if_contains("player");
    auto demo = o.if_contains("demo");
    if (!player || !player->is_string())
        return bad(http::status::bad_request, "the body has no \"player\" string");
    if (!demo || !demo->is_string())
        return bad(http::status::bad_request, "the body has no \"demo\" string");

    NewGame g;
    g.player = std::string(player->as_string());
    g.demo = std::string(demo->as_string());
    if (std::string why = name_problem(g.player); !why.empty())
        return bad(http::status::unprocessable_entity, why);
    std::string stages;
    if (std::string why = demo_problem(g.demo, stages); !why.empty())
        return bad(http::status::unprocessable_entity, why);
    const StageSet *set = stage_set(stages);
    if (!set)
        return bad(http::status::unprocessable_entity,
                   "the demo was played on a stage set this server does not rank (stages " +
                       stages + ")");
    g.demo_sha256 = sha256_hex(g.demo);

    // The same bytes again: the first entry, without replaying.
    if (auto stored = storage_->find_by_demo(g.demo_sha256)) {
        int64_t place = storage_->place(*stored);
        return send(finish(req, json_response(http::status::ok, game_json(*stored, place))));
    }

    auto head = std::make_shared<Request>(std::move(req));
    head->body().clear();
    auto job = [this, head, send, g = std::move(g), set]() mutable {
        Response res;
        try {
            char path[4096];
            std::snprintf(path, sizeof path, "%s/demo-XXXXXX", tmp_dir_.c_str());
            int fd = mkstemp(path);
            if (fd < 0) throw std::runtime_error("cannot write a temporary file in " + tmp_dir_);
            size_t done = 0;
            while (done < g.demo.size()) {
                ssize_t n = write(fd, g.demo.data() + done, g.demo.size() - done);
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            close(fd);
            ReplayOutcome out;
            if (done == g.demo.size())
                out = run_replay(config_.replay_tool, set->path, set->sha256, path, config_.replay);
            else
                out.reason = "cannot write a temporary file in " + tmp_dir_;
            unlink(path);
            if (out.kind == ReplayOutcome::verified) {
                g.result = out.result;
                g.submitted_ms = now_ms();
                auto [stored, created] = storage_->submit(g);
                int64_t place = storage_->place(stored);
                if (created)
                    log("game " + std::to_string(stored.id) + " stored: score " +
                        std::to_string(stored.result.score) + " on " + set->name);
                res = json_response(created ? http::status::created : http::status::ok,
                                    game_json(stored, place));
                if (created)
                    res.set(http::field::location, "/api/games/" + std::to_string(stored.id));
            } else if (out.kind == ReplayOutcome::failed) {
                log("replay failed: " + out.reason);
                res = json_error(http::status::internal_server_error,
                                 "the replay failed; the server's log says why");
            } else {
                res = json_error(http::status::unprocessable_entity, out.reason);
            }
        } catch (const Unavailable &e) {
            log(std::string("database unavailable: ") + e.what());
            res = json_error(http::status::service_unavailable,
                             "the database is unavailable; try again later");
            res.set(http::field::retry_after, "5");
        } catch (const std::exception &e) {
            log(std::string("fault: ") + e.what());
            res = json_error(http::status::internal_server_error, "internal error");
        }
        send(finish(*head, std::move(res)));
    };
    if (!pool_.try_post(std::move(job))) {
        Response res = json_error(http::status::service_unavailable,
                                  "the server is busy replaying other games; try again shortly");
        res.set(http::field::retry_after, "2");
        send(finish(*head, std::move(res)));
    }
}

Response App::ranking(const Request &req) {
    std::string_view target = req.target();
    std::string_view query =
        target.find('?') == std::string_view::npos ? "" : target.substr(target.find('?') + 1);
    std::string stages = query_value(query, "stages");
    std::string limit_text = query_value(query, "limit");
    const StageSet *set = stages.empty() ? &config_.stages.front() : stage_set(stages);
    if (!set) return json_error(http::status::not_found, "no such stage set here");
    long limit = 20;
    if (!limit_text.empty()) {
        char *end = nullptr;
        limit = std::strtol(limit_text.c_str(), &end, 10);
        if (*end || limit < 1 || limit_text.size() > 9)
            return json_error(http::status::bad_request, "limit is a whole number from 1");
        limit = std::min(limit, 100L);
    }
    json::array games;
    for (const Ranked &r : storage_->ranking(set->sha256, static_cast<int>(limit)))
        games.push_back(game_json(r.game, r.place));
    return json_response(
        http::status::ok,
        json::object{{"stages", set->sha256}, {"name", set->name}, {"games", std::move(games)}});
}

Response App::leaderboard(const Request &) {
    std::vector<Board> boards;
    for (const StageSet &s : config_.stages)
        boards.push_back({&s, storage_->ranking(s.sha256, 20)});
    Response res{http::status::ok, 11};
    common_headers(res);
    res.set(http::field::content_type, "text/html; charset=utf-8");
    res.set(http::field::cache_control, "no-cache");
    res.set("Content-Security-Policy",
            "default-src 'none'; style-src 'sha256-" + page_style_hash_ +
                "'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    res.set(http::field::x_frame_options, "DENY");
    res.set("Cross-Origin-Opener-Policy", "same-origin");
    res.body() = leaderboard_html(boards, !config_.web_dir.empty());
    res.prepare_payload();
    return res;
}

Response App::health(const Request &) {
    json::object replays{{"workers", pool_.workers()},
                         {"running", pool_.running()},
                         {"waiting", pool_.waiting()},
                         {"queue", pool_.capacity()}};
    try {
        storage_->check();
    } catch (const std::exception &e) {
        Response res = json_response(
            http::status::service_unavailable,
            json::object{{"status", "unavailable"}, {"database", e.what()}, {"replays", replays}});
        res.set(http::field::retry_after, "5");
        return res;
    }
    return json_response(http::status::ok, json::object{{"status", "ok"},
                                                        {"database", "ok"},
                                                        {"schema", storage_->schema_version()},
                                                        {"replays", replays}});
}

bool App::authorized(const Request &req) const {
    std::string auth = header_of(req, http::field::authorization);
    const std::string scheme = "Bearer ";
    if (auth.compare(0, scheme.size(), scheme) != 0) return false;
    return secret_equal(auth.substr(scheme.size()), config_.admin_token);
}

void App::game(Request &&req, const std::string &rest, const Send &send) {
    bool want_demo = false;
    std::string id_text = rest;
    const std::string suffix = "/demo";
    if (id_text.size() > suffix.size() &&
        id_text.compare(id_text.size() - suffix.size(), suffix.size(), suffix) == 0) {
        want_demo = true;
        id_text.resize(id_text.size() - suffix.size());
    }
    auto id = parse_id(id_text);
    if (!id) return send(finish(req, json_error(http::status::not_found, "no such game")));
    if (want_demo) {
        if (!is_get(req)) return send(finish(req, not_allowed("GET, HEAD")));
        auto body = storage_->demo(*id);
        if (!body) return send(finish(req, json_error(http::status::not_found, "no such game")));
        Response res{http::status::ok, 11};
        common_headers(res);
        res.set(http::field::content_type, "text/plain; charset=us-ascii");
        res.set(http::field::content_disposition,
                "inline; filename=\"game-" + std::to_string(*id) + ".demo\"");
        res.set(http::field::cache_control, "public, max-age=86400, immutable");
        res.body() = std::move(*body);
        res.prepare_payload();
        return send(finish(req, std::move(res)));
    }
    if (req.method() == http::verb::delete_) {
        if (config_.admin_token.empty())
            return send(finish(req, json_error(http::status::forbidden,
                                               "deleting is switched off on this server")));
        if (!authorized(req)) {
            Response res = json_error(http::status::unauthorized, "a valid admin token is needed");
            res.set(http::field::www_authenticate, "Bearer realm=\"tarmik-server\"");
            return send(finish(req, std::move(res)));
        }
        if (!storage_->remove(*id))
            return send(finish(req, json_error(http::status::not_found, "no such game")));
        log("game " + std::to_string(*id) + " deleted by the admin");
        Response res{http::status::no_content, 11};
        common_headers(res);
        res.prepare_payload();
        return send(finish(req, std::move(res)));
    }
    if (!is_get(req)) return send(finish(req, not_allowed("GET, HEAD, DELETE")));
    auto g = storage_->game(*id);
    if (!g) return send(finish(req, json_error(http::status::not_found, "no such game")));
    send(finish(req, json_response(http::status::ok, game_json(*g, storage_->place(*g)))));
}

void App::play_file(Request &&req, const std::string &rest, const Send &send) {
    if (!is_get(req)) return send(finish(req, not_allowed("GET, HEAD")));
    // game-ID.demo: a stored game, fetched by the web game from beside its page.
    const std::string prefix = "game-", suffix = ".demo";
    if (rest.size() > prefix.size() + suffix.size() && rest.rfind(prefix, 0) == 0 &&
        rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0) {
        std::string id = rest.substr(prefix.size(), rest.size() - prefix.size() - suffix.size());
        if (parse_id(id)) {
            Request copy = req;
            copy.target("/api/games/" + id + "/demo");
            return game(std::move(copy), id + "/demo", send);
        }
    }
    auto file = config_.web_dir.empty() ? std::nullopt : web_file(config_.web_dir, rest);
    if (!file) return send(finish(req, json_error(http::status::not_found, "nothing here")));
    http::file_body::value_type body;
    boost::beast::error_code ec;
    body.open(file->c_str(), boost::beast::file_mode::scan, ec);
    if (ec) return send(finish(req, json_error(http::status::not_found, "nothing here")));
    auto size = body.size();
    http::response<http::file_body> res{std::piecewise_construct, std::make_tuple(std::move(body)),
                                        std::make_tuple(http::status::ok, req.version())};
    res.set(http::field::server, "tarmik-server");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
    res.set(http::field::content_type, content_type(*file));
    res.set(http::field::cache_control, "no-cache");
    // The web game: its own scripts and WebAssembly, inline styles, generated media.
    res.set("Content-Security-Policy",
            "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; "
            "style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; "
            "media-src 'self' data: blob:; object-src 'none'; base-uri 'none'; "
            "form-action 'self'; frame-ancestors 'self'");
    res.content_length(size);
    res.keep_alive(req.keep_alive());
    if (req.method() == http::verb::head) {
        http::response<http::empty_body> head{std::move(res.base())};
        head.content_length(size);
        return send(std::move(head));
    }
    send(std::move(res));
}

} // namespace server
