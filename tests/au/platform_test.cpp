#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "orba/au/sys.h"
#include "tests/clap/host.h"

// The stand-in system libraries off macOS: they must behave as the real ones
// wherever the wrapper could tell the difference.
namespace orba::test {
namespace {

using au::sys::cf_string;
using au::sys::string_from_cf;

CFStringRef utf8(const std::string& text) {
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

CFNumberRef number(CFNumberType type, long double v) {
    union {
        std::int8_t i8;
        std::int16_t i16;
        std::int32_t i32;
        std::int64_t i64;
        float f32;
        double f64;
    } in{};
    switch (type) {
        case kCFNumberSInt8Type:
            in.i8 = static_cast<std::int8_t>(v);
            break;
        case kCFNumberSInt16Type:
            in.i16 = static_cast<std::int16_t>(v);
            break;
        case kCFNumberSInt32Type:
            in.i32 = static_cast<std::int32_t>(v);
            break;
        case kCFNumberSInt64Type:
            in.i64 = static_cast<std::int64_t>(v);
            break;
        case kCFNumberFloat32Type:
            in.f32 = static_cast<float>(v);
            break;
        default:
            in.f64 = static_cast<double>(v);
            break;
    }
    return CFNumberCreate(nullptr, type, &in);
}

// What CFNumberGetValue reports and stores for `type`, widened exactly.
std::pair<bool, long double> read(CFNumberRef n, CFNumberType type) {
    unsigned char out[8] = {};
    const bool ok = CFNumberGetValue(n, type, out);
    auto as = [&out]<class T>(T) {
        T v;
        std::memcpy(&v, out, sizeof v);
        return static_cast<long double>(v);
    };
    switch (type) {
        case kCFNumberSInt8Type:
            return {ok, as(std::int8_t{})};
        case kCFNumberSInt16Type:
            return {ok, as(std::int16_t{})};
        case kCFNumberSInt32Type:
            return {ok, as(std::int32_t{})};
        case kCFNumberSInt64Type:
            return {ok, as(std::int64_t{})};
        case kCFNumberFloat32Type:
            return {ok, as(float{})};
        default:
            return {ok, as(double{})};
    }
}

TEST(CoreFoundation, ObjectsStartWithOneReferenceAndCountTheirRetains) {
    CFStringRef s = utf8("text");
    CFNumberRef n = number(kCFNumberSInt32Type, 7);
    const UInt8 bytes[] = {1, 2};
    CFDataRef d = CFDataCreate(nullptr, bytes, 2);
    const void* values[] = {s};
    CFArrayRef a = CFArrayCreate(nullptr, values, 1, &kCFTypeArrayCallBacks);
    CFMutableDictionaryRef m = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    const struct {
        CFTypeRef object;
        CFTypeID type;
    } cases[] = {{s, CFStringGetTypeID()},
                 {n, CFNumberGetTypeID()},
                 {d, CFDataGetTypeID()},
                 {a, CFArrayGetTypeID()},
                 {m, CFDictionaryGetTypeID()}};
    for (const auto& c : cases) {
        EXPECT_EQ(CFGetTypeID(c.object), c.type);
        EXPECT_EQ(CFGetRetainCount(c.object), c.object == s ? 2 : 1) << "the array holds s";
        EXPECT_EQ(CFRetain(c.object), c.object);
        EXPECT_EQ(CFGetRetainCount(c.object), c.object == s ? 3 : 2);
        CFRelease(c.object);
    }
    for (const auto& c : cases) {
        CFRelease(c.object);
    }
}

TEST(CoreFoundation, TypeContainersRetainWhatTheyHoldAndReleaseItWhenReplacedOrFreed) {
    CFStringRef key = utf8("gain");
    CFStringRef same_key = CFSTR("gain");
    CFNumberRef first = number(kCFNumberSInt32Type, 1);
    CFNumberRef second = number(kCFNumberFloat64Type, 2.5);
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(dict, key, first);
    EXPECT_EQ(CFGetRetainCount(key), 2);
    EXPECT_EQ(CFGetRetainCount(first), 2);
    const CFIndex constant_count = CFGetRetainCount(same_key);

    CFDictionarySetValue(dict, same_key, second);
    EXPECT_EQ(CFDictionaryGetCount(dict), 1);
    EXPECT_EQ(CFGetRetainCount(first), 1) << "the replaced value is released";
    EXPECT_EQ(CFGetRetainCount(second), 2);
    EXPECT_EQ(CFGetRetainCount(same_key), constant_count) << "an equal key is not added";
    CFDictionarySetValue(dict, key, second);
    EXPECT_EQ(CFGetRetainCount(second), 2) << "setting the same value again";

    const void* values[] = {first, second, first};
    CFArrayRef array = CFArrayCreate(nullptr, values, 3, &kCFTypeArrayCallBacks);
    EXPECT_EQ(CFGetRetainCount(first), 3);
    EXPECT_EQ(CFArrayGetCount(array), 3);
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 1), second);

