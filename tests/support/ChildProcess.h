#pragma once
// Runs a check in a child process of its own, so that what it does to the process (a limit, a
// signal's action, an end by a signal) stays there. Test thread only.

#include <functional>

// True when body answered true in a child process and the child ended normally, not by a signal.
bool inChild(std::function<bool()> const& body);

// inChild with SIGXFSZ at its default action, so that a write that starts at a file-size limit the
// body sets (a soft RLIMIT_FSIZE) ends the child. The soft limit is raised back to the hard one
// before the child ends: the coverage build writes its counts then.
bool underFileSizeLimit(std::function<bool()> const& body);
