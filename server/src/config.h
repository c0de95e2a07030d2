#pragma once
#include "replay.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace server {

struct StageSet {
    std::string path;   // the stage file handed to the replay tool
    std::string name;   // its file name, for people
    std::string sha256; // what demos name it by
};

struct Config {
    std::string address = "127.0.0.1";
    unsigned short port = 8080;
    std::string data_dir;
    std::string db;               // a PostgreSQL URL; empty: SQLite in the data folder
    std::vector<StageSet> stages; // the first is the default ranking
    std::string web_dir;          // empty: no web game under /play/
    std::string replay_tool;
    std::string admin_token;   // empty: nothing may be deleted
    std::string trusted_proxy; // a reverse proxy's address whose X-Forwarded-For is believed
    size_t workers = 1;
    size_t queue = 64;
    size_t io_threads = 1;
    size_t max_body = 1 << 20;
    size_t max_header = 8 << 10;
    double read_timeout = 10;
    double write_timeout = 30;
    size_t max_connections = 1024;
    ReplayLimits replay;
    double submit_per_minute = 30, submit_burst = 10;
    double request_per_second = 50, request_burst = 100;
    int db_timeout_ms = 5000;
    bool access_log = false;
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The command line as a configuration: files named are read (a configuration file, stage
// files, the admin token), defaults filled in. Throws UsageError with a message for people.
Config parse_options(int argc, char **argv);
const char *usage_text();

} // namespace server
