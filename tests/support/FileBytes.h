#pragma once
// Whole files as byte strings, for tests that write their own input files and
// read back what the code under test wrote. Test thread only.

#include <string>

// The whole file's bytes; "" when it cannot be opened.
std::string readBytes(std::string const& path);

// Replaces the file with exactly these bytes.
void writeBytes(std::string const& path, std::string const& bytes);
