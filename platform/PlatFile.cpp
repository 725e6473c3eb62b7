#include "platform/PlatFile.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole block at the descriptor's position, or none of it past the
// file-size limit (EFBIG): a write begun at the limit would raise SIGXFSZ.
bool writeAll(int fd, char const* data, ssize_t size) {
    off_t const at = ::lseek(fd, 0, SEEK_CUR);
    long long const room = at < 0 ? -1 : PlatFile::roomBefore(at);
    if (room >= 0 && room < size) {
        errno = EFBIG;
        return false;
    }
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

long long PlatFile::roomBefore(long long offset) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
    long long const most = static_cast<long long>(limit.rlim_cur);
    return offset < most ? most - offset : 0;
}

PlatFile::SizeHold::SizeHold() {
    sigset_t xfsz, pending;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    held = ::pthread_sigmask(SIG_BLOCK, &xfsz, &previous) == 0;
    pendingBefore = ::sigpending(&pending) != 0 || sigismember(&pending, SIGXFSZ) == 1;
}

PlatFile::SizeHold::~SizeHold() {
    if (!held) return;
    int const error = errno; // the write's reason outlives the scope
    sigset_t xfsz, pending;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    if (!pendingBefore && ::sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
        timespec const now{0, 0};
        ::sigtimedwait(&xfsz, nullptr, &now);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
}

int PlatFile::copyfile(char const* source, int destination) {
    if (source == nullptr || destination < 0) return -1;
    SizeHold hold;
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
