#include "ranking/score.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/files.h"

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

// The file's whole text from its start; false on a read error.
bool read_text(int fd, std::string &text) {
    text.clear();
    char buf[4096];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
}

// The records of a ranking file's text, up to the first that cannot be read whole.
std::vector<clData> parse_table(const std::string &text) {
    std::vector<std::string> items;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_separator(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !is_separator(text[i]))
            ++i;
        if (i > start) items.push_back(text.substr(start, i - start));
    }
    std::vector<clData> table;
    for (size_t k = 0; k + 4 <= items.size(); k += 4) {
        clData r;
        if (!parse_int32(items[k], &r.score) || !parse_int32(items[k + 1], &r.stage) ||
            !parse_int32(items[k + 2], &r.hitrate))
            break;
        r.title = items[k + 3];
        table.push_back(r);
    }
    return table;
}

// Puts the record after every one with an equal or higher score, drops at most one record
// beyond 20, and gives its 1-based place.
int32_t insert(std::vector<clData> &table, const clData &record) {
    size_t at = 0;
    while (at < table.size() && table[at].score >= record.score)
        ++at;
    table.insert(table.begin() + at, record);
    if (table.size() > max_records) table.pop_back();
    return static_cast<int32_t>(at + 1);
}

std::string table_text(const std::vector<clData> &records) {
    std::string text;
    char buf[64];
    for (const clData &r : records) {
        std::snprintf(buf, sizeof buf, "%d\t\t%d\t%d\t", static_cast<int>(r.score),
                      static_cast<int>(r.stage), static_cast<int>(r.hitrate));
        text += buf;
        text += r.title;
        text += '\n';
    }
    return text;
}

std::string folder_of(const std::string &filename) {
    size_t slash = filename.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return filename.substr(0, slash);
}

// The file a chain of symbolic links leads to, which need not exist yet.
std::string link_target(const std::string &name) {
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char to[PATH_MAX];
        ssize_t n = readlink(path.c_str(), to, sizeof to);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof to) return path;
        const std::string link(to, static_cast<size_t>(n));
        path = link[0] == '/' ? link : folder_of(path) + "/" + link;
    }
    return path; // a loop of links: it will not open
}

bool write_all(int fd, const std::string &text, off_t at) {
    for (size_t done = 0; done < text.size();) {
        ssize_t n = pwrite(fd, text.data() + done, text.size() - done, at + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

enum class replaced { yes, failed, no_temp };

// Writes the text to one fixed temporary file beside the target and renames it over, so the
// old file survives a crash or a full disk; a killed write leaves that one file, which the
// next write replaces. no_temp when the folder takes no new file.
replaced replace_file(const std::string &target, const std::string &text, mode_t mode,
                      const struct stat *old) {
    const std::string temp = target + ".tmp";
    unlink(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return replaced::no_temp;
    // Keep the old file's group; where that is not allowed, the old file is kept itself.
    if (old && old->st_gid != getegid() && fchown(fd, static_cast<uid_t>(-1), old->st_gid) != 0) {
        close(fd);
        unlink(temp.c_str());
        return replaced::no_temp;
    }
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, text, 0) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return replaced::failed;
    }
    // Make the rename itself durable; the new file is in place either way.
    int dir = open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return replaced::yes;
}

// Writes over the file's own bytes: for files that must stay the same file (other names link
// to it, another user owns it) or a folder that takes no new file.
bool rewrite_in_place(int fd, const std::string &text) {
    return write_all(fd, text, 0) && ftruncate(fd, static_cast<off_t>(text.size())) == 0 &&
           fsync(fd) == 0;
}

mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

Score::Score(const std::string &filename) : filename(filename) {
    int fd = open_regular(filename, O_RDONLY);
    if (fd < 0) return;
    std::string text;
    read_text(fd, text); // what was read before an error still counts
    close(fd);
    ranklist = parse_table(text);
}

void Score::outputdata() {}

int32_t Score::inputdata(clData record) {
    // A demo played back leaves the file alone: the place is the one in memory.
    if (!save) return insert(ranklist, record);
    // Links are followed, so the file they name is the one rewritten.
    const std::string target = link_target(filename);
    // Games ending together take turns: each reads what the last one wrote and adds to it.
    // The lock is on the folder, which stays the same while the file is replaced.
    int lock = open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock >= 0) flock(lock, LOCK_EX);

    struct stat st;
    const bool exists = stat(target.c_str(), &st) == 0;
    const bool absent = !exists && errno == ENOENT;
    // A file without write permission for anybody is left alone even by root.
    int fd = -1;
    if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0222)) fd = open_regular(target, O_RDWR);
    const bool may_write = fd >= 0 || absent;

    // What is on disk now, plus the records of this run that could not be saved, is the table;
    // a file that cannot be read leaves the table in memory as it is.
    std::string text;
    int rfd = fd >= 0 ? fd : open_regular(target, O_RDONLY);
    if (absent || (rfd >= 0 && read_text(rfd, text))) {
        std::vector<clData> table = parse_table(text);
        for (const clData &r : unsaved)
            insert(table, r);
        ranklist.swap(table);
    }
    if (rfd >= 0 && rfd != fd) close(rfd);
    const int32_t place = insert(ranklist, record);

    bool saved = false;
    if (may_write) {
        text = table_text(ranklist);
        bool in_place = fd >= 0 && (st.st_nlink > 1 || st.st_uid != geteuid());
        if (!in_place) {
            switch (replace_file(target, text, exists ? st.st_mode & 07777 : new_file_mode(),
                                 exists ? &st : nullptr)) {
            case replaced::yes:
                saved = true;
                break;
            case replaced::failed:
                break;
            case replaced::no_temp:
                in_place = fd >= 0;
                break;
            }
        }
        if (in_place) saved = rewrite_in_place(fd, text);
    }
    if (fd >= 0) close(fd);
    if (lock >= 0) close(lock);

    if (saved) {
        unsaved.clear();
    } else {
        insert(unsaved, record);
        console_line("ランキングを保存できませんでした");
    }
    return place;
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
