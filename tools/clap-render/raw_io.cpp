#include "raw_io.h"

#include <fcntl.h>

#if defined(_WIN32)
#include <io.h>

#include <cstdio>
#endif

namespace orba::render {

#if defined(_WIN32)

void use_binary_standard_streams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

int open_existing_for_writing(const std::string& path) {
    return _open(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}

#else

void use_binary_standard_streams() {}

int open_existing_for_writing(const std::string& path) {
    // A terminal written to must not become the process's controlling one.
    return ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
}

#endif

}  // namespace orba::render
