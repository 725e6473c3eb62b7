#pragma once
// PlatFile: whole-file copy with data and permission bits, standing in for
// the platform copy call this system was designed against. Extended
// attributes and access lists are not carried over on this platform.
// Owner: nobody; static only.
// Threads: control or display thread, may block (file I/O).

class PlatFile {
public:
    PlatFile() = delete;

    // Copies the data and permission bits of the regular file source into
    // the open file destination (a descriptor), writing from its current
    // position; the caller makes and replaces the destination file. 0 when
    // every byte went out, -1 otherwise (missing or irregular source, a read
    // or write error such as a full disk, a source that changed size meanwhile).
    static int copyfile(char const* source, int destination);
};
