#include "runtime/CoreAnsx.h"

#include "runtime/CoreAudp.h"
#include "runtime/CoreVutl.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <locale.h>
#include <new>
#include <utility>

namespace {

// The host may switch the process locale at any time; numbers in files and
// documents must keep "." as decimal point, so every conversion runs in "C".
locale_t cLocale() {
    static locale_t const c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Switches this thread to the C locale for the lifetime of the guard.
class CLocaleScope {
public:
    CLocaleScope() : previous(cLocale() ? uselocale(cLocale()) : nullptr) {}
    ~CLocaleScope() {
        if (previous) uselocale(previous);
    }
    CLocaleScope(CLocaleScope const&) = delete;
    CLocaleScope& operator=(CLocaleScope const&) = delete;

private:
    locale_t previous; // the thread's locale before the guard
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char const emptyText[] = "";

// Widest digits count _FloatToStrF honours: enough for every decimal of the
// smallest subnormal double.
constexpr int maxFixedDigits = 1100;

template <typename Integer> void storeInteger(CoreAnsx& into, Integer value) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof(text) - 1, value);
    *result.ptr = 0;
    into.start(text, 0, -1);
}

} // namespace

CoreAnsx::CoreAnsx() : marker{0, 13}, buffer(nullptr), length(0), capac(0) {}

CoreAnsx::CoreAnsx(char const* text) : CoreAnsx() { start(text, 0, -1); }

CoreAnsx::CoreAnsx(CoreAnsx const& other) : CoreAnsx() { start(other.c_str(), 0, -1); }

CoreAnsx::CoreAnsx(CoreAnsx&& other) noexcept : CoreAnsx() {
    if (other.buffer) {
        std::swap(buffer, other.buffer);
        std::swap(length, other.length);
        std::swap(capac, other.capac);
    } else {
        // A copy of an unassigned string is "", so a move must be too; the
        // 8-byte block is small enough that failing here means the process is
        // out of memory anyway.
        try {
            start(emptyText, 0, -1);
        } catch (...) {
        }
    }
}

CoreAnsx::CoreAnsx(char c) : CoreAnsx() {
    char const text[2] = {c, 0};
    start(text, 0, -1);
}

CoreAnsx::CoreAnsx(int value) : CoreAnsx() { storeInteger(*this, value); }

CoreAnsx::CoreAnsx(long value) : CoreAnsx() { storeInteger(*this, value); }

CoreAnsx::CoreAnsx(unsigned long value) : CoreAnsx() { storeInteger(*this, value); }

CoreAnsx::CoreAnsx(double value) : CoreAnsx() { formatDouble("%G", value); }

CoreAnsx::~CoreAnsx() {
    if (capac > 0) std::free(buffer);
    buffer = nullptr;
}

int CoreAnsx::alloc(int n) { return (n & ~7) + 8; }

void CoreAnsx::failMemory(long long bytes) {
    // Building the report allocates too; if that fails as well there is no
    // text left to give, so the plain allocation failure goes out instead.
    thread_local bool reporting = false;
    if (reporting) throw std::bad_alloc();
    reporting = true;
    CoreAnsx report;
    try {
        char count[32];
        auto result = std::to_chars(count, count + sizeof(count) - 1, bytes);
        *result.ptr = 0;
        report.start("Memory request failed ", 0, -1);
        report.start(count, report.length, -1);
    } catch (...) {
        reporting = false;
        throw;
    }
    reporting = false;
    throw report;
}

void CoreAnsx::reserveBytes(long long bytes) {
    if (bytes <= capac) return;
    CoreAudp::forbid("CoreAnsx growth");
    if (bytes > INT_MAX - 8) failMemory(bytes);
    int const grown = alloc(static_cast<int>(bytes));
    void* block = CoreVutl::reall(buffer, grown);
    if (!block) failMemory(grown);
    buffer = static_cast<char*>(block);
    capac = grown;
}

char* CoreAnsx::start(char const* text, int pos, int limit) {
    if (!text) text = emptyText;
    long long chars = static_cast<long long>(std::strlen(text));
    if (limit >= 0) chars = std::min<long long>(chars, limit > 0 ? limit - 1 : 0);
    if (pos < 0) pos = 0;
    if (pos > length) pos = length; // past the end: append rather than leave a gap
    long long const newLength = pos == 0 ? chars + 1 : chars + pos;

    // The text may lie in our own block (s.start(s.c_str() + 2)); the block
    // may move when it grows, so keep the offset rather than the pointer.
    std::ptrdiff_t inside = -1;
    if (buffer && !std::less<char const*>()(text, buffer) &&
        std::less<char const*>()(text, buffer + capac))
        inside = text - buffer;
    reserveBytes(newLength);
    if (inside >= 0) text = buffer + inside;

    char* dest = buffer + (pos == 0 ? 0 : pos - 1);
    std::memmove(dest, text, static_cast<std::size_t>(chars));
    buffer[newLength - 1] = 0;
    length = static_cast<int>(newLength);
    return buffer;
}

char* CoreAnsx::start(CoreAnsx const& text, int pos, int limit) {
    return start(text.c_str(), pos, limit);
}

CoreAnsx& CoreAnsx::operator=(CoreAnsx const& other) {
    if (other.marker[0] != 0 || other.marker[1] != 13) return *this;
    start(other.c_str(), 0, -1);
    return *this;
}

