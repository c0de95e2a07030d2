#include "page.h"

#include "util.h"

namespace server {

const std::string &page_style() {
    static const std::string style =
        "body{font-family:sans-serif;margin:2em auto;max-width:60em;padding:0 1em;color:#111}"
        "table{border-collapse:collapse;width:100%;margin-bottom:2em}"
        "th,td{padding:.3em .6em;border-bottom:1px solid #ccc;text-align:left}"
        "td.n{text-align:right}code{font-size:.9em}";
    return style;
}

std::string leaderboard_html(const std::vector<Board> &boards, bool with_web_game) {
    std::string h;
    h += "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width\">\n"
         "<title>TARMIK ranking</title>\n<style>";
    h += page_style();
    h += "</style>\n</head>\n<body>\n<h1>TARMIK ranking</h1>\n"
         "<p>Each score was computed by this server replaying the game that was sent in.";
    if (with_web_game) h += " <a href=\"/play/index.html\">Play in the browser</a>.";
    h += "</p>\n";
    for (const Board &b : boards) {
        h += "<section>\n<h2>Stages <code>" + html_escape(b.set->name) + "</code> <code>" +
             html_escape(b.set->sha256.substr(0, 12)) + "</code></h2>\n";
        if (b.games.empty()) {
            h += "<p>No games yet.</p>\n</section>\n";
            continue;
        }
        h += "<table>\n<thead><tr><th>#</th><th>Player</th><th>Score</th><th>Stage</th>"
             "<th>Hit rate</th><th>Title</th><th>Submitted</th><th>Demo</th></tr></thead>\n"
             "<tbody>\n";
        for (const Ranked &r : b.games) {
            const Game &g = r.game;
            std::string id = std::to_string(g.id);
            std::string when = utc_time(g.submitted_ms);
            h += "<tr><td class=\"n\">" + std::to_string(r.place) + "</td><td>" +
                 html_escape(g.player) + "</td><td class=\"n\">" + std::to_string(g.result.score) +
                 "</td><td class=\"n\">" + std::to_string(g.result.stage) +
                 "</td><td class=\"n\">" + std::to_string(g.result.hitrate) + "%</td><td>" +
                 html_escape(g.result.title) + "</td><td><time datetime=\"" + when + "\">" +
                 when.substr(0, 10) + "</time></td><td><a href=\"/api/games/" + id +
                 "/demo\">demo</a>";
            if (with_web_game)
                h += " <a href=\"/play/index.html?demo=game-" + id + ".demo\">watch</a>";
            h += "</td></tr>\n";
        }
        h += "</tbody>\n</table>\n</section>\n";
    }
    h += "</body>\n</html>\n";
    return h;
}

} // namespace server
