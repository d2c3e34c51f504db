#pragma once

#include <string>

// The calls on raw files and the standard streams that differ between
// systems; the rest of clap-render uses the POSIX names every system here has.
namespace orba::render {

// Audio goes through standard input and output byte for byte. Windows opens
// them in text mode, which would turn every 0x0A into 0x0D 0x0A.
void use_binary_standard_streams();

// A descriptor for writing to the existing file, device or FIFO at `path`,
// without creating or truncating it, that no child process inherits; -1 and
// errno on failure.
int open_existing_for_writing(const std::string& path);

}  // namespace orba::render