CoreAnsx& CoreAnsx::operator=(CoreAnsx&& other) noexcept {
    if (this == &other) return *this;
    if (other.buffer && other.length > capac) {
        // Taking the larger block keeps the rule that ours never shrinks.
        std::swap(buffer, other.buffer);
        std::swap(length, other.length);
        std::swap(capac, other.capac);
        // The other now holds our old block, released with it.
    } else {
        // Fits the block we have: a copy, which cannot fail.
        try {
            start(other.c_str(), 0, -1);
        } catch (...) {
        }
    }
    return *this;
}

CoreAnsx& CoreAnsx::operator+=(CoreAnsx const& other) {
    start(other.c_str(), length, -1);
    return *this;
}

CoreAnsx CoreAnsx::operator+(CoreAnsx const& other) const {
    CoreAnsx joined(*this);
    joined += other;
    return joined;
}

char const* CoreAnsx::c_str() const { return buffer ? buffer : emptyText; }

int CoreAnsx::Length() const { return length - 1; }

int CoreAnsx::capacity() const { return capac; }

int CoreAnsx::Pos(CoreAnsx const& needle) const {
    char const* hay = c_str();
    char const* found = std::strstr(hay, needle.c_str());
    return found ? static_cast<int>(found - hay) + 1 : 0;
}

int CoreAnsx::AnsiPos(CoreAnsx const& needle) const { return Pos(needle); }

CoreAnsx CoreAnsx::SubString(int from, int count) const {
    if (from < 1) from = 1;
    if (from >= length) return CoreAnsx(emptyText);
    int const rest = length - from; // characters from 'from' to the end
    int const take = count < 0 ? rest : std::min(count, rest);
    CoreAnsx piece;
    piece.start(buffer + from - 1, 0, take + 1);
    return piece;
}

CoreAnsx CoreAnsx::Trim() const {
    char const* text = c_str();
    std::size_t first = 0;
    std::size_t last = std::strlen(text);
    while (first < last && isSpace(text[first])) ++first;
    while (last > first && isSpace(text[last - 1])) --last;
    CoreAnsx trimmed;
    trimmed.start(text + first, 0, static_cast<int>(last - first) + 1);
    return trimmed;
}

CoreAnsx CoreAnsx::UpperCase() const {
    CoreAnsx upper(*this);
    for (int i = 0; i < upper.length - 1; ++i)
        if (upper.buffer[i] >= 'a' && upper.buffer[i] <= 'z')
            upper.buffer[i] = static_cast<char>(upper.buffer[i] - 'a' + 'A');
    return upper;
}

CoreAnsx CoreAnsx::LowerCase() const {
    CoreAnsx lower(*this);
    for (int i = 0; i < lower.length - 1; ++i)
        if (lower.buffer[i] >= 'A' && lower.buffer[i] <= 'Z')
            lower.buffer[i] = static_cast<char>(lower.buffer[i] - 'A' + 'a');
    return lower;
}

int CoreAnsx::ToInt() const {
    char const* p = c_str();
    while (isSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    // Saturate instead of wrapping: an overlong number in a file must not
    // turn into a small or negative count.
    long long const ceiling = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > ceiling) value = ceiling;
    }
    return static_cast<int>(negative ? -value : value);
}

double CoreAnsx::ToDouble() const {
    locale_t const c = cLocale();
    return c ? strtod_l(c_str(), nullptr, c) : std::strtod(c_str(), nullptr);
}

bool CoreAnsx::operator==(CoreAnsx const& other) const {
    return std::strcmp(c_str(), other.c_str()) == 0;
}
bool CoreAnsx::operator!=(CoreAnsx const& other) const {
    return std::strcmp(c_str(), other.c_str()) != 0;
}
bool CoreAnsx::operator<(CoreAnsx const& other) const {
    return std::strcmp(c_str(), other.c_str()) < 0;
}
bool CoreAnsx::operator<=(CoreAnsx const& other) const {
    return std::strcmp(c_str(), other.c_str()) < 1;
}
bool CoreAnsx::operator>(CoreAnsx const& other) const {
    return std::strcmp(c_str(), other.c_str()) > 0;
}
bool CoreAnsx::operator>=(CoreAnsx const& other) const {
    return std::strcmp(c_str(), other.c_str()) >= 0;
}

void CoreAnsx::formatDouble(char const* format, double value) {
    if (!format) format = emptyText;
    CLocaleScope cScope;
    char local[128];
    int const needed = std::snprintf(local, sizeof(local), format, value);
    if (needed < 0) {
        start(emptyText, 0, -1);
        return;
    }
    if (needed < static_cast<int>(sizeof(local))) {
        start(local, 0, -1);
        return;
    }
    // Long results (a "%.16f" of 1e300 is over 300 characters) are written
    // straight into our own block, grown to fit.
    reserveBytes(static_cast<long long>(needed) + 1);
    std::snprintf(buffer, static_cast<std::size_t>(needed) + 1, format, value);
    length = needed + 1;
}

CoreAnsx& CoreAnsx::sprintf(char const* format, double value) {
    formatDouble(format, value);
    return *this;
}

CoreAnsx CoreAnsx::_FloatToStrF(double value, int, int, int digits) {
    digits = std::clamp(digits, 0, maxFixedDigits);
    char format[16] = "%.";
    auto result = std::to_chars(format + 2, format + sizeof(format) - 2, digits);
    result.ptr[0] = 'f';
    result.ptr[1] = 0;
    CoreAnsx text;
    text.formatDouble(format, value);
    return text;
}
