#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orba::render {

// File names go in and out of clap-render as UTF-8 text. A path made from a
// plain string would take the bytes in the system's narrow encoding, which on
// Windows is not UTF-8 even when the process's code page is.
inline std::filesystem::path file_path(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string path_text(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

}  // namespace orba::render
