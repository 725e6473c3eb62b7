#include "runtime/CoreXutl.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "platform/PlatFile.h"
#include "runtime/CoreButl.h"

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

bool CoreXutl::cpyfl(CoreAnsx const& source, CoreAnsx const& destination, bool) {
    // The copy replaces the destination in one step, so a copy cut short
    // (full disk) never leaves the destination truncated or reports success.
    struct stat from {};
    if (destination.c_str()[0] == '\0' || stat(source.c_str(), &from) != 0 ||
        !S_ISREG(from.st_mode))
        return false;
    std::error_code error;
    // A file copied onto itself would be replaced by a copy of itself at best.
    if (std::filesystem::equivalent(source.c_str(), CoreButl::ffpen(destination).c_str(), error))
        return false;
    return CoreButl::wrall(destination, [&source](FILE* file) {
        return PlatFile::copyfile(source.c_str(), fileno(file)) == 0;
    });
}

bool CoreXutl::lgexc(CoreAnsx const& path, CoreAnsx const& text, bool) {
    CoreAnsx const body = text + CoreAnsx("\n");
    return CoreButl::wrall(path, body.c_str(), std::strlen(body.c_str()));
}
