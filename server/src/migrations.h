#pragma once
#include <string>
#include <vector>

namespace server {

// The few words in which the databases' SQL differs; everything else is shared text.
struct Dialect {
    const char *name;
    const char *id_column; // an auto-assigned 64-bit primary key, never reused
};
extern const Dialect sqlite_dialect;
extern const Dialect postgresql_dialect;

// One step of the schema. Each is applied in one transaction with its row in schema_version;
// steps are never edited once released, only new ones appended.
struct Migration {
    int version;
    std::string description;
    std::vector<std::string> statements; // with {id} for the dialect's id column
};

const std::vector<Migration> &migrations();
std::string dialect_sql(const std::string &statement, const Dialect &dialect);

} // namespace server
