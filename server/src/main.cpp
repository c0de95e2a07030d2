// tarmik-server: a shared ranking that trusts no client; every game sent in is replayed.
#include "app.h"
#include "config.h"
#include "http_server.h"
#include "sqlite_storage.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>

int main(int argc, char **argv) {
    using namespace server;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << usage_text();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "tarmik-server " TARMIK_VERSION "\n";
            return 0;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Config config = parse_options(argc, argv);
        std::error_code ec;
        std::filesystem::create_directories(config.data_dir, ec);
        if (ec)
            throw UsageError("cannot make the data folder " + config.data_dir + ": " +
                             ec.message());
        SqliteOptions db;
        db.busy_timeout_ms = config.db_timeout_ms;
        db.connections = static_cast<int>(config.io_threads + config.workers + 1);
        auto storage = std::make_unique<SqliteStorage>(config.data_dir + "/tarmik.sqlite3", db);
        for (const StageSet &s : config.stages)
            std::cerr << "tarmik-server: ranking " << s.path << " (stages " << s.sha256 << ")\n";
        std::cerr << "tarmik-server: replays with " << config.replay_tool << ", " << config.workers
                  << " at once\n";
        App app(config, std::move(storage));
        serve(app, [](const std::string &url) {
            std::cout << "tarmik-server: listening on " << url << std::endl;
        });
        std::cerr << "tarmik-server: stopped\n";
        return 0;
    } catch (const UsageError &e) {
        std::cerr << "tarmik-server: " << e.what() << "\n" << usage_text();
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "tarmik-server: " << e.what() << "\n";
        return 1;
    }
}
