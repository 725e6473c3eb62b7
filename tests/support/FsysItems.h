#pragma once
// Item-store shortcuts for tests: put bytes in as a new in-memory item, and
// take an item's bytes out as a string. Test thread only.

#include <string>

class CoreFsys;

// Creates the item name (replacing one of that name) holding these bytes; its id.
int putItem(CoreFsys& fs, char const* name, std::string const& bytes);

// The bytes item id holds in memory; "" when it holds none.
std::string heldItem(CoreFsys& fs, int id);
