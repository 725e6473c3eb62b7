#include "runtime/CoreVutl.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<int> reallocFailures{0}; // attempts still to fail (test hook)

constexpr int reallAttempts = 10;
// Room for the 8-byte raw pointer below a 16-byte aligned address: the
// address ((raw + 8) & ~15) + 16 lies 9..24 bytes above raw.
constexpr std::size_t alignedOverhead = 24;

bool injectedFailure() {
    int left = reallocFailures.load(std::memory_order_relaxed);
    while (left > 0) {
        if (reallocFailures.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
            return true;
    }
    return false;
}
} // namespace

void* CoreVutl::reall(void* block, int size) {
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    if (size < 0) return nullptr;
    for (int attempt = 0; attempt < reallAttempts; ++attempt) {
        if (injectedFailure()) continue;
        void* grown = std::realloc(block, static_cast<std::size_t>(size));
        if (grown) return grown;
    }
    return nullptr;
}

void* CoreVutl::mllc8(int n) {
    if (n < 0) return nullptr;
    void* raw = std::malloc(static_cast<std::size_t>(n) + alignedOverhead);
    if (!raw) return nullptr;
    std::uintptr_t address =
        ((reinterpret_cast<std::uintptr_t>(raw) + 8) & ~std::uintptr_t(15)) + 16;
    void* aligned = reinterpret_cast<void*>(address);
    std::memcpy(static_cast<char*>(aligned) - sizeof(void*), &raw, sizeof(void*));
    return aligned;
}

void CoreVutl::free8(void* p) {
    if (!p) return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<char*>(p) - sizeof(void*), sizeof(void*));
    std::free(raw);
}

void* CoreVutl::getmp(void* p) {
    std::uintptr_t address = (reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t(15)) + 16;
    return reinterpret_cast<void*>(address);
}

namespace {
void copyPart(char* out, char const* from, std::size_t count) {
    if (!out) return;
    std::memcpy(out, from, count);
    out[count] = 0;
}
} // namespace

void CoreVutl::fnspl(char const* path, char* drive, char* folder, char* name, char* extension) {
    if (!path) path = "";
    std::size_t const len = std::strlen(path);
    char const* colon = std::strchr(path, ':');
    std::size_t const d = colon ? static_cast<std::size_t>(colon - path) + 1 : 0;

    // The extension scan deliberately runs through separators: callers pass
    // names whose folders hold no dots, and files rely on this split.
    std::size_t extStart = len;
    for (std::size_t i = len; i > d + 1;) {
        --i;
        if (path[i] == '.') {
            extStart = i;
            break;
        }
    }
    // The character right after the drive never ends the folder.
    std::size_t nameStart = d;
    bool haveFolder = false;
    for (std::size_t j = extStart; j > d + 1;) {
        --j;
        if (path[j] == '/' || path[j] == '\\') {
            nameStart = j + 1;
            haveFolder = true;
            break;
        }
    }
    copyPart(drive, path, d);
    copyPart(folder, path + d, haveFolder ? nameStart - d : 0);
    copyPart(name, path + nameStart, extStart - nameStart);
    copyPart(extension, path + extStart, len - extStart);
}

void CoreVutl::getvi(char const*, int, int, unsigned long* version, int, int, int, int) {
    if (version) *version = 0;
}

int CoreVutl::idmmy() { return 0; }

double CoreVutl::ddmmy() { return 0.0; }

void CoreVutl::pdmmy() {}

void CoreVutl::failNextReallocs(int n) {
    reallocFailures.store(n > 0 ? n : 0, std::memory_order_relaxed);
}
