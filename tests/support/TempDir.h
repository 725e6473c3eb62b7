#pragma once
// A fresh folder under the system's temporary folder for one test or fixture,
// removed with everything in it (read-only entries too) when the object goes.
// Test thread only.

#include <string>

class TempDir {
public:
    // Makes "<tmp>/<stem>XXXXXX"; throws std::runtime_error when it cannot.
    explicit TempDir(char const* stem = "vorlantest");
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;
    TempDir(TempDir&&) = delete;
    TempDir& operator=(TempDir&&) = delete;

    std::string const& path() const { return path_; }  // the folder, no trailing "/"
    std::string folder() const { return path_ + "/"; } // the folder with a trailing "/"
    std::string file(std::string const& name) const {
        return path_ + "/" + name;
    } // a path inside it

private:
    std::string path_; // absolute path of the folder made
};
