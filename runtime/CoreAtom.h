#pragma once
// Atomic increment and decrement of a plain 32-bit counter: the one primitive
// under the spin lock CoreSmph. Each is a single locked add on the processor
// and a full barrier, so a lock taken with them orders the guarded data.
// Owner: nobody; free functions on storage the caller owns.
// Threads: any thread, the audio thread included (no allocation, no file or
// log I/O, no blocking lock).

// Adds 1 to *value atomically; returns the new value.
inline int ininc(int* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }

// Adds -1 to *value atomically; returns the new value.
inline int indec(int* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
