#include "orba/au/sys.h"

#include <cstring>

#include "orba/au/abi_check.h"
#include "orba/core/unicode.h"

namespace orba::au::sys {
namespace {

// Well-formed UTF-8 of `text`, one U+FFFD per maximal ill-formed subsequence.
std::string well_formed(std::string_view text) {
    if (unicode::is_valid_utf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (char32_t c : unicode::to_utf32(text)) {
        unicode::append_utf8(out, c);
    }
    return out;
}

}  // namespace

std::optional<std::string> string_from_cf(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
    char buffer[1024] = {};
    if (!CFStringGetCString(static_cast<CFStringRef>(value), buffer, sizeof buffer,
                            kCFStringEncodingUTF8)) {
        return std::nullopt;
    }
    const void* end = std::memchr(buffer, 0, sizeof buffer);
    return well_formed(std::string_view(buffer, static_cast<const char*>(end) - buffer));
}

CFStringRef cf_string(std::string_view utf8) {
    const std::string text = well_formed(utf8);
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

}  // namespace orba::au::sys
