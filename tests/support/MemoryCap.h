#pragma once
// Runs a check in a child process in which no allocation may pass 100 MB, so
// a test can show that hostile input is refused before memory is taken,
// and fails instead of exhausting the machine when it is not. Under
// AddressSanitizer (which reserves far more address space than any limit
// could leave) its allocator refuses the block, for the whole test program,
// through the defaults set in MemoryCap.cpp, which the linker takes only for a
// test that calls underMemoryCap; elsewhere the child's address space is
// limited to what it holds plus 100 MB, and an allocation refused there fails
// the check. Test thread only.

#include <functional>

// True when body answered true in the child and the child ended normally.
bool underMemoryCap(std::function<bool()> const& body);
