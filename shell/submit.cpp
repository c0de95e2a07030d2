#include "shell/submit.h"

#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/json.h"
#include "platform/platform.h"

namespace {

std::string server, player;
long sent = 0;

// The whole number after "name": in a JSON answer, or -1.
long number_of(const std::string &json, const std::string &name) {
    const size_t at = json.find("\"" + name + "\":");
    if (at == std::string::npos) return -1;
    char *end = nullptr;
    const long v = std::strtol(json.c_str() + at + name.size() + 3, &end, 10);
    return end == json.c_str() + at + name.size() + 3 ? -1 : v;
}

// The server's reason, printable ASCII only (it says nothing else), at most a line.
std::string reason_of(const std::string &json) {
    const size_t at = json.find("\"error\":\"");
    if (at == std::string::npos) return "";
    std::string r;
    for (size_t i = at + 9; i < json.size() && json[i] != '"' && r.size() < 120; ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) ++i;
        if (json[i] >= 0x20 && json[i] < 0x7F) r += json[i];
    }
    return r;
}

} // namespace

void submit_configure(const std::string &server_url, const std::string &player_utf8) {
    server = server_url;
    while (!server.empty() && server.back() == '/')
        server.pop_back();
    player = player_utf8;
}

bool submit_configured() {
    return !server.empty() && !player.empty();
}

void submit_game(const std::string &demo) {
    if (!submit_configured() || demo.empty()) return;
    const std::string body =
        "{\"player\":" + json_string(player) + ",\"demo\":" + json_string(demo) + "}";
    if (!plat_http_post(server + "/api/games", "application/json", body, ++sent))
        console_say("共有ランキングに送れません（このゲームには通信がありません）");
}

void submit_poll() {
    for (const plat_http_answer &a : plat_http_take()) {
        const long place = number_of(a.body, "place"), score = number_of(a.body, "score");
        if ((a.status == 200 || a.status == 201) && place > 0) {
            console_say([&](language l) {
                return format_text(tr_in(l, "共有ランキング：%ld位　%ld点"), place, score);
            });
        } else if (a.status == 0) {
            // No answer came: what the network said, in its own words.
            std::string why;
            for (char c : a.body)
                if (c >= 0x20 && c < 0x7F) why += c;
            console_say([&](language l) {
                return format_text(tr_in(l, "共有ランキングに送れませんでした：%s"), why.c_str());
            });
        } else {
            std::string why = reason_of(a.body);
            if (why.empty()) why = "HTTP " + std::to_string(a.status);
            console_say([&](language l) {
                return format_text(tr_in(l, "共有ランキングに登録されませんでした：%s"),
                                   why.c_str());
            });
        }
    }
}
