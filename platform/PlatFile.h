#pragma once
// PlatFile: whole-file copy with data and permission bits, standing in for
// the platform copy call this system was designed against. Extended
// attributes and access lists are not carried over on this platform.
// It also keeps the process's file-size limit (RLIMIT_FSIZE) from ending
// the host: a write that starts at the limit raises SIGXFSZ, whose default
// action ends the process, and the host's choice of that action is never
// changed here.
// Owner: nobody; static only.
// Threads: control or display thread, may block (file I/O).

#include <csignal>

class PlatFile {
public:
    PlatFile() = delete;

    // Bytes a file may still grow to past offset before the file-size
    // limit (the soft one, as the process has it now): 0 at or past it, -1
    // when there is none.
    static long long roomBefore(long long offset);

    // Holds SIGXFSZ off the calling thread for its scope, so a write past
    // the file-size limit fails with EFBIG and ends nothing. The signal such
    // a write raised on this thread is taken back when the scope ends; one
    // pending already when it began is left for whoever raised it. The
    // thread's mask is put back as it was; no disposition is touched.
    // Stack only, on the thread that writes.
    class SizeHold {
    public:
        SizeHold();
        ~SizeHold();
        SizeHold(SizeHold const&) = delete;
        SizeHold& operator=(SizeHold const&) = delete;

    private:
        sigset_t previous{};        // the thread's mask before the scope
        bool held = false;          // the mask was changed, so is put back
        bool pendingBefore = false; // SIGXFSZ pending when the scope began: not ours to take
    };

    // Copies the data and permission bits of the regular file source into
    // the open file destination (a descriptor), writing from its current
    // position; the caller makes and replaces the destination file. 0 when
    // every byte went out, -1 otherwise (missing or irregular source, a read
    // or write error such as a full disk or the file-size limit, which the
    // copy stops before with EFBIG, a source that changed size meanwhile).
    static int copyfile(char const* source, int destination);
};
