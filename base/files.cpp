#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// A descriptor opened non-blocking: kept, and made blocking, when it is on a regular file;
// otherwise closed, and -1 with errno EINVAL.
int regular_or_closed(int fd) {
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

int open_regular(const std::string &name, int flags) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    // Non-blocking for the open alone: a FIFO swapped in after the check must not hang it.
    return regular_or_closed(open(name.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

int open_regular_at(int dir, const std::string &name, int flags) {
    return regular_or_closed(
        openat(dir, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

std::FILE *fopen_regular(const std::string &name, const char *mode) {
    const int fd = open_regular(name, O_RDONLY);
    if (fd < 0) return nullptr;
    std::FILE *f = fdopen(fd, mode);
    if (!f) close(fd);
    return f;
}

bool is_regular_file(const std::string &name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_other_than_file(const std::string &name) {
    struct stat st;
    return stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool read_regular(const std::string &name, size_t max, std::string &text, std::string &error) {
    text.clear();
    const int fd = open_regular(name, O_RDONLY);
    if (fd < 0) {
        error = errno == EINVAL ? "not a regular file" : "cannot open";
        return false;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            error = "read error";
            return false;
        }
        if (n == 0) break;
        if (text.size() + static_cast<size_t>(n) > max) {
            close(fd);
            error = "longer than " + std::to_string(max) + " bytes";
            return false;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}
