#pragma once

#include <string>

namespace orba {

// A shared library loaded at run time, the way a host loads a plug-in: the
// one place that knows how each system does it (dlopen on POSIX systems,
// LoadLibraryW on Windows). Hosts, tools and tests load .clap files and
// Audio Unit binaries through it; plug-ins never do.
class SharedLibrary {
  public:
    // Loads the file at `path`, given in UTF-8. A path without a folder names
    // the file of that name in the current folder, never one searched for on
    // the system's library path.
    explicit SharedLibrary(const std::string& path);
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    ~SharedLibrary();

    bool loaded() const { return handle_ != nullptr; }
    // Why the library did not load, in the system's words; empty if it did.
    const std::string& error() const { return error_; }
    // The address of the exported symbol `name`, or null if there is none.
    void* symbol(const char* name) const;

  private:
    void close() noexcept;

    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace orba
