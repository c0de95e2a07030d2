// HTTP on libcurl for the shared ranking: each POST on a thread of its own, its answer queued
// for the game's thread to take.
#include "platform/platform.h"

#include <curl/curl.h>

#include <mutex>
#include <thread>

namespace {

// Never destroyed: a post still under way when the program ends may yet finish.
std::mutex &lock = *new std::mutex;
std::vector<plat_http_answer> &answers = *new std::vector<plat_http_answer>;
std::once_flag started;

size_t collect(char *data, size_t size, size_t n, void *to) {
    auto *body = static_cast<std::string *>(to);
    // An answer of the ranking is a few hundred bytes; a megabyte is no answer of ours.
    if (body->size() + size * n > (1u << 20)) return 0;
    body->append(data, size * n);
    return size * n;
}

void post(std::string url, std::string type, std::string body, long id) {
    plat_http_answer a{id, 0, ""};
    CURL *c = curl_easy_init();
    if (!c) {
        a.body = "no HTTP";
    } else {
        const std::string header = "Content-Type: " + type;
        curl_slist *headers = curl_slist_append(nullptr, header.c_str());
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &a.body);
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
        curl_easy_setopt(c, CURLOPT_USERAGENT, "tarmik");
        const CURLcode r = curl_easy_perform(c);
        if (r == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
            a.status = static_cast<int>(status);
        } else {
            a.body = curl_easy_strerror(r);
        }
        curl_slist_free_all(headers);
        curl_easy_cleanup(c);
    }
    std::lock_guard<std::mutex> g(lock);
    answers.push_back(std::move(a));
}

} // namespace

bool plat_http_post(const std::string &url, const std::string &content_type,
                    const std::string &body, long id) {
    std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::thread(post, url, content_type, body, id).detach();
    return true;
}

std::vector<plat_http_answer> plat_http_take() {
    std::lock_guard<std::mutex> g(lock);
    std::vector<plat_http_answer> out;
    out.swap(answers);
    return out;
}

// The desktop sends games itself, when its settings name a server.
void plat_game_finished(const std::string &) {}
