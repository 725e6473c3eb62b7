// The path, file and text half of CoreButl, with the one routine that
// replaces a whole file. Everything here may allocate or block on file I/O:
// never from the audio thread.
#include "runtime/CoreButl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/PlatFile.h"
#include "runtime/CoreLog_.h"
#include "runtime/CoreVutl.h"
#include "runtime/CoreXutl.h"

// ---- Path parts -------------------------------------------------------------------------

namespace {

// The four parts of a path as split by CoreVutl::fnspl.
struct PathParts {
    CoreAnsx drive;
    CoreAnsx folder;
    CoreAnsx name;
    CoreAnsx extension;
};

PathParts splitPath(CoreAnsx const& path) {
    std::size_t size = std::strlen(path.c_str()) + 1;
    std::vector<char> drive(size), folder(size), name(size), extension(size);
    CoreVutl::fnspl(path.c_str(), drive.data(), folder.data(), name.data(), extension.data());
    return PathParts{CoreAnsx(drive.data()), CoreAnsx(folder.data()), CoreAnsx(name.data()),
                     CoreAnsx(extension.data())};
}

bool isDirectory(char const* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(char const* path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

} // namespace

CoreAnsx CoreButl::getpt(CoreAnsx const& path) {
    PathParts p = splitPath(path);
    return p.drive + p.folder;
}

CoreAnsx CoreButl::getfn(CoreAnsx const& path, bool withoutExtension) {
    PathParts p = splitPath(path);
    return withoutExtension ? p.name : p.name + p.extension;
}

CoreAnsx CoreButl::getfx(CoreAnsx const& path) { return splitPath(path).extension.UpperCase(); }

CoreAnsx CoreButl::setfx(CoreAnsx const& path, CoreAnsx const& extension) {
    PathParts p = splitPath(path);
    return p.drive + p.folder + p.name + extension.LowerCase();
}

CoreAnsx CoreButl::rnfle(CoreAnsx const& path, CoreAnsx const& suffix, bool nameOnly) {
    PathParts p = splitPath(path);
    CoreAnsx result = nameOnly ? CoreAnsx("") : p.drive + p.folder;
    return result + p.name + suffix + p.extension;
}

CoreAnsx CoreButl::ffpen(CoreAnsx const& path) { return rplce(path, '\\', '/'); }

bool CoreButl::infld(CoreAnsx const& name, bool single) {
    int length = name.Length();
    if (length == 0 || length > iCnamebytes) return false;
    char const* bytes = name.c_str();
    int start = 0; // first byte of the current component
    for (int i = 0; i <= length; ++i) {
        unsigned char c = i < length ? (unsigned char)bytes[i] : '/';
        if ((c == '/' || c == '\\') && single && i < length) return false;
        if (c == '/' || c == '\\') {
            int size = i - start;
            if (size == 0) return false; // absolute, or an empty component
            if (size == 1 && bytes[start] == '.') return false;
            if (size == 2 && bytes[start] == '.' && bytes[start + 1] == '.') return false;
            start = i + 1;
        } else if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

CoreAnsx CoreButl::escct(CoreAnsx const& name) {
    CoreAnsx shown("");
    char const* bytes = name.c_str();
    for (int i = 0; i < name.Length(); ++i) {
        unsigned char c = (unsigned char)bytes[i];
        if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            shown = shown + CoreAnsx(escape);
        } else {
            shown = shown + CoreAnsx(char(c));
        }
    }
    return shown;
}

CoreAnsx CoreButl::getvs(CoreAnsx const& path, short digits) {
    int d = digits < 1 ? 1 : digits;
    CoreAnsx extension = getfx(path);
    CoreAnsx base = setfx(path, "");
    int length = base.Length();
    CoreAnsx numbered;
    if (length > d && base.c_str()[length - d - 1] == bCversionseparator) {
        int k = base.SubString(length - d + 1, d).ToInt();
        CoreAnsx next = intas(k + 1);
        while (next.Length() < d) next = CoreAnsx('0') + next;
        // Only the last d digits are kept, so the count wraps to all zeros.
        numbered = base.SubString(1, length - d) + next.SubString(next.Length() - d + 1, d);
    } else {
        numbered = base + CoreAnsx(bCversionseparator) + lpad_("1", d, '0');
    }
    return setfx(numbered, extension);
}

CoreAnsx CoreButl::getpv(CoreAnsx const& path, CoreAnsx const& fallback,
                         CoreAnsx const& extension) {
    CoreAnsx folder = getpt(path);
    if (folder.Length() > 0 && isDirectory(ffpen(folder).c_str())) return setfx(path, extension);
    CoreAnsx name = getfn(path, true);
    if (name == "" || name == "0") return setfx(fallback, extension);
    return setfx(getpt(fallback) + name, extension);
}

CoreAnsx CoreButl::rslve(CoreAnsx const& path) {
    CoreAnsx given = ffpen(path);
    char const* text = given.c_str();
    if (*text == '\0' || exists(text)) return given;

    // Walk the components; keep each one that exists as given, else take the
    // entry of its folder that matches without regard to case. Of several
    // such entries the lowest by byte order wins, so the answer is stable.
    std::string resolved = text[0] == '/' ? "/" : "";
    std::string rest = text;
    std::size_t pos = 0;
    while (pos < rest.size()) {
        std::size_t slash = rest.find('/', pos);
        std::size_t end = slash == std::string::npos ? rest.size() : slash;
        std::string component = rest.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;
        std::string candidate = resolved + component;
        // A component with more to follow must be a folder: a file of the
        // same name in another case cannot lead anywhere.
        bool needFolder = slash != std::string::npos;
        bool usable = needFolder ? isDirectory(candidate.c_str()) : exists(candidate.c_str());
        if (!usable && component != "." && component != "..") {
            std::string folder = resolved.empty() ? "." : resolved;
            DIR* dir = ::opendir(folder.c_str());
            if (dir == nullptr) return given;
            std::string best;
            while (dirent* entry = ::readdir(dir)) {
                if (::strcasecmp(entry->d_name, component.c_str()) == 0 &&
                    (best.empty() || std::strcmp(entry->d_name, best.c_str()) < 0) &&
                    (!needFolder || isDirectory((resolved + entry->d_name).c_str())))
                    best = entry->d_name;
            }
            ::closedir(dir);
            if (best.empty()) return given;
            candidate = resolved + best;
        }
        resolved = candidate;
        if (slash != std::string::npos) resolved += '/';
    }
    return CoreAnsx(resolved.c_str());
}

// ---- Whole files --------------------------------------------------------------------------

namespace {

thread_local int lastOpenRefusal = 0; // fferr: this thread's last ffpen refused for its kind

// The open flags an fopen mode asks for, without truncation (truncate says
// whether the mode empties the file), and the mode fdopen is given for
// them; false for a mode that is none. After its first letter (r, w or a)
// a mode may hold b, +, x (with w only: the name must be new) and e
// (close-on-exec, which every descriptor made here is already); any other
// letter is refused rather than dropped, since it may have asked for
// something the open would not do.
bool openFlags(char const* mode, int& flags, bool& truncate, std::string& stream) {
    bool both = false, fresh = false;
    for (char const* c = mode[0] != '\0' ? mode + 1 : mode; *c != '\0'; ++c) {
        if (*c == '+')
            both = true;
        else if (*c == 'x' && mode[0] == 'w')
            fresh = true;
        else if (*c != 'b' && *c != 'e')
            return false;
    }
    truncate = false;
    stream = std::string(1, mode[0]) + (both ? "+" : "");
    switch (mode[0]) {
    case 'r': flags = both ? O_RDWR : O_RDONLY; return true;
    case 'w':
        flags = (both ? O_RDWR : O_WRONLY) | O_CREAT | (fresh ? O_EXCL : 0);
        truncate = true;
        return true;
    case 'a': flags = (both ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; return true;
    default: return false;
    }
}

// A whole-file read refused for its size: logged with the name and both
// sizes, and the reason left in fferr and errno.
void refuseTooLarge(CoreAnsx const& target, long long size, long long most) {
    lastOpenRefusal = EFBIG;
    CoreLog_::loger(target + CoreAnsx(": ") + CoreButl::toolg(size, most), 0);
    errno = EFBIG;
}

} // namespace

int CoreButl::plnfd(CoreAnsx const& path, int flags, int& kind) {
    kind = 0;
    // A FIFO would block the open or the read until a writer comes, a device
    // can be read for ever, and opening some devices acts on them: only a
    // plain file is opened at all. The name may change kind between the
    // look and the open, so the open does not block and the descriptor is
    // asked again.
    auto refused = [&kind](mode_t mode) {
        kind = S_ISDIR(mode) ? EISDIR : iCnotplainfile;
        errno = kind;
        return -1;
    };
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refused(st.st_mode);
    int const fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    bool const looked = ::fstat(fd, &st) == 0;
    if (looked && !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refused(st.st_mode);
    }
    int const status = looked ? ::fcntl(fd, F_GETFL) : -1;
    if (status >= 0 && ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == 0) return fd;
    int const error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

FILE* CoreButl::ffpen(CoreAnsx const& path, CoreAnsx const& mode) { return ffpen(path, mode, -1); }

FILE* CoreButl::ffpen(CoreAnsx const& path, CoreAnsx const& mode, long long most) {
    lastOpenRefusal = 0;
    int flags = 0;
    bool truncate = false;
    std::string stream;
    if (!openFlags(mode.c_str(), flags, truncate, stream)) {
        CoreLog_::loger(
            CoreAnsx("File mode refused: \"") + escct(mode) + CoreAnsx("\" for ") + path, 0);
        errno = EINVAL;
        return nullptr;
    }
    // Existing files are found regardless of the case of their name; files
    // opened for writing keep the name as given.
    char const first = mode.c_str()[0];
    CoreAnsx const target = (first == 'r' || first == 'a') ? rslve(path) : ffpen(path);
    int const fd = plnfd(target, flags, lastOpenRefusal);
    if (fd < 0) return nullptr;
    // Judged by the size the open file has, before a byte of it is read: a
    // sparse file of a terabyte costs nothing to make and hours to read.
    struct stat st {};
    bool const sized = most < 0 || ::fstat(fd, &st) == 0;
    if (!sized || (most >= 0 && st.st_size > most)) {
        int const error = errno;
        ::close(fd);
        if (!sized) {
            errno = error;
            return nullptr;
        }
        refuseTooLarge(target, st.st_size, most);
        return nullptr;
    }
    // Emptied only now, so that nothing but a plain file is ever emptied.
    FILE* file = truncate && ::ftruncate(fd, 0) != 0 ? nullptr : ::fdopen(fd, stream.c_str());
    if (file == nullptr) {
        int const error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

long long CoreButl::rdsze(FILE* file, CoreAnsx const& path, long long most) {
    struct stat st;
    if (file == nullptr || ::fstat(::fileno(file), &st) != 0) return -1;
    if (most >= 0 && st.st_size > most) {
        // Grown since ffpen judged it: refused as ffpen refuses it.
        refuseTooLarge(rslve(path), st.st_size, most);
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

int CoreButl::fferr() { return lastOpenRefusal; }

CoreAnsx CoreButl::ffwhy(char const* text) {
    if (lastOpenRefusal == 0) return CoreAnsx(text);
    return CoreAnsx(text) + CoreAnsx(": ") + systemReason(lastOpenRefusal);
}

CoreAnsx CoreButl::toolg(long long size, long long most) {
    return CoreAnsx("too large (") + CoreAnsx(std::to_string(size).c_str()) +
           CoreAnsx(" bytes, larger than ") + CoreAnsx(std::to_string(most >> 20).c_str()) +
           CoreAnsx(" MB)");
}

CoreAnsx CoreButl::opnwy() {
    int const error = errno;
    if (lastOpenRefusal != 0) return systemReason(lastOpenRefusal);
    if (error == ENOENT) return CoreAnsx("missing");
    return error != 0 ? systemReason(error) : CoreAnsx("not read");
}

CoreAnsx CoreButl::getfc(CoreAnsx const& path) {
    FILE* file = ffpen(path, "rb", iCwholebytes);
    if (file == nullptr) return CoreAnsx(0);
    // The text ends at the first NUL byte, as a C string does, so reading
    // stops there: a large binary file is not pulled into memory for nothing.
    // Nor is more read than the file holds now, within the bound: one that
    // grows while read cannot keep the reader.
    long long left = rdsze(file, path, iCwholebytes);
    if (left < 0 && lastOpenRefusal == EFBIG) {
        std::fclose(file);
        errno = EFBIG;
        return CoreAnsx(0);
    }
    std::string content;
    bool failed = left < 0;
    try {
        char chunk[65536];
        std::size_t got;
        while (left > 0 &&
               (got = std::fread(chunk, 1, std::size_t(std::min<long long>(left, sizeof chunk)),
                                 file)) > 0) {
            left -= static_cast<long long>(got);
            void const* nul = std::memchr(chunk, '\0', got);
            content.append(
                chunk, nul ? static_cast<std::size_t>(static_cast<char const*>(nul) - chunk) : got);
            if (nul) break;
        }
        failed = failed || std::ferror(file) != 0;
    } catch (std::bad_alloc const&) {
        std::fclose(file);
        throw CoreAnsx(CoreAnsx("Memory request failed reading ") + path);
    }
    std::fclose(file);
    if (failed) {
        CoreLog_::logfl(path, 1);
        return CoreAnsx(0);
    }
    return CoreAnsx(content.c_str());
}

bool CoreButl::setfc(CoreAnsx const& path, CoreAnsx const& text) {
    return wrall(path, text.c_str(), std::strlen(text.c_str()));
}

bool CoreButl::svatx(CoreAnsx const& path, CoreAnsx const& text, bool flag) {
    // The writer adds the final line feed and replaces the file in one step;
    // a failure is logged there.
    return CoreXutl::lgexc(ffpen(path), sCxmlheader + sCxmlcopyright + text, flag);
}

void CoreButl::logas(CoreAnsx const& path, CoreAnsx const& text, bool append) {
    if (!append) {
        // Starting the file afresh replaces it whole.
        CoreAnsx const line = text + CoreAnsx("\n");
        wrall(path, line.c_str(), std::strlen(line.c_str()));
        return;
    }
    FILE* file = ffpen(path, "a");
    if (file == nullptr) return;
    PlatFile::SizeHold hold; // past the file-size limit the line fails, ending nothing
    std::fputs(text.c_str(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

// ---- Replacing a whole file ------------------------------------------------------------------

namespace {

// The file a write to path replaces: each symbolic link is followed to what
// it names, existing or not, so that the link itself survives the rename.
// "" for a loop of links.
std::string followLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char named[PATH_MAX];
        ssize_t n = ::readlink(path.c_str(), named, sizeof named - 1);
        if (n <= 0) return path; // unreadable: stat below judges what it is
        std::string next(named, static_cast<std::size_t>(n));
        std::size_t slash = path.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
        path = next;
    }
    errno = ELOOP;
    return std::string();
}

// Makes a rename in the folder of target durable: without it a crash soon
// after a save can bring the old file back although the save was reported.
void syncFolder(std::string const& target) {
    std::size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

// The name of a save's temporary: the target's with ".~<pid>.<n>" after it.
std::string temporaryName(std::string const& target, long pid, unsigned n) {
    return target + ".~" + std::to_string(pid) + "." + std::to_string(n);
}

// The process id in a name temporaryName made (a non-empty target before
// it); 0 for any other name.
long temporaryPid(std::string const& name) {
    std::size_t const mark = name.rfind(".~");
    if (mark == std::string::npos || mark == 0) return 0;
    std::size_t const dot = name.find('.', mark + 2);
    auto digits = [&name](std::size_t from, std::size_t to, std::size_t most) {
        if (to <= from || to - from > most) return false;
        for (std::size_t k = from; k < to; ++k)
            if (name[k] < '0' || name[k] > '9') return false;
        return true;
    };
    if (dot == std::string::npos || !digits(mark + 2, dot, 9) || !digits(dot + 1, name.size(), 10))
        return 0;
    return std::strtol(name.c_str() + mark + 2, nullptr, 10);
}

thread_local int lastWriteError = 0; // wrerr: this thread's last failed wrall or wrnew

// A new, exclusive file beside target, opened for writing; null (errno set)
// when none can be made.
FILE* openTemporary(std::string const& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = temporaryName(target, ::getpid(), counter.fetch_add(1));
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue; // left by a process of the same id
            return nullptr;
        }
        FILE* file = ::fdopen(fd, "wb");
        if (file != nullptr) return file;
        int saved = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        errno = saved;
        return nullptr;
    }
    return nullptr;
}

// The name a writer was given, with its separators the system's; "" when it
// has none, logged. Clears this thread's last write error.
CoreAnsx writeTarget(CoreAnsx const& path) {
    lastWriteError = 0;
    CoreAnsx given = CoreButl::ffpen(path);
    if (given.c_str()[0] == '\0')
        CoreLog_::loger(CoreAnsx("Cannot write a file without a name"), 1);
    return given;
}

// A write that failed: kept for wrerr and logged as what, the file and the
// system's reason (none for error 0). Always false.
bool writeFailed(char const* what, CoreAnsx const& given, int error) {
    lastWriteError = error;
    CoreAnsx reason = error != 0 ? CoreAnsx(": ") + CoreButl::systemReason(error) : CoreAnsx("");
    CoreLog_::loger(CoreAnsx(what) + given + reason, 1);
    return false;
}

// A temporary beside target filled and flushed to the disk, then closed;
// with mode, it takes those permission bits first. False when any of it
// failed, the temporary then removed and error the system's reason (0 for a
// fill that failed without one). A fill past the file-size limit fails with
// EFBIG: its writes run with SIGXFSZ held off this thread, so the one that
// reaches the limit fails instead of ending the host, and the signal it
// raised is taken back.
bool fillTemporary(std::string const& target, std::string& temp, mode_t const* mode,
                   std::function<bool(FILE*)> const& fill, int& error) {
    PlatFile::SizeHold hold;
    FILE* file = openTemporary(target, temp);
    if (file == nullptr) {
        error = errno;
        return false;
    }
    bool ok = mode == nullptr || ::fchmod(::fileno(file), *mode & 07777) == 0;
    if (ok) errno = 0; // a fill that fails without a system error logs no stale reason
    try {
        ok = ok && fill(file);
    } catch (...) {
        std::fclose(file);
        ::unlink(temp.c_str());
        throw;
    }
    ok = ok && std::fflush(file) == 0 && std::ferror(file) == 0 && ::fsync(::fileno(file)) == 0;
    error = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// A fresh temporary filled with these bytes, or with none (EFBIG) when
// they pass the file-size limit: the write that would reach it is not made.
bool fillBytes(FILE* file, char const* bytes, std::size_t size) {
    long long const room = PlatFile::roomBefore(0);
    if (room >= 0 && size > static_cast<unsigned long long>(room)) {
        errno = EFBIG;
        return false;
    }
    return size == 0 || std::fwrite(bytes, 1, size, file) == size;
}

} // namespace

bool CoreButl::wrall(CoreAnsx const& path, std::function<bool(FILE*)> const& fill) {
    CoreAnsx const given = writeTarget(path);
    if (given.c_str()[0] == '\0') return false;
    auto fail = [&given](int error) {
        writeFailed("Cannot write file ", given, error);
        errno = error; // the caller may show the reason
        return false;
    };
    std::string const target = followLinks(given.c_str());
    if (target.empty()) return fail(errno);

    // Renaming over a device or pipe would put a plain file in its place, and
    // a file its owner protected is not replaced behind the owner's back
    // (the rename needs only the folder to be writable).
    struct stat old;
    bool const exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        lastWriteError = S_ISDIR(old.st_mode) ? EISDIR : iCnotplainfile;
        CoreLog_::loger(CoreAnsx("Cannot replace what is not a plain file: ") + given, 1);
        errno = lastWriteError;
        return false;
    }
    if (exists && ::access(target.c_str(), W_OK) != 0) return fail(errno);

    // The replacement keeps the permission bits of the file it replaces.
    std::string temp;
    int error = 0;
    if (!fillTemporary(target, temp, exists ? &old.st_mode : nullptr, fill, error))
        return fail(error);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(temp.c_str());
        return fail(error);
    }
    syncFolder(target);
    return true;
}

bool CoreButl::wrall(CoreAnsx const& path, char const* bytes, std::size_t size) {
    return wrall(path, [bytes, size](FILE* file) { return fillBytes(file, bytes, size); });
}

CoreAnsx CoreButl::lnktg(CoreAnsx const& path) {
    std::string const target = followLinks(ffpen(path).c_str());
    return target.empty() ? CoreAnsx("") : CoreAnsx(target.c_str());
}

// ---- Creating a new file ---------------------------------------------------------------------

namespace {

// Whether a link or rename error says the file system cannot do it at all,
// rather than that this one failed.
bool unsupported(int error) {
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == EINVAL ||
           error == ENOSYS || error == EXDEV || error == EMLINK;
}

// The last resort of a file system without hard links or a rename that
// refuses to replace: the name itself is created exclusively (a link there
// counts as taken, never followed) and the finished temporary copied into it.
// A crash here can leave a short file, never a replaced one.
int copyExclusive(std::string const& temp, std::string const& target) {
    int in = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0) {
        int const error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char chunk[65536];
    // The temporary fitted under the file-size limit, but the limit may have
    // dropped since: a write past it fails, ending nothing.
    PlatFile::SizeHold hold;
    for (;;) {
        ssize_t got = ::read(in, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) error = errno;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            ssize_t put = ::write(out, chunk + done, std::size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0)
                error = put < 0 ? errno : EIO;
            else
                done += put;
        }
        if (error != 0) break;
    }
    if (error == 0 && ::fsync(out) != 0) error = errno;
    if (::close(out) != 0 && error == 0) error = errno;
    ::close(in);
    // What we created and could not fill is ours to take back.
    if (error != 0) ::unlink(target.c_str());
    return error;
}

// Puts the finished temporary at target only where nothing is: 0, EEXIST
// when the name is taken (by a file, a folder or a link, dangling or not),
// or the system's error.
int placeNew(std::string const& temp, std::string const& target) {
    if (::link(temp.c_str(), target.c_str()) == 0) return 0;
    int error = errno;
    if (!unsupported(error)) return error;
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    error = errno;
    if (!unsupported(error)) return error;
    return copyExclusive(temp, target);
}

} // namespace

bool CoreButl::wrnew(CoreAnsx const& path, std::function<bool(FILE*)> const& fill) {
    CoreAnsx const given = writeTarget(path);
    if (given.c_str()[0] == '\0') return false;
    std::string const target = given.c_str();
    // Taken already: nothing is written at all. The placing below checks
    // again, since another writer may come between.
    struct stat there;
    if (::lstat(target.c_str(), &there) == 0)
        return writeFailed("Cannot create file ", given, EEXIST);

    std::string temp;
    int error = 0;
    if (!fillTemporary(target, temp, nullptr, fill, error))
        return writeFailed("Cannot create file ", given, error);
    error = placeNew(temp, target);
    // After a link the temporary is a second name of the new file; after a
    // rename it is gone already.
    ::unlink(temp.c_str());
    if (error != 0) return writeFailed("Cannot create file ", given, error);
    syncFolder(target);
    return true;
}

bool CoreButl::wrnew(CoreAnsx const& path, char const* bytes, std::size_t size) {
    return wrnew(path, [bytes, size](FILE* file) { return fillBytes(file, bytes, size); });
}

int CoreButl::wrerr() { return lastWriteError; }

CoreAnsx CoreButl::systemReason(int error) {
    if (error == iCnotplainfile) return CoreAnsx("not a plain file");
    // The C library words its reasons in the process's LC_MESSAGES, which a
    // host following the user's language sets: a translation would reach the
    // log in another language and the screen with letters the skin lacks.
    static locale_t const c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    if (c == static_cast<locale_t>(nullptr)) return CoreAnsx("system error ") + CoreAnsx(error);
    return CoreAnsx(::strerror_l(error, c));
}

int CoreButl::sweep(CoreAnsx const& folder, int seconds) {
    std::string base = rslve(folder).c_str();
    if (base.empty()) return 0;
    if (base.back() != '/') base += '/';
    DIR* dir = ::opendir(base.c_str());
    if (dir == nullptr) return 0;
    std::vector<std::string> stale;
    time_t const now = ::time(nullptr);
    while (dirent* entry = ::readdir(dir)) {
        std::string const path = base + entry->d_name;
        long const pid = temporaryPid(entry->d_name);
        struct stat st;
        if (pid <= 0 || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now - st.st_mtime <= seconds) continue;
        // A process of that id here, ours or another user's, may be saving.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;
        stale.push_back(path);
    }
    ::closedir(dir);
    int removed = 0;
    for (std::string const& path : stale) {
        if (::unlink(path.c_str()) != 0) continue;
        CoreLog_::loger(
            CoreAnsx("Removed the temporary of an interrupted save: ") + CoreAnsx(path.c_str()), 0);
        ++removed;
    }
    return removed;
}

// ---- Texts ----------------------------------------------------------------------------------

CoreAnsx CoreButl::sbstr(CoreAnsx const& text, int start, int count) {
    if (start < 1) start = 1;
    int length = text.Length() < 0 ? 0 : text.Length();
    if (start > length) return CoreAnsx(" ");
    return text.SubString(start, count);
}

CoreAnsx CoreButl::wordc(CoreAnsx const& text, int width) {
    std::string line(text.c_str());
    std::size_t const room = width < 0 ? 0 : std::size_t(width);
    if (line.size() > room) {
        // A blank just past the room ends a word that fits whole.
        std::size_t const blank = line.rfind(' ', room);
        line.erase(blank == std::string::npos || blank == 0 ? room : blank);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return CoreAnsx(line.c_str());
}

CoreAnsx CoreButl::causw(CoreAnsx const& reason, SHORTCAUSE const* rows, int n, char const* none) {
    std::string said(reason.c_str());
    for (char& c : said) // the host's locale plays no part
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    for (int k = 0; k < n; ++k)
        if (said.find(rows[k].key) != std::string::npos) return CoreAnsx(rows[k].shown);
    return CoreAnsx(none);
}

// Text cut to width by sbstr and the number of fill characters it still needs.
static CoreAnsx cutToWidth(CoreAnsx const& text, int width, int& missing) {
    CoreAnsx cut = CoreButl::sbstr(text, 1, width < 0 ? 0 : width);
    missing = width - cut.Length();
    if (missing < 0) missing = 0;
    return cut;
}

static CoreAnsx repeated(char fill, int count) {
    std::string s(static_cast<std::size_t>(count > 0 ? count : 0), fill);
    return CoreAnsx(s.c_str());
}

CoreAnsx CoreButl::lpad_(CoreAnsx const& text, int width, char fill) {
    int missing;
    CoreAnsx cut = cutToWidth(text, width, missing);
    return repeated(fill, missing) + cut;
}

CoreAnsx CoreButl::rpad_(CoreAnsx const& text, int width, char fill) {
    int missing;
    CoreAnsx cut = cutToWidth(text, width, missing);
    return cut + repeated(fill, missing);
}

CoreAnsx CoreButl::cpad_(CoreAnsx const& text, int width, char fill) {
    int missing;
    CoreAnsx cut = cutToWidth(text, width, missing);
    int left = (missing + 1) / 2;
    return repeated(fill, left) + cut + repeated(fill, missing - left);
}

CoreAnsx CoreButl::getcn(CoreAnsx const& text, short width) {
    int blanks = (width - text.Trim().Length()) / 2;
    return repeated(' ', blanks) + text;
}

CoreAnsx CoreButl::rplce(CoreAnsx const& text, char from, char to) {
    std::string s = text.c_str();
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c != from)
            out += c;
        else if (to != '\0')
            out += to;
    }
    return CoreAnsx(out.c_str());
}

CoreAnsx CoreButl::rplce(CoreAnsx const& text, CoreAnsx const& from, CoreAnsx const& to) {
    std::string s = text.c_str();
    std::string needle = from.c_str();
    std::string replacement = to.c_str();
    if (needle.empty()) return CoreAnsx(s.c_str());
    // The search goes on after the inserted text, so a replacement holding the
    // searched text cannot make it loop.
    std::size_t pos = 0;
    while ((pos = s.find(needle, pos)) != std::string::npos) {
        s.replace(pos, needle.size(), replacement);
        pos += replacement.size();
    }
    return CoreAnsx(s.c_str());
}

CoreAnsx CoreButl::getu8(CoreAnsx const& text) {
    char const* s = text.c_str();
    if (static_cast<unsigned char>(s[0]) != 0xFF || static_cast<unsigned char>(s[1]) != 0xFE)
        return text;
    // The text cannot hold zero bytes, so only the mark needs dropping here;
    // getac drops the zeros when the raw bytes are at hand.
    return CoreAnsx(s + 2);
}

CoreAnsx CoreButl::getac(char const* bytes, int n) {
    std::string out;
    for (int i = 0; bytes != nullptr && i < n; ++i)
        if (bytes[i] != '\0') out += bytes[i];
    return CoreAnsx(out.c_str());
}

CoreAnsx CoreButl::disps(CoreAnsx const& text) {
    if (text == "" || text == "0") return CoreAnsx("0 ");
    return text;
}

CoreAnsx CoreButl::getnv(CoreAnsx const& text) {
    if (text == "0" || text.Trim() == "") return sCnull;
    return text;
}

CoreAnsx CoreButl::intas(int v) { return CoreAnsx(v); }

CoreAnsx CoreButl::dotas(double v) {
    if (v == 0.0) return CoreAnsx("0");
    return CoreAnsx(v);
}

int CoreButl::getci(CoreAnsx const& value, int n, CoreAnsx const* list, bool numeric,
                    bool minusOne) {
    int notFound = minusOne ? -1 : 0;
    if (list == nullptr || n < 1) return notFound;
    if (!numeric) {
        CoreAnsx key = value.UpperCase().Trim();
        for (int i = 0; i < n; ++i)
            if (list[i].UpperCase().Trim() == key) return i;
        return notFound;
    }
    double x = value.ToDouble();
    int best = 0;
    double bestDistance = std::fabs(list[0].ToDouble() - x);
    for (int i = 1; i < n; ++i) {
        double distance = std::fabs(list[i].ToDouble() - x);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

void CoreButl::sortv(CoreAnsx* list, int n) {
    if (list == nullptr) return;
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (list[j].Trim().UpperCase() < list[i].Trim().UpperCase()) {
                CoreAnsx t = list[i];
                list[i] = list[j];
                list[j] = t;
            }
}

CoreAnsx CoreButl::getds(CoreAnsx const& name, short n) {
    CoreAnsx cut = name;
    int blank = name.Pos(" ");
    if (blank > 0) cut = name.SubString(1, blank);
    if (cut.Length() <= n) return cut;
    std::string rest;
    for (char const* p = cut.c_str() + (cut.Length() > 3 ? 3 : cut.Length()); *p != '\0'; ++p)
        if (std::strchr("AEIOU", *p) == nullptr) rest += *p;
    int keep = n - 3;
    if (keep < 0) keep = 0;
    return cut.SubString(1, 3) + CoreAnsx(rest.substr(0, static_cast<std::size_t>(keep)).c_str());
}

bool CoreButl::isnmb(CoreAnsx const& text) {
    (void)text; // the integer conversion never fails
    return true;
}

CoreAnsx CoreButl::fndqp(CoreAnsx const& mask, CoreAnsx const& name) {
    char const* m = mask.c_str();
    char const* q = std::strchr(m, '?');
    if (q == nullptr) return CoreAnsx("");
    std::size_t from = static_cast<std::size_t>(q - m);
    std::size_t to = from;
    while (m[to] == '?') ++to;
    std::string s = name.c_str();
    if (from >= s.size()) return CoreAnsx("");
    return CoreAnsx(s.substr(from, to - from).c_str());
}
