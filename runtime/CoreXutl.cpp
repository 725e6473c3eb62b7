#include "runtime/CoreXutl.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "platform/PlatFile.h"

void CoreXutl::sleep(int ms) {
    if (ms <= 0) return;
    // sleep_for resumes after signals and takes any length, where a
    // microsecond count in an unsigned int would wrap for long or negative
    // waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double CoreXutl::tgtme() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) * 1e-6;
}

double CoreXutl::ttime() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return (static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) * 1e-6) *
           dVtdatetimeconst;
}

unsigned long CoreXutl::getti() { return static_cast<unsigned long>(pthread_self()); }

int CoreXutl::getpi() { return static_cast<int>(getpid()); }

bool CoreXutl::delfl(CoreAnsx const& path) { return std::remove(path.c_str()) == 0; }

bool CoreXutl::ispvl(CoreAnsx const& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode);
}

bool CoreXutl::crdir(CoreAnsx const& path) { return mkdir(path.c_str(), 0775) == 0; }

namespace {

// A name beside target that no other writer in this or another process
// picks at the same time.
std::string siblingName(std::string const& target) {
    static std::atomic<unsigned long> serial{0};
    return target + ".~" + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1)) +
           ".tmp";
}

bool writeAll(int fd, char const* data, size_t size) {
    while (size > 0) {
        ssize_t done = write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

// Makes a rename in the folder of path durable: without it a crash soon
// after a save can bring the old file back although the save was reported.
void syncFolder(std::string const& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// The file a write to path must replace: through a symbolic link to the file
// it names, so the link survives. False when it exists but is no regular
// file or may not be written.
bool replaceableTarget(std::string& target, struct stat& existing, bool& exists) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_symlink(target, error)) {
        fs::path resolved = fs::weakly_canonical(target, error);
        if (error) return false;
        target = resolved.string();
    }
    exists = stat(target.c_str(), &existing) == 0;
    return !exists || (S_ISREG(existing.st_mode) && access(target.c_str(), W_OK) == 0);
}

} // namespace

bool CoreXutl::cpyfl(CoreAnsx const& source, CoreAnsx const& destination, bool) {
    // The copy is made beside the destination and moved over it only when
    // complete, so a copy cut short (full disk) never leaves the destination
    // truncated or reports success.
    std::string target = destination.c_str();
    struct stat from {};
    if (target.empty() || stat(source.c_str(), &from) != 0 || !S_ISREG(from.st_mode)) return false;
    std::error_code error;
    // A file copied onto itself would be replaced by a copy of itself at best.
    if (std::filesystem::equivalent(source.c_str(), target, error)) return false;
    struct stat existing {};
    bool exists = false;
    if (!replaceableTarget(target, existing, exists)) return false;
    std::string temporary = siblingName(target);
    bool copied = PlatFile::copyfile(source.c_str(), temporary.c_str()) == 0;
    struct stat made {};
    copied = copied && stat(temporary.c_str(), &made) == 0 && made.st_size == from.st_size;
    if (copied) {
        int fd = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
        copied = fd >= 0 && fsync(fd) == 0;
        if (fd >= 0) close(fd);
    }
    if (copied && std::rename(temporary.c_str(), target.c_str()) == 0) {
        syncFolder(target);
        return true;
    }
    std::remove(temporary.c_str());
    return false;
}

bool CoreXutl::lgexc(CoreAnsx const& path, CoreAnsx const& text, bool) {
    if (path.c_str()[0] == '\0') return false;
    std::string target = path.c_str();
    struct stat existing {};
    bool exists = false;
    if (!replaceableTarget(target, existing, exists)) return false;

    std::string temporary = siblingName(target);
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool written = true;
    if (exists) written = fchmod(fd, existing.st_mode & 07777) == 0;
    flock(fd, LOCK_EX);
    char const* body = text.c_str();
    written = written && writeAll(fd, body, std::strlen(body)) && writeAll(fd, "\n", 1);
    written = written && fsync(fd) == 0;
    flock(fd, LOCK_UN);
    written = (close(fd) == 0) && written;
    if (written && std::rename(temporary.c_str(), target.c_str()) == 0) {
        syncFolder(target);
        return true;
    }
    std::remove(temporary.c_str());
    return false;
}
