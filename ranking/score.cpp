#include "ranking/score.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "shell/console.h"

namespace {

const size_t max_records = 20;

// Blank, tab, line ends, vertical tab and form feed. No Shift-JIS byte falls in this set,
// so a title's trail bytes never split it.
bool is_separator(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Decimal with an optional sign, nothing else; out of int32 range does not parse.
bool parse_int32(const std::string &item, int32_t *out) {
    size_t i = 0;
    bool negative = false;
    if (i < item.size() && (item[i] == '+' || item[i] == '-')) negative = item[i++] == '-';
    if (i == item.size()) return false;
    int64_t value = 0;
    for (; i < item.size(); ++i) {
        if (item[i] < '0' || item[i] > '9') return false;
        value = value * 10 + (item[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) return false;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// Splits the file's bytes into whitespace-separated items.
std::vector<std::string> read_items(const std::string &filename) {
    std::vector<std::string> items;
    FILE *f = std::fopen(filename.c_str(), "r");
    if (!f) return items;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    std::fclose(f);

    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_separator(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !is_separator(text[i]))
            ++i;
        if (i > start) items.push_back(text.substr(start, i - start));
    }
    return items;
}

// The mode the old file has, or what a fresh fopen would give, so a rewrite keeps it.
mode_t file_mode(const std::string &filename) {
    struct stat st;
    if (stat(filename.c_str(), &st) == 0) return st.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string folder_of(const std::string &filename) {
    size_t slash = filename.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return filename.substr(0, slash);
}

// Writes the table beside the file and renames it over, so the old file survives any failure.
bool write_table(const std::string &filename, const std::vector<clData> &records) {
    std::string temp = filename + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) return false;
    FILE *f = fdopen(fd, "w");
    if (!f) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    bool ok = fchmod(fd, file_mode(filename)) == 0;
    for (const clData &r : records) {
        if (!ok) break;
        ok = std::fprintf(f, "%d\t\t%d\t%d\t", static_cast<int>(r.score), static_cast<int>(r.stage),
                          static_cast<int>(r.hitrate)) >= 0 &&
             std::fwrite(r.title.data(), 1, r.title.size(), f) == r.title.size() &&
             std::fputc('\n', f) != EOF;
    }
    ok = ok && std::fflush(f) == 0 && fsync(fd) == 0;
    ok = std::fclose(f) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), filename.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; the new file is in place either way.
    int dir = open(folder_of(filename).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

} // namespace

Score::Score(const std::string &filename) : filename(filename) {
    std::vector<std::string> items = read_items(filename);
    for (size_t i = 0; i + 4 <= items.size(); i += 4) {
        clData r;
        if (!parse_int32(items[i], &r.score) || !parse_int32(items[i + 1], &r.stage) ||
            !parse_int32(items[i + 2], &r.hitrate))
            break;
        r.title = items[i + 3];
        ranklist.push_back(r);
    }
}

void Score::outputdata() {}

int32_t Score::inputdata(clData record) {
    size_t at = 0;
    while (at < ranklist.size() && ranklist[at].score >= record.score)
        ++at;
    ranklist.insert(ranklist.begin() + at, record);
    if (ranklist.size() > max_records) ranklist.pop_back();
    // A failed write is not reported: the table in memory stays the truth for this run.
    if (save) write_table(filename, ranklist);
    return static_cast<int32_t>(at + 1);
}

Console_Score::Console_Score(const std::string &filename) : Score(filename) {}

void Console_Score::outputdata() {
    for (size_t i = 0; i < ranklist.size() && i < 10; ++i) {
        const clData &r = ranklist[i];
        console_line(std::to_string(i + 1) + "位" + "　" + std::to_string(r.score) + "点" + "　" +
                     "ステージ" + std::to_string(r.stage) + "クリア　" + "命中率" +
                     std::to_string(r.hitrate) + "％　" + "称号" + r.title);
    }
}
