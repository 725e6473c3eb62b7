#pragma once
// Whole files as byte strings, for tests that write their own input files and
// read back what the code under test wrote. Test thread only.

#include <string>

// The whole file's bytes; "" when it cannot be opened.
std::string readBytes(std::string const& path);

// Replaces the file with exactly these bytes.
void writeBytes(std::string const& path, std::string const& bytes);

// Bytes this process has read so far, through any call and thread (rchar of
// /proc/self/io); -1 when the system does not say.
long long bytesRead();

// What tells a file was left as it was: its size, inode and modification
// time (seconds, nanoseconds). A failed stat fails the calling test.
struct FileIdentity {
    long long size = 0, inode = 0, seconds = 0, nanoseconds = 0;
    bool operator==(FileIdentity const&) const = default;
};
FileIdentity identity(std::string const& path);
