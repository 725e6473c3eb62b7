#pragma once
// PlatFile: whole-file copy with data and permission bits, standing in for
// the platform copy call this system was designed against. Extended
// attributes and access lists are not carried over on this platform.
// Owner: nobody; static only.
// Threads: control or display thread, may block (file I/O).

class PlatFile {
public:
    PlatFile() = delete;

    // Copies source to destination, replacing an existing destination.
    // 0 on success, -1 on failure (missing source, unwritable destination,
    // or both naming the same file, which is left untouched).
    static int copyfile(char const* source, char const* destination);
};