    CFRelease(array);
    CFRelease(dict);
    for (CFTypeRef held : {CFTypeRef{key}, CFTypeRef{first}, CFTypeRef{second}}) {
        EXPECT_EQ(CFGetRetainCount(held), 1);
        CFRelease(held);
    }
}

TEST(CoreFoundation, TypeKeysMatchByValueAndPlainKeysByIdentity) {
    const UInt8 bytes[] = {0, 1, 2};
    const UInt8 other_bytes[] = {0, 1, 3};
    const struct {
        const char* what;
        CFTypeRef stored;
        CFTypeRef looked_up;
        bool found;
    } cases[] = {
        {"created and constant strings", utf8("name"), CFRetain(CFSTR("name")), true},
        {"strings differing in case", utf8("name"), utf8("Name"), false},
        {"32- and 64-bit integers", number(kCFNumberSInt32Type, 42),
         number(kCFNumberSInt64Type, 42), true},
        {"an integer and a whole double", number(kCFNumberSInt8Type, -3),
         number(kCFNumberFloat64Type, -3.0), true},
        {"an integer and a fraction", number(kCFNumberSInt32Type, 2),
         number(kCFNumberFloat32Type, 2.5), false},
        {"equal bytes", CFDataCreate(nullptr, bytes, 3), CFDataCreate(nullptr, bytes, 3), true},
        {"different bytes", CFDataCreate(nullptr, bytes, 3), CFDataCreate(nullptr, other_bytes, 3),
         false},
        {"a string and data", utf8("abc"),
         CFDataCreate(nullptr, reinterpret_cast<const UInt8*>("abc"), 3), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CFEqual(c.stored, c.looked_up), c.found);
        if (c.found) {
            EXPECT_EQ(CFHash(c.stored), CFHash(c.looked_up));
        }
        CFMutableDictionaryRef typed = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        CFMutableDictionaryRef plain = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
        for (CFMutableDictionaryRef dict : {typed, plain}) {
            CFDictionarySetValue(dict, c.stored, CFSTR("value"));
        }
        const void* value = nullptr;
        EXPECT_EQ(CFDictionaryGetValueIfPresent(typed, c.looked_up, &value), c.found);
        EXPECT_EQ(value, c.found ? CFSTR("value") : nullptr);
        EXPECT_EQ(CFDictionaryGetValue(plain, c.looked_up), nullptr);
        EXPECT_EQ(CFDictionaryGetValue(plain, c.stored), CFSTR("value"));
        EXPECT_EQ(CFGetRetainCount(c.stored), 2);
        CFRelease(typed);
        CFRelease(plain);
        EXPECT_EQ(CFGetRetainCount(c.stored), 1);
        CFRelease(c.stored);
        CFRelease(c.looked_up);
    }
}

// Random insertions into a dictionary, against std::map: every key is a
// fresh object, so only value equality can find an earlier entry.
TEST(CoreFoundation, ADictionaryKeepsOneValuePerEqualKeyLikeAMap) {
    std::mt19937 random(20240611);
    std::map<int, int> model;
    std::vector<CFTypeRef> values;
    CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
        nullptr, 4, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    auto key = [&random](int k) -> CFTypeRef {
        switch (random() % 3) {
            case 0:
                return number(kCFNumberSInt16Type, k);
            case 1:
                return number(kCFNumberFloat64Type, k);
            default:
                return cf_string(std::to_string(k));
        }
    };
    for (int step = 0; step < 400; ++step) {
        const int k = static_cast<int>(random() % 12);
        const int v = step;
        CFTypeRef new_key = key(k);
        CFNumberRef value = number(kCFNumberSInt32Type, v);
        // Numbers and strings are different keys: keep them apart in the
        // model by the key's type.
        const int model_key = CFGetTypeID(new_key) == CFStringGetTypeID() ? k + 100 : k;
        CFDictionarySetValue(dict, new_key, value);
        model[model_key] = v;
        CFRelease(new_key);
        values.push_back(CFRetain(value));
        CFRelease(value);

        ASSERT_EQ(CFDictionaryGetCount(dict), static_cast<CFIndex>(model.size()));
        for (const auto& [mk, mv] : model) {
            CFTypeRef probe = mk >= 100 ? CFTypeRef{cf_string(std::to_string(mk - 100))}
                                        : CFTypeRef{number(kCFNumberSInt64Type, mk)};
            const auto found = static_cast<CFNumberRef>(CFDictionaryGetValue(dict, probe));
            ASSERT_NE(found, nullptr) << mk;
            EXPECT_EQ(read(found, kCFNumberSInt32Type).second, mv);
            CFRelease(probe);
        }
    }
    std::size_t held = 0;
    for (CFTypeRef v : values) {
        held += CFGetRetainCount(v) == 2 ? 1 : 0;
    }
    EXPECT_EQ(held, model.size()) << "only the current values are held";
    CFRelease(dict);
    for (CFTypeRef v : values) {
        EXPECT_EQ(CFGetRetainCount(v), 1);
        CFRelease(v);
    }
}

TEST(CoreFoundation, StringsAcceptOnlyValidTextAndCountUtf16Units) {
    const struct {
        std::string bytes;
        CFStringEncoding encoding;
        CFIndex length;  // -1: refused
    } cases[] = {
        {"", kCFStringEncodingUTF8, 0},
        {"Delay", kCFStringEncodingASCII, 5},
        {"caf\xC3\xA9", kCFStringEncodingUTF8, 4},
        {"caf\xC3\xA9", kCFStringEncodingASCII, -1},
        {"\xE2\x82\xAC 5", kCFStringEncodingUTF8, 3},
        {"\xF0\x9F\x8E\xB9", kCFStringEncodingUTF8, 2},
        {std::string("a\0b", 3), kCFStringEncodingUTF8, 3},
        {"\xC3\x28", kCFStringEncodingUTF8, -1},
        {"\xC0\xAF", kCFStringEncodingUTF8, -1},
        {"\xED\xA0\x80", kCFStringEncodingUTF8, -1},
        {"\xF4\x90\x80\x80", kCFStringEncodingUTF8, -1},
        {"\xE2\x82", kCFStringEncodingUTF8, -1},
        {"Delay", kCFStringEncodingMacRoman, -1},
        {"Delay", kCFStringEncodingUTF16, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes) + " in " + std::to_string(c.encoding));
        CFStringRef s =
            CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(c.bytes.data()),
                                    static_cast<CFIndex>(c.bytes.size()), c.encoding, false);
        ASSERT_EQ(s != nullptr, c.length >= 0);
        if (s == nullptr) continue;
        EXPECT_EQ(CFStringGetLength(s), c.length);
        CFRelease(s);
        if (c.bytes.find('\0') == std::string::npos) {
            CFStringRef from_c = CFStringCreateWithCString(nullptr, c.bytes.c_str(), c.encoding);
            ASSERT_NE(from_c, nullptr);
            EXPECT_EQ(CFStringGetLength(from_c), c.length);
            CFRelease(from_c);
        }
    }
}

