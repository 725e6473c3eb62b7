#include "platform/PlatFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, char const* data, ssize_t size) {
    while (size > 0) {
        ssize_t done = ::write(fd, data, static_cast<size_t>(size));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        size -= done;
    }
    return true;
}

} // namespace

int PlatFile::copyfile(char const* source, int destination) {
    if (source == nullptr || destination < 0) return -1;
    // The caller's look at the source comes before this open: a FIFO put
    // there between them must not keep the open waiting for a writer. The
    // flag changes nothing for a plain file, and fstat refuses the rest.
    int in = ::open(source, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return -1;
    struct stat from {};
    bool ok = ::fstat(in, &from) == 0 && S_ISREG(from.st_mode) &&
              ::fchmod(destination, from.st_mode & 07777) == 0;
    off_t copied = 0;
    char chunk[65536];
    while (ok) {
        ssize_t got = ::read(in, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        ok = writeAll(destination, chunk, got);
        copied += got;
    }
    int saved = errno;
    ::close(in);
    errno = saved;
    return ok && copied == from.st_size ? 0 : -1;
}
