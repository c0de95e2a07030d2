// The real server on loopback: what it answers, what it refuses, the limits it holds.
#include "harness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace harness;
namespace json = boost::json;
using Clock = std::chrono::steady_clock;

namespace {

// A scratch folder of the running test's own (ctest runs tests side by side).
std::string test_dir(const std::string &what) {
    auto info = ::testing::UnitTest::GetInstance()->current_test_info();
    return scratch_dir(std::string(info->test_suite_name()) + "." + info->name() + "-" + what);
}

std::string tool_answer(const std::string &demo) {
    std::string path = test_dir("tool") + "/game.demo";
    std::ofstream(path, std::ios::binary) << demo;
    return run("'" TARMIK_REPLAY "' --verify --stagefile '" TARMIK_STAGEFILE "' '" + path + "'");
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

int64_t num(const json::value &v, const char *key) {
    return v.at(key).as_int64();
}
std::string str(const json::value &v, const char *key) {
    return std::string(v.at(key).as_string());
}

size_t ranked(unsigned short port) {
    auto r = request(port, "GET", "/api/ranking?limit=100");
    return r.json().at("games").as_array().size();
}

// One server for the cases that do not need limits of their own.
class Api : public ::testing::Test {
  protected:
    static inline std::unique_ptr<Server> server;
    static inline std::string token = "0123456789abcdef-admin-token";
    static inline std::string web;
    // Started by the first test that runs in this process, in a folder named after it.
    void SetUp() override {
        if (server) return;
        std::string dir = test_dir("server");
        write_file(dir + "/token", token + "\n");
        web = dir + "/web";
        std::filesystem::create_directories(web + "/sub");
        write_file(web + "/index.html", "<!doctype html><title>game</title>");
        write_file(web + "/tarmik.wasm", std::string("\0asm", 4));
        write_file(web + "/sub/index.html", "sub");
        write_file(web + "/.hidden", "hidden");
        write_file(dir + "/secret.txt", "secret");
        std::filesystem::create_symlink(dir + "/secret.txt", web + "/link.txt");
        server = std::make_unique<Server>(
            std::vector<std::string>{"--admin-token-file", dir + "/token", "--web", web,
                                     "--max-body", "65536", "--max-header", "4096",
                                     "--submit-burst", "1000", "--request-burst", "1000"},
            dir + "/data");
    }
    static void TearDownTestSuite() { server.reset(); }
    unsigned short port() { return server->port(); }
};

TEST_F(Api, VerifiedGameIsStoredWithTheReplaysResult) {
    std::string demo = make_demo(7, 3, "verified");
    auto r = submit(port(), u8"たろう", demo);
    ASSERT_EQ(r.status, 201) << r.body;
    auto g = r.json();
    // Everything but who and when comes from the replay tool's own answer for these bytes.
    auto tool = json::parse(tool_answer(demo));
    for (const char *k : {"version", "stages", "title", "title_sjis"})
        EXPECT_EQ(g.at(k), tool.at(k)) << k;
    for (const char *k : {"score", "stage", "hitrate", "hits", "shots", "ticks"})
        EXPECT_EQ(g.at(k), tool.at(k)) << k;
    EXPECT_EQ(num(g, "score"), 700);
    EXPECT_EQ(str(g, "player"), u8"たろう");
    EXPECT_EQ(str(g, "stages"), shipped_stages());
    EXPECT_EQ(str(g, "demo_sha256"), run("printf %s '" + demo + "' | sha256sum").substr(0, 64));
    EXPECT_GE(num(g, "place"), 1);
    int64_t id = num(g, "id");
    EXPECT_EQ(r.header("location"), "/api/games/" + std::to_string(id));

    auto got = request(port(), "GET", "/api/games/" + std::to_string(id));
    ASSERT_EQ(got.status, 200);
    EXPECT_EQ(got.json().at("score"), g.at("score"));
    EXPECT_EQ(got.json().at("player"), g.at("player"));
    for (std::string path : {"/api/games/" + std::to_string(id) + "/demo",
                             "/play/game-" + std::to_string(id) + ".demo"}) {
        auto d = request(port(), "GET", path);
        EXPECT_EQ(d.status, 200) << path;
        EXPECT_EQ(d.body, demo) << path;
        EXPECT_EQ(d.header("content-type").rfind("text/plain", 0), 0u) << path;
    }
    // The same bytes again, under another name: the first entry.
    auto again = submit(port(), "someone else", demo);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(num(again.json(), "id"), id);
    EXPECT_EQ(str(again.json(), "player"), u8"たろう");
}

TEST_F(Api, TamperedOrForeignDemosAreRefusedAndNotStored) {
    size_t before = ranked(port());
    // One shot moved off the target while the expect line still claims the hit.
    std::string honest = make_demo(5, 0, "tampered");
    std::string tampered = honest;
    tampered.replace(tampered.find("click left down 250 250"), 23, "click left down 251 250");
    auto r = submit(port(), "cheat", tampered);
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_NE(str(r.json(), "error").find("differently"), std::string::npos) << r.body;
    // Claiming more than the game gives.
    r = submit(port(), "cheat", make_demo(1, 0, "claim", 5000));
    EXPECT_EQ(r.status, 422) << r.body;
    // Another stage set: refused before any replay, naming why.
    r = submit(port(), "p", make_demo(1, 0, "other set", -1, "", std::string(64, 'f')));
    EXPECT_EQ(r.status, 422);
    EXPECT_NE(str(r.json(), "error").find("does not rank"), std::string::npos) << r.body;
    // Not a game's demo.
    for (std::string bad :
         {std::string("hello\n"), std::string("# tarmik-demo 2 tarmik 1.0.0\nstages xyz\n"),
          "# tarmik-demo 2 tarmik 1.0.0\r\nstages " + shipped_stages() + "\r\n",
          make_demo(1, 0, "non-ascii", -1, u8"motion \u00e9 1\n")}) {
        r = submit(port(), "p", bad);
        EXPECT_EQ(r.status, 422) << bad;
    }
    // A game that does not end.
    std::string unfinished = make_demo(2, 0, "unfinished");
    unfinished.resize(unfinished.find("tick\nexpect"));
    r = submit(port(), "p", unfinished);
    EXPECT_EQ(r.status, 422);
    EXPECT_EQ(ranked(port()), before);
}

TEST_F(Api, MalformedRequestsAre400) {
    auto post = [&](const std::string &body, const std::string &type = "application/json") {
        return request(port(), "POST", "/api/games", body, {{"Content-Type", type}}).status;
    };
    EXPECT_EQ(post("{"), 400);
    EXPECT_EQ(post("[1, 2]"), 400);
    EXPECT_EQ(post("{\"player\": \"p\"}"), 400);
    EXPECT_EQ(post("{\"demo\": \"x\"}"), 400);
    EXPECT_EQ(post("{\"player\": 12, \"demo\": \"x\"}"), 400);
    EXPECT_EQ(post("{\"player\": \"p\", \"demo\": [\"x\"]}"), 400);
    EXPECT_EQ(post("{\"a\":{\"b\":{\"c\":{\"d\":{\"e\":{}}}}}}"), 400); // too deep
    EXPECT_EQ(post(""), 400);
    // Invalid UTF-8 in a string, and an unpaired surrogate.
    EXPECT_EQ(post("{\"player\": \"\xff\xfe\", \"demo\": \"x\"}"), 400);
    EXPECT_EQ(post("{\"player\": \"\\ud800\", \"demo\": \"x\"}"), 400);
    // Only JSON is taken (a form from another site cannot send it without asking).
    EXPECT_EQ(post("{\"player\": \"p\", \"demo\": \"x\"}", "text/plain"), 415);
    // Broken HTTP itself.
    EXPECT_NE(raw(port(), "GARBAGE\r\n\r\n").find("HTTP/1.1 400"), std::string::npos);
    EXPECT_NE(
        raw(port(), "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: zz\r\n\r\n").find("HTTP/1.1 400"),
        std::string::npos);
    EXPECT_EQ(request(port(), "PUT", "/api/games", "{}").status, 405);
    EXPECT_EQ(request(port(), "GET", "/api/games").status, 405);
    EXPECT_EQ(request(port(), "GET", "/api/games/x1").status, 404);
    EXPECT_EQ(request(port(), "GET", "/api/games/01").status, 404);
    EXPECT_EQ(request(port(), "GET", "/api/games/999999").status, 404);
    EXPECT_EQ(request(port(), "GET", "/api/nothing").status, 404);
    // Still serving.
    EXPECT_EQ(request(port(), "GET", "/api/health").status, 200);
}

TEST_F(Api, OversizedRequestsAre413And431) {
    auto lines = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += "motion 1 1\n";
        return s;
    };
    std::string big = make_demo(1, 0, "big", -1, lines(7000)); // 77 kB, 84 kB as JSON
    auto r = submit(port(), "p", big);
    EXPECT_EQ(r.status, 413);
    // Asking first (curl does for large bodies): refused before the body is sent.
    std::string head = "POST /api/games HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                       "Expect: 100-continue\r\nContent-Length: 70000\r\n\r\n";
    std::string got = raw(port(), head, 5);
    EXPECT_EQ(got.rfind("HTTP/1.1 413", 0), 0u) << got;
    // No length given: cut off while it comes.
    std::string chunked =
        "POST /api/games HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
        "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        chunked += "1000\r\n" + std::string(4096, 'a') + "\r\n";
    chunked += "0\r\n\r\n";
    got = raw(port(), chunked, 5);
    EXPECT_EQ(got.rfind("HTTP/1.1 413", 0), 0u) << got.substr(0, 200);
    // A header past the limit.
    got = raw(port(), "GET / HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(5000, 'h') + "\r\n\r\n",
              5);
    EXPECT_EQ(got.rfind("HTTP/1.1 431", 0), 0u) << got.substr(0, 200);
    // A demo under the limit still goes through, also when the client asks first.
    EXPECT_EQ(submit(port(), "p", make_demo(1, 0, "under", -1, lines(5000))).status, 201);
    std::string body = json::serialize(
        json::object{{"player", "p"}, {"demo", make_demo(1, 0, "asked", -1, lines(3000))}});
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    std::string ask = "POST /api/games HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                      "Connection: close\r\nExpect: 100-continue\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n";
    ASSERT_EQ(send(fd, ask.data(), ask.size(), 0), static_cast<ssize_t>(ask.size()));
    char buf[256];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_EQ(send(fd, body.data(), body.size(), 0), static_cast<ssize_t>(body.size()));
    std::string answer;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
        answer.append(buf, n);
    close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 201", 0), 0u) << answer.substr(0, 200);
}

TEST_F(Api, HostileNamesAreRefusedAndFairOnesKept) {
    std::vector<std::string> hostile = {
        "",
        std::string(21, 'a'),
        std::string("a\x01"
                    "b"),
        "tab\there",
        "del\x7f",
        u8"a\u0085b",     // C1 control
        u8"\u202eevil",   // right-to-left override
        u8"x\u2066y",     // isolate
        u8"a\u200bb",     // zero-width space
        u8"a\u200db",     // zero-width joiner
        u8"\ufeffbom",    // byte order mark
        u8"soft\u00adhy", // soft hyphen
        u8"e\u0301",      // not NFC (e + combining acute)
        u8"\u3164",       // Hangul filler: a letter that shows nothing
        u8"\ue000",       // private use
        u8"a\u2028b",     // line separator
        " lead",
        "trail ",
        u8"\u3000",        // only a wide space
        u8"\U000e0041tag", // tag character
    };
    size_t before = ranked(port());
    int n = 0;
    for (const std::string &name : hostile) {
        auto r = submit(port(), name, make_demo(1, 0, "hostile " + std::to_string(n++)));
        EXPECT_EQ(r.status, 422) << "name: " << name << " -> " << r.body;
        if (r.status == 422) {
            EXPECT_NE(str(r.json(), "error").find("name"), std::string::npos) << r.body;
        }
    }
    EXPECT_EQ(ranked(port()), before);

    std::vector<std::string> fair = {
        "a",
        std::string(20, 'z'),
        u8"漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字", // 20 characters, 60 bytes
        u8"\u00e9clair",
        u8"two words",
        u8"\U0001f3af",
        u8"シークレット サービス",
        u8"<b>&amp;",
    };
    for (const std::string &name : fair) {
        auto r = submit(port(), name, make_demo(1, 0, "fair " + std::to_string(n++)));
        EXPECT_EQ(r.status, 201) << "name: " << name << " -> " << r.body;
        if (r.status == 201) {
            EXPECT_EQ(str(r.json(), "player"), name);
        }
    }
}

TEST_F(Api, LeaderboardEscapesNamesAndSendsSecurityHeaders) {
    std::string name = "</td><script>'&\"";
    ASSERT_EQ(submit(port(), name, make_demo(30, 0, "escape")).status, 201);
    auto r = request(port(), "GET", "/");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body.find("<script"), std::string::npos);
    EXPECT_NE(r.body.find("&lt;/td&gt;&lt;script&gt;&#39;&amp;&quot;"), std::string::npos);
    EXPECT_NE(r.body.find(u8"シークレットサービス"), std::string::npos); // the title
    EXPECT_EQ(r.header("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(r.header("x-content-type-options"), "nosniff");
    EXPECT_EQ(r.header("x-frame-options"), "DENY");
    std::string csp = r.header("content-security-policy");
    EXPECT_NE(csp.find("default-src 'none'"), std::string::npos) << csp;
    // The inline style is the one the policy lets through.
    auto a = r.body.find("<style>") + 7, b = r.body.find("</style>");
    std::string style = r.body.substr(a, b - a);
    std::string style_file = test_dir("csp") + "/style";
    write_file(style_file, style);
    std::string hash = run("openssl dgst -sha256 -binary '" + style_file + "' | base64");
    hash.pop_back();
    EXPECT_NE(csp.find("style-src 'sha256-" + hash + "'"), std::string::npos) << csp;
    // Each entry links its demo and a way to watch it in the web game.
    auto ranking = request(port(), "GET", "/api/ranking").json();
    std::string id = std::to_string(num(ranking.at("games").at(0), "id"));
    EXPECT_NE(r.body.find("href=\"/api/games/" + id + "/demo\""), std::string::npos);
    EXPECT_NE(r.body.find("href=\"/play/index.html?demo=game-" + id + ".demo\""),
              std::string::npos);
    // In JSON the name comes back as it was given.
    EXPECT_EQ(str(ranking.at("games").at(0), "player"), name);
    EXPECT_EQ(request(port(), "HEAD", "/").status, 200);
    EXPECT_EQ(request(port(), "POST", "/", "{}").status, 405);
}

TEST_F(Api, WebGameFilesStayInsideTheirFolder) {
    auto r = request(port(), "GET", "/play/index.html");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<!doctype html><title>game</title>");
    EXPECT_EQ(r.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(r.header("content-security-policy").find("script-src 'self'"), std::string::npos);
    EXPECT_EQ(request(port(), "GET", "/play/").body, "<!doctype html><title>game</title>");
    EXPECT_EQ(request(port(), "GET", "/play/tarmik.wasm").header("content-type"),
              "application/wasm");
    EXPECT_EQ(request(port(), "GET", "/play/sub/").body, "sub");
    auto folder = request(port(), "GET", "/play?lang=en");
    EXPECT_EQ(folder.status, 301);
    EXPECT_EQ(folder.header("location"), "/play/?lang=en");
    for (std::string bad :
         {"/play/../secret.txt", "/play/sub/../../secret.txt", "/play/%2e%2e/secret.txt",
          "/play/sub%2f..%2f..%2fsecret.txt", "/play/link.txt", "/play/.hidden", "/play/sub",
          "/play//etc/passwd", "/play/%00", "/play/nothing.html", "/play/game-0.demo",
          "/play/game-99999.demo"}) {
        auto got = request(port(), "GET", bad);
        EXPECT_EQ(got.status, 404) << bad;
        EXPECT_EQ(got.body.find("secret"), std::string::npos) << bad;
    }
    // Sent as it is typed, without a client tidying the dots away.
    std::string rawr =
        raw(port(),
            "GET /play/../../../../etc/passwd HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 3);
    EXPECT_EQ(rawr.rfind("HTTP/1.1 404", 0), 0u) << rawr.substr(0, 100);
}

TEST_F(Api, OnlyTheAdminTokenDeletes) {
    auto r = submit(port(), "to delete", make_demo(2, 0, "delete me"));
    ASSERT_EQ(r.status, 201);
    std::string path = "/api/games/" + std::to_string(num(r.json(), "id"));
    EXPECT_EQ(request(port(), "DELETE", path).status, 401);
    EXPECT_EQ(request(port(), "DELETE", path, "", {{"Authorization", "Bearer wrong"}}).status, 401);
    EXPECT_EQ(request(port(), "DELETE", path, "",
                      {{"Authorization", "Bearer " + token.substr(0, token.size() - 1)}})
                  .status,
              401);
    EXPECT_EQ(request(port(), "DELETE", path, "", {{"Authorization", "Basic " + token}}).status,
              401);
    EXPECT_EQ(request(port(), "PUT", path, "{}").status, 405);
    EXPECT_EQ(request(port(), "GET", path).status, 200);
    EXPECT_EQ(request(port(), "DELETE", path, "", {{"Authorization", "Bearer " + token}}).status,
              204);
    EXPECT_EQ(request(port(), "GET", path).status, 404);
    EXPECT_EQ(request(port(), "GET", path + "/demo").status, 404);
    EXPECT_EQ(request(port(), "DELETE", path, "", {{"Authorization", "Bearer " + token}}).status,
              404);
}

TEST(ServerAlone, NothingIsDeletedWithoutATokenFile) {
    Server s;
    auto r = submit(s.port(), "kept", make_demo(1, 0, "no token"));
    ASSERT_EQ(r.status, 201);
    std::string path = "/api/games/" + std::to_string(num(r.json(), "id"));
    EXPECT_EQ(request(s.port(), "DELETE", path, "", {{"Authorization", "Bearer "}}).status, 403);
    EXPECT_EQ(request(s.port(), "GET", path).status, 200);
    // No web folder: only stored demos under /play/.
    EXPECT_EQ(request(s.port(), "GET", "/play/index.html").status, 404);
    EXPECT_EQ(request(s.port(), "GET", "/").body.find("watch"), std::string::npos);
    EXPECT_EQ(s.stop(), 0); // SIGTERM: a clean stop
}

TEST(ServerAlone, ConnectionsBeyondTheLimitAreClosed) {
    Server s({"--max-connections", "3", "--read-timeout", "5"});
    std::vector<int> idle;
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(s.port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        idle.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    bool closed = false;
    std::string got = raw(s.port(), "GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n", 3, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, "");
    for (int fd : idle)
        close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(request(s.port(), "GET", "/api/health").status, 200);
}

TEST(ServerAlone, RankingIsPerStageSetBestFirst) {
    std::string dir = test_dir("sets");
    std::string other = dir + "/other-stages.txt";
    write_file(other, "another stage set\n");
    std::string other_hash = run("sha256sum '" + other + "'").substr(0, 64);
    Server s({"--stages", TARMIK_STAGEFILE, "--stages", other, "--submit-burst", "100"});
    std::vector<int> hits = {3, 9, 3, 1, 9};
    std::vector<int64_t> ids;
    for (size_t i = 0; i < hits.size(); ++i) {
        auto r = submit(s.port(), "p" + std::to_string(i),
                        make_demo(hits[i], 1, "rank " + std::to_string(i)));
        ASSERT_EQ(r.status, 201) << r.body;
        ids.push_back(num(r.json(), "id"));
    }
    auto o = submit(s.port(), "elsewhere", make_demo(20, 0, "o", -1, "", other_hash));
    ASSERT_EQ(o.status, 201) << o.body;
    EXPECT_EQ(num(o.json(), "place"), 1);

    auto r = request(s.port(), "GET", "/api/ranking"); // the first set by default
    ASSERT_EQ(r.status, 200);
    auto games = r.json().at("games").as_array();
    std::vector<int64_t> want = {ids[1], ids[4], ids[0], ids[2], ids[3]};
    ASSERT_EQ(games.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(num(games[i], "id"), want[i]);
        EXPECT_EQ(num(games[i], "place"), static_cast<int64_t>(i) + 1);
        auto g = request(s.port(), "GET", "/api/games/" + std::to_string(want[i])).json();
        EXPECT_EQ(num(g, "place"), static_cast<int64_t>(i) + 1);
    }
    auto two = request(s.port(), "GET", "/api/ranking?limit=2&stages=" + shipped_stages()).json();
    EXPECT_EQ(two.at("games").as_array().size(), 2u);
    auto elsewhere = request(s.port(), "GET", "/api/ranking?stages=" + other_hash).json();
    ASSERT_EQ(elsewhere.at("games").as_array().size(), 1u);
    EXPECT_EQ(str(elsewhere.at("games").at(0), "player"), "elsewhere");
    EXPECT_EQ(request(s.port(), "GET", "/api/ranking?limit=1000").status, 200);
    EXPECT_EQ(request(s.port(), "GET", "/api/ranking?limit=0").status, 400);
    EXPECT_EQ(request(s.port(), "GET", "/api/ranking?limit=ten").status, 400);
    EXPECT_EQ(request(s.port(), "GET", "/api/ranking?stages=" + std::string(64, 'e')).status, 404);
    // The page has a table for each.
    std::string page = request(s.port(), "GET", "/").body;
    EXPECT_NE(page.find("other-stages.txt"), std::string::npos);
    EXPECT_NE(page.find("elsewhere"), std::string::npos);
}

TEST(ServerAlone, RateLimitsPerAddress) {
    Server s({"--submit-burst", "3", "--submit-rate", "1", "--request-burst", "8", "--request-rate",
              "0.5"});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(
            submit(s.port(), "p", make_demo(1, 0, "rl" + std::to_string(i)), "127.0.0.7").status,
            201);
    auto r = submit(s.port(), "p", make_demo(1, 0, "rl-over"), "127.0.0.7");
    EXPECT_EQ(r.status, 429);
    EXPECT_GE(std::stoi(r.header("retry-after").empty() ? "0" : r.header("retry-after")), 1);
    // Someone else is not held back.
    EXPECT_EQ(submit(s.port(), "p", make_demo(1, 0, "rl-other"), "127.0.0.8").status, 201);
    // Every request counts against the address's general allowance.
    int ok = 0, limited = 0;
    for (int i = 0; i < 12; ++i) {
        int st = request(s.port(), "GET", "/api/health", "", {}, "127.0.0.9").status;
        ok += st == 200;
        limited += st == 429;
    }
    EXPECT_EQ(ok, 8);
    EXPECT_EQ(limited, 4);
}

TEST(ServerAlone, OnlyATrustedProxyNamesTheClient) {
    auto from = [](unsigned short port, const std::string &forwarded, const std::string &salt) {
        std::string body =
            json::serialize(json::object{{"player", "p"}, {"demo", make_demo(1, 0, salt)}});
        return request(port, "POST", "/api/games", body, {{"X-Forwarded-For", forwarded}}).status;
    };
    {
        // Behind the proxy every client comes from its address; the header tells them apart.
        Server s({"--submit-burst", "1", "--submit-rate", "1", "--trusted-proxy", "127.0.0.1"});
        EXPECT_EQ(from(s.port(), "203.0.113.5", "a"), 201);
        EXPECT_EQ(from(s.port(), "203.0.113.5", "b"), 429);
        EXPECT_EQ(from(s.port(), "203.0.113.6", "c"), 201);
        // What a client wrote before the proxy's own entry does not count.
        EXPECT_EQ(from(s.port(), "198.51.100.1, 203.0.113.5", "d"), 429);
    }
    {
        // Without one, the header is anyone's to forge and is ignored.
        Server s({"--submit-burst", "1", "--submit-rate", "1"});
        EXPECT_EQ(from(s.port(), "203.0.113.5", "e"), 201);
        EXPECT_EQ(from(s.port(), "203.0.113.6", "f"), 429);
    }
}

TEST(ServerAlone, SlowRequestsAreCutOff) {
    Server s({"--read-timeout", "1"});
    // A header that never ends.
    auto t0 = Clock::now();
    bool closed = false;
    std::string got = raw(s.port(), "GET / HTTP/1.1\r\nHost: x\r\n", 8, &closed);
    EXPECT_TRUE(closed);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(4));
    // Trickled a byte at a time, each in time, the whole too late: one deadline for all.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(s.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    std::string req = "POST /api/games HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                      "Content-Length: 100\r\n\r\n" +
                      std::string(100, ' ');
    t0 = Clock::now();
    bool cut = false;
    for (char c : req) {
        if (send(fd, &c, 1, MSG_NOSIGNAL) != 1) {
            cut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        char buf[64];
        if (recv(fd, buf, sizeof buf, MSG_DONTWAIT) == 0) {
            cut = true;
            break;
        }
        if (Clock::now() - t0 > std::chrono::seconds(6)) break;
    }
    close(fd);
    EXPECT_TRUE(cut);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(4));
    EXPECT_EQ(request(s.port(), "GET", "/api/health").status, 200);
}

TEST(ServerAlone, ReplaysAreCappedAndAMisbehavingToolIsSurvived) {
    std::vector<std::string> args = {"--workers",    "1",    "--queue",        "1",
                                     "--replay-cpu", "1",    "--replay-time",  "2",
                                     "--max-ticks",  "1000", "--submit-burst", "100"};
#ifndef TARMIK_SANITIZED
    args.insert(args.end(), {"--replay-memory", "256"}); // sanitizers reserve terabytes
#endif
    Server s(args);
    auto timed = [&](const std::string &extra, const std::string &salt, double &secs) {
        auto t0 = Clock::now();
        auto r = submit(s.port(), "p", make_demo(1, 0, salt, -1, extra));
        secs = std::chrono::duration<double>(Clock::now() - t0).count();
        return r;
    };
    double secs;
    auto r = timed("spin\n", "spin", secs);
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_NE(r.body.find("CPU cap"), std::string::npos) << r.body;
    EXPECT_LT(secs, 2.5);
    r = timed("hang\n", "hang", secs);
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_NE(r.body.find("CPU cap"), std::string::npos) << r.body;
    EXPECT_GE(secs, 1.9);
    EXPECT_LT(secs, 4);
    r = timed("tick 999\n", "ticks", secs);
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_NE(r.body.find("tick cap"), std::string::npos) << r.body;
#ifndef TARMIK_SANITIZED
    r = timed("allocate 512\n", "memory", secs);
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_EQ(timed("allocate 64\n", "memory fits", secs).status, 201);
#endif
    EXPECT_EQ(timed("crash\n", "crash", secs).status, 500);
    EXPECT_EQ(timed("babble\n", "babble", secs).status, 500);
    EXPECT_EQ(request(s.port(), "GET", "/api/health").status, 200);
#ifndef TARMIK_SANITIZED
    size_t stored = 1;
#else
    size_t stored = 0;
#endif
    EXPECT_EQ(request(s.port(), "GET", "/api/ranking").json().at("games").as_array().size(),
              stored);

    // One replay runs, one waits, the next is turned away at once.
    std::vector<std::thread> slow;
    std::vector<int> statuses(2);
    for (int i = 0; i < 2; ++i) {
        slow.emplace_back([&, i] {
            statuses[i] =
                submit(s.port(), "p", make_demo(1, 0, "slow" + std::to_string(i), -1, "hang\n"))
                    .status;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    auto t0 = Clock::now();
    r = submit(s.port(), "p", make_demo(1, 0, "turned away"));
    EXPECT_EQ(r.status, 503) << r.body;
    EXPECT_FALSE(r.header("retry-after").empty());
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
    for (auto &t : slow)
        t.join();
    EXPECT_EQ(statuses, (std::vector<int>{422, 422}));
    // Nothing of the demos waiting for their replay is left behind.
    EXPECT_TRUE(std::filesystem::is_empty(s.data() + "/tmp"));
}

TEST(ServerAlone, BusyDatabaseAnswers503ThenRecovers) {
    Server s({"--db-timeout", "300"});
    ASSERT_EQ(submit(s.port(), "p", make_demo(1, 0, "db before")).status, 201);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((s.data() + "/tarmik.sqlite3").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    auto r = submit(s.port(), "p", make_demo(1, 0, "db during"));
    EXPECT_EQ(r.status, 503) << r.body;
    EXPECT_FALSE(r.header("retry-after").empty());
    EXPECT_EQ(request(s.port(), "GET", "/api/ranking").status, 200);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(submit(s.port(), "p", make_demo(1, 0, "db during")).status, 201);
}

TEST(ServerAlone, ConfigurationFileIsReadAndTheCommandLineWins) {
    std::string dir = test_dir("config");
    write_file(dir + "/server.conf", "# limits\n\n  max-body = 2000\nsubmit-burst=1\n"
                                     "access-log = yes\n");
    Server s({"--config", dir + "/server.conf", "--submit-burst", "3"});
    auto big = request(s.port(), "POST", "/api/games", std::string(3000, ' '));
    EXPECT_EQ(big.status, 413);
    std::vector<int> statuses;
    for (int i = 0; i < 4; ++i)
        statuses.push_back(
            submit(s.port(), "p", make_demo(1, 0, "conf " + std::to_string(i))).status);
    EXPECT_EQ(statuses, (std::vector<int>{201, 201, 201, 429}));
    EXPECT_NE(s.log().find("POST /api/games"), std::string::npos) << s.log();

    // A line that is no setting: refused, saying where.
    write_file(dir + "/bad.conf", "max-body = 2000\nworkers\n");
    std::string out =
        run("'" TARMIK_SERVER_BIN "' --config '" + dir + "/bad.conf' 2>&1; echo status $?");
    EXPECT_NE(out.find("bad.conf line 2"), std::string::npos) << out;
    EXPECT_NE(out.find("status 2"), std::string::npos) << out;
}

TEST(ServerAlone, RefusesToStartWithoutWhatItNeeds) {
    std::string dir = test_dir("files");
    auto status = [&](const std::string &args) {
        return std::system(("'" TARMIK_SERVER_BIN "' --listen 127.0.0.1:0 --data '" + dir +
                            "/data' " + args + " > /dev/null 2>&1")
                               .c_str());
    };
    std::string ok = "--replay '" TARMIK_REPLAY "' --stages '" TARMIK_STAGEFILE "' ";
    EXPECT_NE(status(ok + "--replay /nonexistent/tool"), 0);
    EXPECT_NE(status(ok + "--stages /nonexistent/stages.txt"), 0);
    write_file(dir + "/short-token", "short\n");
    EXPECT_NE(status(ok + "--admin-token-file '" + dir + "/short-token'"), 0);
    EXPECT_NE(status(ok + "--admin-token-file /nonexistent/token"), 0);
    EXPECT_NE(status(ok + "--web /nonexistent/web"), 0);
    EXPECT_NE(status(ok + "--listen 127.0.0.1:99999"), 0);
    EXPECT_NE(status(ok + "--bogus 1"), 0);
    EXPECT_NE(status(ok + "--config /nonexistent/server.conf"), 0);
    EXPECT_NE(status(ok + "--db sqlite:///elsewhere.db"), 0);
    // A URL libpq cannot read: status 2, which the service does not start again after.
    EXPECT_EQ(status(ok + "--db 'postgresql://h/d?nonsense=1'"), 2 << 8);
}

} // namespace