TEST(CoreFoundation, GetCStringNeedsRoomForTheTerminatorAndAnEncodingThatFits) {
    CFStringRef accented = utf8("h\xC3\xA9llo");
    CFStringRef plain = CFSTR("hello");
    const struct {
        CFStringRef string;
        CFIndex size;
        CFStringEncoding encoding;
        bool ok;
    } cases[] = {
        {accented, 7, kCFStringEncodingUTF8, true},    {accented, 6, kCFStringEncodingUTF8, false},
        {accented, 64, kCFStringEncodingASCII, false}, {plain, 6, kCFStringEncodingASCII, true},
        {plain, 5, kCFStringEncodingASCII, false},     {plain, 0, kCFStringEncodingUTF8, false},
        {plain, 64, kCFStringEncodingUTF16, false},
    };
    for (const auto& c : cases) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(CFStringGetCString(c.string, buffer, c.size, c.encoding), c.ok) << c.size;
        if (c.ok) {
            EXPECT_EQ(std::strlen(buffer) + 1, static_cast<std::size_t>(c.size));
        }
    }
    EXPECT_GE(CFStringGetMaximumSizeForEncoding(CFStringGetLength(accented), kCFStringEncodingUTF8),
              6);
    CFRelease(accented);
}

TEST(CoreFoundation, NumbersConvertExactlyOrSayTheyDidNot) {
    const long double two_31 = 2147483648.0L;
    const long double two_53 = 9007199254740992.0L;
    const long double nan = std::numeric_limits<long double>::quiet_NaN();
    const struct {
        CFNumberType from;
        long double value;
        CFNumberType to;
        bool exact;
        long double stored;
    } cases[] = {
        {kCFNumberSInt32Type, -7, kCFNumberSInt64Type, true, -7},
        {kCFNumberSInt64Type, two_31 - 1, kCFNumberSInt32Type, true, two_31 - 1},
        {kCFNumberSInt64Type, two_31, kCFNumberSInt32Type, false, two_31 - 1},
        {kCFNumberSInt64Type, -two_31 - 1, kCFNumberSInt32Type, false, -two_31},
        {kCFNumberSInt16Type, 300, kCFNumberSInt8Type, false, 127},
        {kCFNumberSInt64Type, two_53, kCFNumberFloat64Type, true, two_53},
        {kCFNumberSInt64Type, two_53 + 1, kCFNumberFloat64Type, false, two_53},
        {kCFNumberSInt32Type, 16777217, kCFNumberFloat32Type, false, 16777216},
        {kCFNumberFloat64Type, 2.5, kCFNumberSInt32Type, false, 2},
        {kCFNumberFloat64Type, -2.5, kCFNumberSInt32Type, false, -2},
        {kCFNumberFloat64Type, 3.0, kCFNumberSInt8Type, true, 3},
        {kCFNumberFloat64Type, 1e10, kCFNumberSInt32Type, false, two_31 - 1},
        {kCFNumberFloat64Type, -1e300, kCFNumberSInt64Type, false, -two_31 * two_31 * 2},
        {kCFNumberFloat64Type, nan, kCFNumberSInt32Type, false, 0},
        {kCFNumberFloat64Type, 0.5, kCFNumberFloat32Type, true, 0.5},
        {kCFNumberFloat64Type, 0.1, kCFNumberFloat32Type, false, 0.1f},
        {kCFNumberFloat64Type, 1e300, kCFNumberFloat32Type, false,
         std::numeric_limits<float>::infinity()},
        {kCFNumberFloat64Type, 3.4028235e38, kCFNumberFloat32Type, false,
         std::numeric_limits<float>::max()},
        {kCFNumberFloat32Type, 0.1f, kCFNumberFloat64Type, true, 0.1f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " from type " << c.from << " to " << c.to);
        CFNumberRef n = number(c.from, c.value);
        ASSERT_NE(n, nullptr);
        const auto [exact, stored] = read(n, c.to);
        EXPECT_EQ(exact, c.exact);
        if (std::isnan(c.stored)) {
            EXPECT_TRUE(std::isnan(stored));
        } else {
            EXPECT_EQ(stored, c.stored);
        }
        CFRelease(n);
    }
    const int one = 1;
    EXPECT_EQ(CFNumberCreate(nullptr, static_cast<CFNumberType>(0), &one), nullptr);
    EXPECT_EQ(CFNumberCreate(nullptr, static_cast<CFNumberType>(17), &one), nullptr);
}

