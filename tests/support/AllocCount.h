#pragma once
// Counts calls of the global allocator, to show that a per-block path
// allocates nothing. The counting operator new lives in AllocCount.cpp, which
// the linker takes from the support library only for a test that names
// something in it: calling allocationCount() is what brings it in. (Sanitizer
// builds define operator new ahead of the library, so there no other test
// gets it; in a plain build any test may, and then it only counts.)
// Any thread may allocate; the count is atomic.

// Every plain, array and nothrow operator new so far in this program.
long allocationCount();
