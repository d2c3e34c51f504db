#include "orba/core/charconv.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
#include <version>

namespace orba {
namespace {

using std::chars_format;

// Weighted toward what conversions get wrong: subnormals, neighbours of powers
// of ten, exact ties at two decimals (eighths), integers up to 2^64, the
// largest magnitudes, NaN and infinity.
std::uint32_t float_bits(std::mt19937_64& random) {
    const std::uint64_t r = random();
    const auto low = static_cast<std::uint32_t>(r);
    const std::uint32_t sign = static_cast<std::uint32_t>(r >> 32) & 0x80000000u;
    const auto near = [&](double x) {
        return sign | (std::bit_cast<std::uint32_t>(static_cast<float>(x)) + (low >> 30) - 2);
    };
    const std::uint32_t picks[] = {
        low & 0x807FFFFFu,
        near(std::pow(10.0, static_cast<int>(low % 84) - 45)),
        sign | std::bit_cast<std::uint32_t>((low % 800000 * 2 + 1) / 8.0f),
        near(std::ldexp(low >> 8, static_cast<int>(r >> 40) % 41)),
        sign | (low & 0x7FFFFFu) | (low % 2 ? 0xFEu : 0x01u) << 23,
        sign | 0x7F800000u | (low % 2 ? low & 0x7FFFFFu : 0),
        low,
        low};
    return picks[r >> 61];
}

// Also doubles of floats, which the parameter display writes.
std::uint64_t double_bits(std::mt19937_64& random) {
    const std::uint64_t r = random();
    const std::uint64_t sign = r & 1ull << 63;
    const double picks[] = {std::pow(10.0, static_cast<int>(r >> 8 & 1023) % 633 - 324),
                            std::ldexp(static_cast<double>(r >> 11), static_cast<int>(r >> 3 & 15)),
                            std::bit_cast<float>(float_bits(random))};
    if (r % 5 > 2) return r % 5 == 3 ? r & 0x800FFFFFFFFFFFFFull : r;
    return sign ^ std::bit_cast<std::uint64_t>(picks[r % 5]);
}

std::string number(std::uint64_t n, int base = 16) {
    char text[24];
    return std::string(text, std::to_chars(text, text + sizeof text, n, base).ptr);
}

struct Written {
    char text[1300];
    std::size_t size = 0;
    std::string_view view() const { return {text, size}; }
};

// On any standard library.
TEST(NumberText, ShortestTextsReadBackBitForBit) {
    std::mt19937_64 random(31);
    char text[400];
    const auto reads_back = [&text](auto value, auto... format) {
        const char* end = orba::to_chars(text, text + sizeof text, value, format...).ptr;
        decltype(value) read{};
        return orba::from_chars(text, end, read).ptr == end &&
               (value != value ? read != read : std::memcmp(&read, &value, sizeof read) == 0);
    };
    for (int i = 0; i < 200000; ++i) {
        const float f = std::bit_cast<float>(float_bits(random));
        const double d = std::bit_cast<double>(double_bits(random));
        ASSERT_TRUE(reads_back(f) && reads_back(f, chars_format::scientific) && reads_back(d) &&
                    reads_back(d, chars_format::general))
            << number(std::bit_cast<std::uint32_t>(f)) << ' '
            << number(std::bit_cast<std::uint64_t>(d));
    }
}

#if defined(__cpp_lib_to_chars)

// Whether our text is the standard library's in a buffer of `room`: the same
// text, or the same error at the same place.
template <class T>
bool same_text(Written& ours, std::size_t room, T value, auto... format) {
    char theirs[sizeof ours.text];
    const auto a = orba::to_chars(ours.text, ours.text + room, value, format...);
    const auto b = std::to_chars(theirs, theirs + room, value, format...);
    ours.size = a.ec == std::errc{} ? static_cast<std::size_t>(a.ptr - ours.text) : 0;
    if (a.ec != b.ec || a.ptr - ours.text != b.ptr - theirs) return false;
    return a.ec != std::errc{} || ours.view() == std::string_view(theirs, b.ptr);
}

// The same characters taken, the same error, the same bits stored or the
// value left as it was.
template <class T>
bool same_reading(std::string_view text, chars_format format = chars_format::general) {
    T ours = 0.5, theirs = 0.5;
    const auto a = orba::from_chars(text.data(), text.data() + text.size(), ours, format);
    const auto b = std::from_chars(text.data(), text.data() + text.size(), theirs, format);
    return a.ptr == b.ptr && a.ec == b.ec && std::memcmp(&ours, &theirs, sizeof ours) == 0;
}

// One bit per form that differs: two decimals of the float's double (the
// parameter display), shortest scientific, plain shortest, and those two
// texts read back as a float.
unsigned differences(float f) {
    Written w;
    unsigned differ =
        same_text(w, sizeof w.text, static_cast<double>(f), chars_format::fixed, 2) ? 0 : 1;
    if (!same_text(w, sizeof w.text, f, chars_format::scientific)) differ |= 2;
    if (!same_reading<float>(w.view())) differ |= 8;
    if (!same_text(w, sizeof w.text, f)) differ |= 4;
    if (!same_reading<float>(w.view())) differ |= 8;
    return differ;
}

TEST(NumberText, WritesAndReadsAsTheStandardLibraryOnSampledValues) {
    std::mt19937_64 random(7);
    Written w;
    for (int i = 0; i < 100000; ++i) {
        const std::uint32_t bits = float_bits(random);
        const float f = std::bit_cast<float>(bits);
        const double d = std::bit_cast<double>(double_bits(random));
        ASSERT_EQ(differences(f), 0u) << number(bits);
        // Now and then a buffer too small or a precision past a double's
        // exact digits; a negative precision means 6.
        const std::size_t room = random() % 8 ? sizeof w.text : random() % 48;
        const int precision =
            static_cast<int>(random() % 256 ? random() % 25 : random() % 1200) - 1;
        for (chars_format format :
             {chars_format::scientific, chars_format::fixed, chars_format::general}) {
            ASSERT_TRUE(same_text(w, room, f, format) && same_reading<float>(w.view()) &&
                        same_reading<double>(w.view(), format) &&
                        same_text(w, room, f, format, precision) && same_text(w, room, d, format) &&
                        same_reading<double>(w.view()) && same_reading<float>(w.view(), format) &&
                        same_text(w, room, d, format, precision))
                << number(bits) << ' ' << number(std::bit_cast<std::uint64_t>(d)) << ' '
                << precision;
        }
        ASSERT_TRUE(same_text(w, room, d) && same_reading<double>(w.view())) << w.view();
    }
}

// clang-format off
constexpr const char* EDGE_TEXTS[] = {
    "+1", ".5", "5.", "1e", "1e+", "1e-400", "1e400", "-1e400", "nan", "nan(x)", "nan(x",
    "-NaN(a_1)", "inf", "infinity", "INFINITE", "-0", "-", "", ".e5", "1.e5", " 1", "0x1p3",
    "1e-99999999999999999999", "7e-46", "8e-46", "3.4028236e38", "2.4703282292062327e-324",
    "1.7976931348623159e308", "1.000000059604644775390625", "9007199254740993",
    "1.00000005960464477539062500000000000000000000000000001",
    "9007199254740993.000000000000000000001"};
// clang-format on

TEST(NumberText, ReadsMalformedAndExtremeTextsAsTheStandardLibrary) {
    std::vector<std::string> texts(std::begin(EDGE_TEXTS), std::end(EDGE_TEXTS));
    texts.push_back("0." + std::string(400, '0') + "1");
    texts.push_back(std::string(800, '9'));
    texts.push_back(std::string(500, '1') + "e-800");
    // And random strings of number characters.
    std::mt19937_64 random(11);
    constexpr std::string_view alphabet = "0123456789012345.eE+-naifytNI()x_";
    for (int i = 0; i < 100000; ++i) {
        std::string& text = texts.emplace_back(random() % 16, '0');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
    }
    for (const std::string& text : texts) {
        for (chars_format format :
             {chars_format::general, chars_format::fixed, chars_format::scientific}) {
            ASSERT_TRUE(same_reading<float>(text, format) && same_reading<double>(text, format))
                << text;
        }
    }
}

// All 2^32 patterns, a sign on each of two threads; half an hour in a release
// build on two busy cores: --gtest_also_run_disabled_tests --gtest_filter='*EveryFloat*'
TEST(NumberText, DISABLED_EveryFloatWritesAndReadsAsTheStandardLibrary) {
    std::uint64_t differ[2][4] = {};
    std::uint32_t example[2][4] = {};
    std::thread threads[2];
    for (std::uint32_t sign = 0; sign < 2; ++sign) {
        threads[sign] = std::thread([&differ, &example, sign] {
            for (std::uint32_t low = 0; low < 0x80000000u; ++low) {
                const std::uint32_t bits = sign << 31 | low;
                const unsigned d = differences(std::bit_cast<float>(bits));
                for (int form = 0; form < 4; ++form) {
                    if ((d >> form & 1) && differ[sign][form]++ == 0) example[sign][form] = bits;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    std::string report = "4294967296 float patterns, each in every form; differing:";
    const char* forms[] = {" fixed-2 ", ", scientific ", ", plain ", ", read back "};
    for (int form = 0; form < 4; ++form) {
        report += forms[form] + number(differ[0][form] + differ[1][form], 10);
        EXPECT_EQ(differ[0][form] + differ[1][form], 0u)
            << number(example[0][form]) << ' ' << number(example[1][form]);
    }
    std::puts(report.c_str());
}

#endif

}  // namespace
}  // namespace orba
