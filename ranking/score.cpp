#include "ranking/score.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unordered_map>

#include "base/console.h"
#include "base/files.h"

namespace {

const size_t max_records = 20;
// Twenty records take less than a kilobyte; a file is not read beyond this many bytes or
// records (so merging two such files stays quick).
const size_t max_read = 1 << 20;
const size_t max_file_records = 1000;
// A lock held longer than this (another game hung, a stray `flock`) is not waited for.
const auto lock_wait = std::chrono::seconds(2);

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

// What a ranking file held: its records up to the first that cannot be read whole, and
// whether every byte of the file was read into them (nothing but separators after them).
struct file_table {
    std::vector<clData> records;
    bool whole = true;
};

// text: the file's first bytes; cut: the file goes on beyond them.
file_table parse_table(const std::string &text, bool cut) {
    file_table t;
    size_t i = 0;
    auto item = [&](std::string &out) {
        while (i < text.size() && is_separator(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !is_separator(text[i]))
            ++i;
        // An item that runs into the cut may go on in the part not read.
        if (i == start || (cut && i == text.size())) return false;
        out.assign(text, start, i - start);
        return true;
    };
    size_t done = 0; // the end of the last whole record
    while (t.records.size() < max_file_records) {
        clData r;
        std::string a, b, c;
        if (!item(a) || !item(b) || !item(c) || !item(r.title) || !parse_int32(a, &r.score) ||
            !parse_int32(b, &r.stage) || !parse_int32(c, &r.hitrate))
            break;
        t.records.push_back(r);
        done = i;
    }
    if (cut || t.records.size() == max_file_records) t.whole = false;
    for (size_t k = done; k < text.size() && t.whole; ++k)
        if (!is_separator(text[k])) t.whole = false;
    return t;
}

// The file's first max_read bytes, and whether it goes on beyond them; false on a read error
// (what was read before it is kept).
bool read_text(int fd, std::string &text, bool &cut) {
    text.clear();
    cut = false;
    char buf[4096];
    for (off_t at = 0;;) {
        ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        const size_t room = max_read - text.size();
        if (static_cast<size_t>(n) > room) {
            text.append(buf, room);
            cut = true;
            return true;
        }
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
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

std::string record_line(const clData &r) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d\t\t%d\t%d\t", static_cast<int>(r.score),
                  static_cast<int>(r.stage), static_cast<int>(r.hitrate));
    return buf + r.title + "\n";
}

std::string table_text(const std::vector<clData> &records) {
    std::string text;
    for (const clData &r : records)
        text += record_line(r);
    return text;
}

// The records of now that are not in before, each counted as often as it appears.
std::vector<clData> added(const std::vector<clData> &before, const std::vector<clData> &now) {
    std::unordered_map<std::string, size_t> count;
    for (const clData &r : before)
        ++count[record_line(r)];
    std::vector<clData> out;
    for (const clData &r : now) {
        auto it = count.find(record_line(r));
        if (it != count.end() && it->second > 0)
            --it->second;
        else
            out.push_back(r);
    }
    return out;
}

std::string folder_of(const std::string &filename) {
    size_t slash = filename.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return filename.substr(0, slash);
}

std::string name_of(const std::string &filename) {
    size_t slash = filename.rfind('/');
    return slash == std::string::npos ? filename : filename.substr(slash + 1);
}

// Whether a symbolic link may be followed, as a kernel with protected links decides it for
// every open (fs.protected_symlinks): not a link that someone else owns in a sticky folder
// that all may write (/tmp, say), unless that folder's owner made it. Such a link may have
// been planted to make the player's game write where the planter may not.
bool may_follow(const std::string &link, const struct stat &lst) {
    if (lst.st_uid == geteuid()) return true;
    struct stat dir;
    if (stat(folder_of(link).c_str(), &dir) != 0) return false;
    const bool shared = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return !shared || dir.st_uid == lst.st_uid;
}

// Where the ranking file is: its folder, open (for the lock and the replace), and its name
// there. A symbolic link is left to the kernel to follow, as any open would follow it, once
// may_follow allows it; the file it leads to is then named by the kernel too. A link to a
// file not made yet makes it when create is set.
struct place_of_file {
    int dir = -1;
    std::string name;
};

bool locate(const std::string &filename, bool create, place_of_file &at) {
    struct stat lst;
    std::string path = filename;
    if (lstat(filename.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        if (!may_follow(filename, lst)) return false;
#ifdef O_PATH
        const int how = O_PATH;
#else
        const int how = O_RDONLY | O_NONBLOCK;
#endif
        int fd = open(filename.c_str(), how | O_CLOEXEC);
        // A link to a file not made yet: made through the link, as writing would make it.
        if (fd < 0 && errno == ENOENT && create) {
            mode_t mask = umask(0);
            umask(mask);
            fd = open(filename.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                      0666 & ~mask);
        }
        if (fd < 0) return false;
        char to[PATH_MAX];
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = readlink(self.c_str(), to, sizeof to);
        struct stat opened;
        const bool ok =
            n > 0 && static_cast<size_t>(n) < sizeof to && to[0] == '/' && fstat(fd, &opened) == 0;
        close(fd);
        if (!ok) return false;
        path.assign(to, static_cast<size_t>(n));
        at.dir = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        at.name = name_of(path);
        // The name must still be the file the link led to, not a link itself.
        struct stat named;
        if (at.dir < 0 || fstatat(at.dir, at.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            named.st_dev != opened.st_dev || named.st_ino != opened.st_ino) {
            if (at.dir >= 0) close(at.dir);
            at.dir = -1;
            return false;
        }
        return true;
    }
    at.dir = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    at.name = name_of(path);
    return at.dir >= 0;
}

// Takes the folder's lock, trying again for a while without blocking.
bool lock_folder(int dir) {
    const auto give_up = std::chrono::steady_clock::now() + lock_wait;
    for (;;) {
        if (flock(dir, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return true; // no locks here: go on alone
        if (std::chrono::steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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

// Copies the whole file, in pieces, to a new file of the same mode in the folder.
bool copy_file(int from, int dir, const std::string &to, mode_t mode) {
    int fd = openat(dir, to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = fchmod(fd, mode) == 0;
    char buf[65536];
    for (off_t at = 0; ok;) {
        ssize_t n = pread(from, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = write_all(fd, std::string(buf, static_cast<size_t>(n)), at);
        at += n;
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok) unlinkat(dir, to.c_str(), 0);
    return ok;
}

enum class replaced { yes, failed, no_temp };

// Writes the text to one fixed temporary file beside the target and renames it over, so the
// old file survives a crash or a full disk; a killed write leaves that one file, which the
// next write replaces. no_temp when the folder takes no new file.
replaced replace_file(int dir, const std::string &name, const std::string &text, mode_t mode,
                      const struct stat *old) {
    const std::string temp = name + ".tmp";
    unlinkat(dir, temp.c_str(), 0);
    int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return replaced::no_temp;
    // Keep the old file's group; where that is not allowed, the old file is kept itself.
    if (old && old->st_gid != getegid() && fchown(fd, static_cast<uid_t>(-1), old->st_gid) != 0) {
        close(fd);
        unlinkat(dir, temp.c_str(), 0);
        return replaced::no_temp;
    }
    bool ok = fchmod(fd, mode) == 0 && write_all(fd, text, 0) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(dir, temp.c_str(), dir, name.c_str()) == 0;
    if (!ok) {
        unlinkat(dir, temp.c_str(), 0);
        return replaced::failed;
    }
    // Make the rename itself durable; the new file is in place either way.
    fsync(dir);
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
    place_of_file at;
    if (!locate(filename, false, at)) return;
    int fd = open_regular_at(at.dir, at.name, O_RDONLY);
    close(at.dir);
    if (fd < 0) return;
    std::string text;
    bool cut;
    read_text(fd, text, cut); // what was read before an error still counts
    close(fd);
    ranklist = parse_table(text, cut).records;
    known = ranklist;
}

void Score::outputdata() {}

int32_t Score::inputdata(clData record) {
    // A demo played back leaves the file alone: the place is the one in memory.
    if (!save) return insert(ranklist, record);

    bool saved = false;
    int32_t place = 0;
    place_of_file at;
    // Games ending together take turns: each adds what the others wrote since it last looked.
    // The lock is on the folder, which stays the same while the file is replaced.
    if (locate(filename, true, at) && lock_folder(at.dir)) {
        struct stat st;
        const bool exists = fstatat(at.dir, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        const bool absent = !exists && errno == ENOENT;
        // A file without write permission for anybody is left alone even by root.
        int fd = -1;
        if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0222))
            fd = open_regular_at(at.dir, at.name, O_RDWR);
        const bool may_write = fd >= 0 || absent;

        // The table in memory is the truth; what other games wrote since this one last read
        // or wrote the file comes in beside it. A file gone, emptied or unreadable adds nothing.
        std::string text;
        bool cut = false, whole = true;
        int rfd = fd >= 0 ? fd : open_regular_at(at.dir, at.name, O_RDONLY);
        if (rfd >= 0 && read_text(rfd, text, cut)) {
            file_table now = parse_table(text, cut);
            whole = now.whole;
            for (const clData &r : added(known, now.records))
                insert(ranklist, r);
            known.swap(now.records);
        } else if (absent) {
            known.clear();
        } else {
            whole = false;
        }
        if (rfd >= 0 && rfd != fd) close(rfd);
        place = insert(ranklist, record);

        // Bytes that were never read would be lost by the rewrite: the old file is kept beside
        // it first (under a second name when it is replaced, as a copy when it is rewritten in
        // place), and without that nothing is written.
        const std::string backup = at.name + ".bak";
        auto keep_old = [&](bool by_link) {
            unlinkat(at.dir, backup.c_str(), 0);
            if (by_link && linkat(at.dir, at.name.c_str(), at.dir, backup.c_str(), 0) == 0)
                return true;
            return copy_file(fd, at.dir, backup, st.st_mode & 07777);
        };
        bool in_place = fd >= 0 && (st.st_nlink > 1 || st.st_uid != geteuid());
        bool kept = whole || !may_write || keep_old(!in_place);
        if (!whole && kept && may_write)
            console_say([&](language l) {
                return format_text(
                    tr_in(l, "読めない記録があるため、元のランキングを%sに残しました"),
                    backup.c_str());
            });

        if (may_write && kept) {
            text = table_text(ranklist);
            if (!in_place) {
                switch (replace_file(at.dir, at.name, text,
                                     exists ? st.st_mode & 07777 : new_file_mode(),
                                     exists ? &st : nullptr)) {
                case replaced::yes:
                    saved = true;
                    break;
                case replaced::failed:
                    break;
                case replaced::no_temp:
                    // Written in place after all: a second name would be written with it.
                    in_place = fd >= 0 && (whole || keep_old(false));
                    break;
                }
            }
            if (in_place) saved = rewrite_in_place(fd, text);
        }
        if (fd >= 0) close(fd);
        if (saved) known = ranklist;
    } else {
        place = insert(ranklist, record);
    }
    if (at.dir >= 0) close(at.dir);

    if (!saved) console_say("ランキングを保存できませんでした");
    return place;
}

Console_Score::Console_Score(const std::string &filename) : Score(filename) {}

std::string listing_line(language l, int place, const clData &r) {
    // The title goes in as the file holds it (any byte but a separator, a NUL even), shown by
    // its name in l when it is one of the game's; it comes last in every language.
    const std::string line = tr_in(l, "%d位　%d点　ステージ%dクリア　命中率%d％　称号%s");
    const size_t at = line.rfind("%s");
    std::string after;
    for (size_t i = at + 2; i < line.size(); ++i) {
        after += line[i];
        if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
    }
    return format_text(line.substr(0, at).c_str(), place, r.score, r.stage, r.hitrate) +
           (r.title.find('\0') == std::string::npos ? tr_in(l, r.title.c_str()) : r.title) + after;
}

void Console_Score::outputdata() {
    for (size_t i = 0; i < ranklist.size() && i < 10; ++i) {
        const clData &r = ranklist[i];
        console_say([&](language l) { return listing_line(l, static_cast<int>(i + 1), r); });
    }
}