// Buffers are exactly the type's size, so a sanitized build also sees reads
// past them.
TEST(CoreFoundation, EveryNumberTypeReadsAndWritesOnlyItsOwnSize) {
    const struct {
        std::size_t size;
        bool real;
    } types[] = {{1, false}, {2, false}, {4, false}, {8, false}, {4, true},  {8, true},
                 {1, false}, {2, false}, {4, false}, {8, false}, {8, false}, {4, true},
                 {8, true},  {8, false}, {8, false}, {8, true}};
    auto hundred = [](std::size_t size, bool real) {
        std::vector<unsigned char> bytes(size, 0);
        const float f = 100.0f;
        const double d = 100.0;
        if (!real) bytes[0] = 100;
        if (real) std::memcpy(bytes.data(), size == 4 ? static_cast<const void*>(&f) : &d, size);
        return bytes;
    };
    for (CFIndex from = 1; from <= 16; ++from) {
        const auto& in = types[from - 1];
        const std::vector<unsigned char> bytes = hundred(in.size, in.real);
        CFNumberRef n = CFNumberCreate(nullptr, static_cast<CFNumberType>(from), bytes.data());
        ASSERT_NE(n, nullptr) << from;
        for (CFIndex to = 1; to <= 16; ++to) {
            const auto& out = types[to - 1];
            std::vector<unsigned char> got(out.size + 8, 0xAA);
            EXPECT_TRUE(CFNumberGetValue(n, static_cast<CFNumberType>(to), got.data()));
            std::vector<unsigned char> expected = hundred(out.size, out.real);
            expected.resize(out.size + 8, 0xAA);
            EXPECT_EQ(got, expected) << "type " << from << " read as " << to;
        }
        CFRelease(n);
    }
}

