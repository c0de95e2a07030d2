// tarmik-server: a shared ranking that trusts no client; every game sent in is replayed.
#include "app.h"
#include "config.h"
#include "http_server.h"
#include "pg_storage.h"
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
        // As many connections as threads that may use one at once.
        const int connections = static_cast<int>(config.io_threads + config.workers + 1);
        std::unique_ptr<Storage> storage;
        if (config.db.empty()) {
            SqliteOptions db;
            db.busy_timeout_ms = config.db_timeout_ms;
            db.connections = connections;
            std::string path = config.data_dir + "/tarmik.sqlite3";
            storage = std::make_unique<SqliteStorage>(path, db);
            std::cerr << "tarmik-server: database " << path << " (SQLite)\n";
        } else {
            PgOptions db;
            db.timeout_ms = config.db_timeout_ms;
            db.connections = connections;
            storage = std::make_unique<PgStorage>(config.db, db);
            std::cerr << "tarmik-server: database " << PgStorage::describe(config.db) << "\n";
        }
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
