#include "tests/support/XvfbServer.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int announceFd = 3; // the descriptor Xvfb writes its display number to

long long nowMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

} // namespace

XvfbServer::~XvfbServer() { stop(); }

std::string XvfbServer::program() {
    char const* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        std::size_t colon = rest.find(':');
        std::string dir = rest.substr(0, colon);
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
        std::string candidate = (dir.empty() ? "." : dir) + "/Xvfb";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

bool XvfbServer::start(std::string& why, char const* screen) {
    stop();
    std::string path = program();
    if (path.empty()) {
        why = "Xvfb is not installed";
        return false;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        why = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        // Child: the announcing end as descriptor 3, open across exec; output silenced.
        if (fds[1] == announceFd)
            ::fcntl(announceFd, F_SETFD, 0);
        else
            ::dup2(fds[1], announceFd);
        int quiet = ::open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
        }
        ::execl(path.c_str(), "Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp",
                "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        why = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    pid_ = pid;
    std::string number;
    long long deadline = nowMs() + 15000;
    bool ended = false;
    while (!ended && number.find('\n') == std::string::npos && nowMs() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char chunk[32];
        ssize_t got = ::read(fds[0], chunk, sizeof chunk);
        if (got > 0)
            number.append(chunk, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            ended = true;
    }
    ::close(fds[0]);
    std::size_t digits = number.find_first_not_of("0123456789");
    if (digits == 0 || number.empty() || number.find('\n') == std::string::npos) {
        stop();
        why = "Xvfb did not announce a display";
        return false;
    }
    display_ = ":" + number.substr(0, digits);
    return true;
}

void XvfbServer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        long long deadline = nowMs() + 5000;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (nowMs() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            ::usleep(10000);
        }
    }
    pid_ = -1;
    display_.clear();
}
