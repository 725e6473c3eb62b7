#include "platform/PlatFile.h"

#include <filesystem>
#include <system_error>

int PlatFile::copyfile(char const* source, char const* destination) {
    if (source == nullptr || destination == nullptr) return -1;
    std::error_code error;
    // copy_file refuses a destination equivalent to the source, so a file is
    // never truncated by copying it onto itself.
    bool copied = std::filesystem::copy_file(
        source, destination, std::filesystem::copy_options::overwrite_existing, error);
    return (copied && !error) ? 0 : -1;
}