TEST(CoreFoundation, DataKeepsItsOwnCopyOfTheBytes) {
    std::vector<UInt8> bytes = {1, 2, 3, 4};
    CFDataRef data = CFDataCreate(nullptr, bytes.data(), 4);
    bytes.assign(4, 9);
    ASSERT_EQ(CFDataGetLength(data), 4);
    EXPECT_NE(CFDataGetBytePtr(data), bytes.data());
    EXPECT_EQ(std::vector<UInt8>(CFDataGetBytePtr(data), CFDataGetBytePtr(data) + 4),
              (std::vector<UInt8>{1, 2, 3, 4}));
    CFRelease(data);
}

TEST(CoreFoundation, ConstantStringsAreOnePerTextAndSurviveBalancedReleases) {
    CFStringRef a = CFSTR("preset-number");
    EXPECT_EQ(CFSTR("preset-number"), a);
    EXPECT_NE(CFSTR("preset-numbers"), a);
    const CFIndex count = CFGetRetainCount(a);
    CFRelease(CFRetain(a));
    EXPECT_EQ(CFGetRetainCount(a), count);
    EXPECT_EQ(string_from_cf(a), "preset-number");
}

TEST(CoreFoundation, ReferenceCountsHoldUnderThreads) {
    CFStringRef s = utf8("shared");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([s] {
            for (int i = 0; i < 20000; ++i) {
                CFRelease(CFRetain(s));
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);
}

TEST(CoreFoundationDeathTest, NullAndOverReleasedConstantsCrashAsOnMacOs) {
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease");
    EXPECT_DEATH(CFRetain(nullptr), "CFRetain");
    EXPECT_DEATH(CFRelease(CFSTR("never retained")), "CFRelease");
    const void* nothing[] = {nullptr};
    EXPECT_DEATH(CFArrayCreate(nullptr, nothing, 1, &kCFTypeArrayCallBacks), "CFRetain");
}

TEST(AuSys, StringFromCfReadsOnlyStringsThatFitTheBuffer) {
    const std::string fits(1023, 'a');
    const std::string too_long(1024, 'a');
    const std::string wide_too_long = std::string(1022, 'a') + "\xC3\xA9";
    CFNumberRef n = number(kCFNumberSInt32Type, 1);
    const struct {
        CFTypeRef value;
        std::optional<std::string> text;
    } cases[] = {
        {nullptr, std::nullopt},
        {n, std::nullopt},
        {CFSTR(""), ""},
        {CFSTR("Mix \xE2\x80\x94 wet"), "Mix \xE2\x80\x94 wet"},
        {utf8(std::string("ab\0cd", 5)), "ab"},
        {utf8(fits), fits},
        {utf8(too_long), std::nullopt},
        {utf8(wide_too_long), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(string_from_cf(c.value), c.text);
    }
    for (std::size_t i = 4; i < std::size(cases); ++i) {
        CFRelease(cases[i].value);
    }
    CFRelease(n);
}

TEST(AuSys, CfStringReplacesIllFormedBytes) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"Feedback", "Feedback"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
        {"a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"\xE2\x82", "\xEF\xBF\xBD"},
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        CFStringRef s = cf_string(c.in);
        ASSERT_NE(s, nullptr) << testing::PrintToString(c.in);
        EXPECT_EQ(CFGetRetainCount(s), 1);
        EXPECT_EQ(string_from_cf(s), c.out);
        CFRelease(s);
    }
}

// A unit serving only Render and GetProperty, recording how it was called.
struct FakeUnit {
    AudioComponentPlugInInterface interface { nullptr, nullptr, lookup, nullptr };
    static inline std::vector<SInt16> looked_up;
    static inline std::vector<const void*> arguments;
    static inline std::vector<UInt32> numbers;

    static AudioComponentMethod lookup(SInt16 selector) {
        looked_up.push_back(selector);
        if (selector == kAudioUnitRenderSelect)
            return reinterpret_cast<AudioComponentMethod>(render);
        if (selector == kAudioUnitGetPropertySelect) {
            return reinterpret_cast<AudioComponentMethod>(get_property);
        }
        return nullptr;
    }
    static OSStatus render(void* self, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* ts,
                           UInt32 bus, UInt32 frames, AudioBufferList* data) {
        arguments = {self, flags, ts, data};
        numbers = {bus, frames};
        return 1234;
    }
    static OSStatus get_property(void* self, AudioUnitPropertyID id, AudioUnitScope scope,
                                 AudioUnitElement element, void* data, UInt32* size) {
        arguments = {self, data, size};
        numbers = {id, scope, element};
        return -5678;
    }
    AudioUnit unit() { return reinterpret_cast<AudioUnit>(&interface); }
};

TEST(AudioToolbox, CallsReachTheUnitsMethodWithTheirArgumentsUnchanged) {
    FakeUnit fake;
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp ts{};
    AudioBufferList list{};
    EXPECT_EQ(AudioUnitRender(fake.unit(), &flags, &ts, 3, 512, &list), 1234);
    EXPECT_EQ(FakeUnit::looked_up, std::vector<SInt16>{kAudioUnitRenderSelect});
    EXPECT_EQ(FakeUnit::arguments, (std::vector<const void*>{&fake.interface, &flags, &ts, &list}));
    EXPECT_EQ(FakeUnit::numbers, (std::vector<UInt32>{3, 512}));

    Float64 rate = 0.0;
    UInt32 size = sizeof rate;
    EXPECT_EQ(AudioUnitGetProperty(fake.unit(), kAudioUnitProperty_SampleRate,
                                   kAudioUnitScope_Output, 7, &rate, &size),
              -5678);
    EXPECT_EQ(FakeUnit::arguments, (std::vector<const void*>{&fake.interface, &rate, &size}));
    EXPECT_EQ(FakeUnit::numbers,
              (std::vector<UInt32>{kAudioUnitProperty_SampleRate, kAudioUnitScope_Output, 7}));
    EXPECT_TRUE(AudioComponentInstanceCanDo(fake.unit(), kAudioUnitRenderSelect));
    EXPECT_FALSE(AudioComponentInstanceCanDo(fake.unit(), kAudioUnitInitializeSelect));
    EXPECT_FALSE(AudioComponentInstanceCanDo(nullptr, kAudioUnitRenderSelect));
}

TEST(AudioToolbox, UnservedSelectorsAreUnimplementedAndANullUnitIsAParameterError) {
    FakeUnit fake;
    AudioUnitParameterValue value = 0.0f;
    const UInt8 sysex[] = {0xF0, 0xF7};
    const struct {
        int selector;
        OSStatus (*call)(AudioUnit unit, void* data);
    } cases[] = {
        {kAudioUnitInitializeSelect, [](AudioUnit u, void*) { return AudioUnitInitialize(u); }},
        {kAudioUnitUninitializeSelect, [](AudioUnit u, void*) { return AudioUnitUninitialize(u); }},
        {kAudioUnitResetSelect, [](AudioUnit u, void*) { return AudioUnitReset(u, 0, 0); }},
        {kAudioUnitGetPropertyInfoSelect,
         [](AudioUnit u, void*) { return AudioUnitGetPropertyInfo(u, 0, 0, 0, nullptr, nullptr); }},
        {kAudioUnitSetPropertySelect,
         [](AudioUnit u, void*) { return AudioUnitSetProperty(u, 0, 0, 0, nullptr, 0); }},
        {kAudioUnitGetParameterSelect,
         [](AudioUnit u, void* v) {
             return AudioUnitGetParameter(u, 0, 0, 0, static_cast<AudioUnitParameterValue*>(v));
         }},
        {kAudioUnitSetParameterSelect,
         [](AudioUnit u, void*) { return AudioUnitSetParameter(u, 0, 0, 0, 1.0f, 0); }},
        {kAudioUnitScheduleParametersSelect,
         [](AudioUnit u, void*) { return AudioUnitScheduleParameters(u, nullptr, 0); }},
        {kAudioUnitAddPropertyListenerSelect,
         [](AudioUnit u, void*) { return AudioUnitAddPropertyListener(u, 0, nullptr, nullptr); }},
        {kAudioUnitRemovePropertyListenerWithUserDataSelect,
         [](AudioUnit u, void*) {
             return AudioUnitRemovePropertyListenerWithUserData(u, 0, nullptr, nullptr);
         }},
        {kAudioUnitAddRenderNotifySelect,
         [](AudioUnit u, void*) { return AudioUnitAddRenderNotify(u, nullptr, nullptr); }},
        {kAudioUnitRemoveRenderNotifySelect,
         [](AudioUnit u, void*) { return AudioUnitRemoveRenderNotify(u, nullptr, nullptr); }},
        {kMusicDeviceMIDIEventSelect,
         [](AudioUnit u, void*) { return MusicDeviceMIDIEvent(u, 0x90, 60, 100, 0); }},
        {kMusicDeviceSysExSelect,
         [](AudioUnit u, void* d) { return MusicDeviceSysEx(u, static_cast<const UInt8*>(d), 2); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selector);
        void* data = c.selector == kMusicDeviceSysExSelect ? const_cast<UInt8*>(sysex)
                                                           : static_cast<void*>(&value);
        FakeUnit::looked_up.clear();
        EXPECT_EQ(c.call(fake.unit(), data), kAudio_UnimplementedError);
        EXPECT_EQ(FakeUnit::looked_up, std::vector<SInt16>{static_cast<SInt16>(c.selector)});
        EXPECT_EQ(c.call(nullptr, data), kAudio_ParamError);
    }
    EXPECT_EQ(AudioUnitRender(nullptr, nullptr, nullptr, 0, 0, nullptr), kAudio_ParamError);
}

TEST(AuPlatform, TheLibraryExportsExactlyTheSystemNames) {
    std::vector<std::string> names = exported_symbols(ORBA_AU_PLATFORM_LIBRARY);
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {
        "AudioComponentInstanceCanDo",
        "AudioUnitAddPropertyListener",
        "AudioUnitAddRenderNotify",
        "AudioUnitGetParameter",
        "AudioUnitGetProperty",
        "AudioUnitGetPropertyInfo",
        "AudioUnitInitialize",
        "AudioUnitRemovePropertyListenerWithUserData",
        "AudioUnitRemoveRenderNotify",
        "AudioUnitRender",
        "AudioUnitReset",
        "AudioUnitScheduleParameters",
        "AudioUnitSetParameter",
        "AudioUnitSetProperty",
        "AudioUnitUninitialize",
        "CFArrayCreate",
        "CFArrayGetCount",
        "CFArrayGetTypeID",
        "CFArrayGetValueAtIndex",
        "CFDataCreate",
        "CFDataGetBytePtr",
        "CFDataGetLength",
        "CFDataGetTypeID",
        "CFDictionaryCreateMutable",
        "CFDictionaryGetCount",
        "CFDictionaryGetTypeID",
        "CFDictionaryGetValue",
        "CFDictionaryGetValueIfPresent",
        "CFDictionarySetValue",
        "CFEqual",
        "CFGetRetainCount",
        "CFGetTypeID",
        "CFHash",
        "CFNumberCreate",
        "CFNumberGetTypeID",
        "CFNumberGetValue",
        "CFRelease",
        "CFRetain",
        "CFStringCreateWithBytes",
        "CFStringCreateWithCString",
        "CFStringGetCString",
        "CFStringGetLength",
        "CFStringGetMaximumSizeForEncoding",
        "CFStringGetTypeID",
        "MusicDeviceMIDIEvent",
        "MusicDeviceSysEx",
        "__CFStringMakeConstantString",
        "kCFAllocatorDefault",
        "kCFTypeArrayCallBacks",
        "kCFTypeDictionaryKeyCallBacks",
        "kCFTypeDictionaryValueCallBacks",
    };
    EXPECT_EQ(names, expected);
#if !defined(ORBA_SANITIZE)
    expect_only_system_c_libraries(ORBA_AU_PLATFORM_LIBRARY);
#endif
}

}  // namespace
}  // namespace orba::test
