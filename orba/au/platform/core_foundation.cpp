// The part of CoreFoundation the Audio Unit wrapper uses, behaving as the
// system's does where a plug-in can tell: reference counts, ownership through
// callbacks, strings compared by content, numbers converted exactly or
// reported lossy. Misuse that crashes on macOS (NULL or the wrong type where
// an object is required) aborts here with one line on stderr, so tests on
// Linux find the same faults.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "orba/au/sys.h"

namespace {

enum Type : CFTypeID { STRING = 7, NUMBER = 22, DATA = 20, DICTIONARY = 18, ARRAY = 19 };

[[noreturn]] void crash(const char* function, const char* what) {
    std::fprintf(stderr, "%s: %s\n", function, what);
    std::abort();
}

struct Object {
    explicit Object(CFTypeID t) : type(t) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const CFTypeID type;
    // Counted on const objects too: every reference is const.
    mutable std::atomic<CFIndex> count{1};
    // CFSTR strings: retained and released like any other, never freed.
    bool immortal = false;
};

struct String final : Object {
    String(std::string t, CFIndex units) : Object(STRING), utf8(std::move(t)), utf16(units) {}
    const std::string utf8;
    const CFIndex utf16;
};

struct Number final : Object {
    explicit Number(std::int64_t v) : Object(NUMBER), is_float(false), integer(v) {}
    explicit Number(double v) : Object(NUMBER), is_float(true), real(v) {}
    const bool is_float;
    const std::int64_t integer = 0;
    const double real = 0.0;
};

struct Data final : Object {
    explicit Data(std::vector<UInt8> b) : Object(DATA), bytes(std::move(b)) {}
    const std::vector<UInt8> bytes;
};

struct Array final : Object {
    Array(const CFArrayCallBacks& c, std::vector<const void*> v)
        : Object(ARRAY), callbacks(c), values(std::move(v)) {}
    ~Array() override {
        for (const void* v : values) {
            if (callbacks.release != nullptr) callbacks.release(nullptr, v);
        }
    }
    const CFArrayCallBacks callbacks;
    const std::vector<const void*> values;
};

struct Dictionary final : Object {
    struct Entry {
        const void* key;
        const void* value;
        CFHashCode hash;
    };
    Dictionary(const CFDictionaryKeyCallBacks& k, const CFDictionaryValueCallBacks& v)
        : Object(DICTIONARY), keys(k), values(v) {}
    ~Dictionary() override {
        for (const Entry& e : entries) {
            if (keys.release != nullptr) keys.release(nullptr, e.key);
            if (values.release != nullptr) values.release(nullptr, e.value);
        }
    }
    CFHashCode hash_of(const void* key) const {
        return keys.hash != nullptr ? keys.hash(key) : reinterpret_cast<std::uintptr_t>(key);
    }
    bool same(const void* a, const void* b) const {
        return a == b || (keys.equal != nullptr && keys.equal(a, b));
    }
    // The index of the entry with an equal key, or the count.
    std::size_t find(const void* key) const {
        const CFHashCode h = hash_of(key);
        std::size_t i = 0;
        while (i < entries.size() && !(entries[i].hash == h && same(entries[i].key, key)))
            ++i;
        return i;
    }
    const CFDictionaryKeyCallBacks keys;
    const CFDictionaryValueCallBacks values;
    // In insertion order; nothing is ever removed.
    std::vector<Entry> entries;
};

const Object* object(CFTypeRef cf, const char* function) {
    if (cf == nullptr) crash(function, "NULL object");
    return static_cast<const Object*>(cf);
}

template <class T>
const T* as(CFTypeRef cf, CFTypeID type, const char* function) {
    const Object* o = object(cf, function);
    if (o->type != type) crash(function, "object of the wrong type");
    return static_cast<const T*>(o);
}

template <class Ref>
Ref ref(const Object* o) {
    return static_cast<Ref>(static_cast<const void*>(o));
}

// Well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF): the number of UTF-16 units it takes, or -1.
CFIndex utf16_length(const unsigned char* s, std::size_t n) {
    CFIndex units = 0;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b0 = s[i];
        std::size_t len = 1;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (b0 < 0x80) {
            len = 1;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            return -1;
        }
        if (n - i < len) return -1;
        for (std::size_t k = 1; k < len; ++k) {
            if (s[i + k] < lo || s[i + k] > hi) return -1;
            lo = 0x80;
            hi = 0xBF;
        }
        units += len == 4 ? 2 : 1;
        i += len;
    }
    return units;
}

// A new string of `n` bytes in `encoding`, or NULL when the bytes are not
// text in it.
const String* make_string(const UInt8* bytes, std::size_t n, CFStringEncoding encoding) {
    if (encoding == kCFStringEncodingASCII) {
        for (std::size_t i = 0; i < n; ++i) {
            if (bytes[i] >= 0x80) return nullptr;
        }
    } else if (encoding != kCFStringEncodingUTF8) {
        return nullptr;
    }
    const CFIndex units = utf16_length(bytes, n);
    if (units < 0) return nullptr;
    try {
        return new String(std::string(reinterpret_cast<const char*>(bytes), n), units);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CFHashCode hash_bytes(const void* data, std::size_t n) {
    // FNV-1a.
    std::uint64_t h = 14695981039346656037ULL;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        h = (h ^ p[i]) * 1099511628211ULL;
    }
    return static_cast<CFHashCode>(h);
}

constexpr double TWO_TO_63 = 9223372036854775808.0;

// The integer a double names exactly, if any.
bool integral(double d, std::int64_t& out) {
    if (!(d >= -TWO_TO_63 && d < TWO_TO_63) || std::trunc(d) != d) return false;
    out = static_cast<std::int64_t>(d);
    return true;
}

bool numbers_equal(const Number& a, const Number& b) {
    if (!a.is_float && !b.is_float) return a.integer == b.integer;
    if (a.is_float && b.is_float) {
        return a.real == b.real || (std::isnan(a.real) && std::isnan(b.real));
    }
    const Number& f = a.is_float ? a : b;
    const Number& i = a.is_float ? b : a;
    std::int64_t v = 0;
    return integral(f.real, v) && v == i.integer;
}

CFHashCode hash_number(const Number& n) {
    std::int64_t v = n.integer;
    if (n.is_float && !integral(n.real, v)) {
        if (std::isnan(n.real)) return 0x7ff8;
        return hash_bytes(&n.real, sizeof n.real);
    }
    return hash_bytes(&v, sizeof v);
}

// Which C type a CFNumberType reads and writes.
enum class Kind { NONE, I8, I16, I32, I64, F32, F64 };

Kind kind_of(CFNumberType type) {
    switch (type) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
            return Kind::I8;
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
            return Kind::I16;
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
            return Kind::I32;
        case kCFNumberSInt64Type:
        case kCFNumberLongType:
        case kCFNumberLongLongType:
        case kCFNumberCFIndexType:
        case kCFNumberNSIntegerType:
            return Kind::I64;
        case kCFNumberFloat32Type:
        case kCFNumberFloatType:
            return Kind::F32;
        case kCFNumberFloat64Type:
        case kCFNumberDoubleType:
        case kCFNumberCGFloatType:
            return Kind::F64;
    }
    return Kind::NONE;
}

template <class T>
T load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void store(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// An integer as a narrower integer: saturated, exact when it fits.
template <class T>
bool narrow(std::int64_t v, void* out) {
    constexpr auto lo = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    constexpr auto hi = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    store<T>(out, static_cast<T>(v < lo ? lo : v > hi ? hi : v));
    return v >= lo && v <= hi;
}

// A double as an integer: truncated toward zero and saturated; NaN gives 0.
template <class T>
bool truncate(double d, void* out) {
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    // One past the largest value, exact in double for every width.
    constexpr double past = -lo;
    T v = 0;
    if (d >= past) {
        v = std::numeric_limits<T>::max();
    } else if (d < lo) {
        v = std::numeric_limits<T>::min();
    } else if (!std::isnan(d)) {
        v = static_cast<T>(d);
    }
    store<T>(out, v);
    return !std::isnan(d) && d >= lo && d < past && std::trunc(d) == d;
}

// A double rounded to float, an out-of-range value to the nearest
// representable one as the hardware's narrowing would, without relying on
// it: from half a step past the largest float on, that is infinity.
float to_float(double d) {
    constexpr double largest = std::numeric_limits<float>::max();
    constexpr double overflow = largest + 0x1p103;
    if (std::isnan(d) || std::isinf(d)) return static_cast<float>(d);
    if (d >= overflow) return std::numeric_limits<float>::infinity();
    if (d <= -overflow) return -std::numeric_limits<float>::infinity();
    if (d > largest) return std::numeric_limits<float>::max();
    if (d < -largest) return -std::numeric_limits<float>::max();
    return static_cast<float>(d);
}

bool number_value(const Number& n, Kind kind, void* out) {
    if (!n.is_float) {
        const std::int64_t v = n.integer;
        switch (kind) {
            case Kind::I8:
                return narrow<std::int8_t>(v, out);
            case Kind::I16:
                return narrow<std::int16_t>(v, out);
            case Kind::I32:
                return narrow<std::int32_t>(v, out);
            case Kind::I64:
                store<std::int64_t>(out, v);
                return true;
            case Kind::F32: {
                const auto f = static_cast<float>(v);
                store<float>(out, f);
                return static_cast<double>(f) < TWO_TO_63 && static_cast<std::int64_t>(f) == v;
            }
            case Kind::F64: {
                const auto d = static_cast<double>(v);
                store<double>(out, d);
                return d < TWO_TO_63 && static_cast<std::int64_t>(d) == v;
            }
            case Kind::NONE:
                break;
        }
        return false;
    }
    const double d = n.real;
    switch (kind) {
        case Kind::I8:
            return truncate<std::int8_t>(d, out);
        case Kind::I16:
            return truncate<std::int16_t>(d, out);
        case Kind::I32:
            return truncate<std::int32_t>(d, out);
        case Kind::I64:
            return truncate<std::int64_t>(d, out);
        case Kind::F32: {
            const float f = to_float(d);
            store<float>(out, f);
            return static_cast<double>(f) == d || std::isnan(d);
        }
        case Kind::F64:
            store<double>(out, d);
            return true;
        case Kind::NONE:
            break;
    }
    return false;
}

bool equal(const Object* a, const Object* b);

bool arrays_equal(const Array& a, const Array& b) {
    if (a.values.size() != b.values.size()) return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const void* x = a.values[i];
        const void* y = b.values[i];
        if (x != y && (a.callbacks.equal == nullptr || !a.callbacks.equal(x, y))) return false;
    }
    return true;
}

bool dictionaries_equal(const Dictionary& a, const Dictionary& b) {
    if (a.entries.size() != b.entries.size()) return false;
    for (const Dictionary::Entry& e : a.entries) {
        const std::size_t i = b.find(e.key);
        if (i == b.entries.size()) return false;
        const void* other = b.entries[i].value;
        if (other != e.value && (a.values.equal == nullptr || !a.values.equal(e.value, other))) {
            return false;
        }
    }
    return true;
}

bool equal(const Object* a, const Object* b) {
    if (a == b) return true;
    if (a->type != b->type) return false;
    switch (a->type) {
        case STRING:
            return static_cast<const String*>(a)->utf8 == static_cast<const String*>(b)->utf8;
        case NUMBER:
            return numbers_equal(*static_cast<const Number*>(a), *static_cast<const Number*>(b));
        case DATA:
            return static_cast<const Data*>(a)->bytes == static_cast<const Data*>(b)->bytes;
        case ARRAY:
            return arrays_equal(*static_cast<const Array*>(a), *static_cast<const Array*>(b));
        case DICTIONARY:
            return dictionaries_equal(*static_cast<const Dictionary*>(a),
                                      *static_cast<const Dictionary*>(b));
        default:
            return false;
    }
}

const void* retain_type(CFAllocatorRef, const void* value) {
    return CFRetain(value);
}

void release_type(CFAllocatorRef, const void* value) {
    CFRelease(value);
}

Boolean equal_type(const void* a, const void* b) {
    return CFEqual(a, b);
}

CFHashCode hash_type(const void* value) {
    return CFHash(value);
}

constexpr CFArrayCallBacks NO_ARRAY_CALLBACKS = {0, nullptr, nullptr, nullptr, nullptr};
constexpr CFDictionaryKeyCallBacks NO_KEY_CALLBACKS = {0,       nullptr, nullptr,
                                                       nullptr, nullptr, nullptr};
constexpr CFDictionaryValueCallBacks NO_VALUE_CALLBACKS = {0, nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, retain_type, release_type, nullptr, equal_type};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       retain_type, release_type,
                                                                nullptr, equal_type,  hash_type};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, retain_type, release_type,
                                                                    nullptr, equal_type};

CFTypeRef CFRetain(CFTypeRef cf) {
    object(cf, "CFRetain")->count.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    const Object* o = object(cf, "CFRelease");
    // The thread that frees must see every other thread's last use.
    if (o->count.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (o->immortal) crash("CFRelease", "constant string released more often than retained");
    delete o;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    return object(cf, "CFGetRetainCount")->count.load(std::memory_order_relaxed);
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return object(cf, "CFGetTypeID")->type;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    return equal(object(cf1, "CFEqual"), object(cf2, "CFEqual"));
}

CFHashCode CFHash(CFTypeRef cf) {
    const Object* o = object(cf, "CFHash");
    switch (o->type) {
        case STRING: {
            const std::string& s = static_cast<const String*>(o)->utf8;
            return hash_bytes(s.data(), s.size());
        }
        case NUMBER:
            return hash_number(*static_cast<const Number*>(o));
        case DATA: {
            const std::vector<UInt8>& b = static_cast<const Data*>(o)->bytes;
            return hash_bytes(b.data(), b.size());
        }
        case ARRAY:
            return static_cast<CFHashCode>(static_cast<const Array*>(o)->values.size());
        case DICTIONARY:
            return static_cast<CFHashCode>(static_cast<const Dictionary*>(o)->entries.size());
        default:
            return reinterpret_cast<std::uintptr_t>(o);
    }
}

CFTypeID CFStringGetTypeID(void) {
    return STRING;
}

CFTypeID CFNumberGetTypeID(void) {
    return NUMBER;
}

CFTypeID CFDataGetTypeID(void) {
    return DATA;
}

CFTypeID CFDictionaryGetTypeID(void) {
    return DICTIONARY;
}

CFTypeID CFArrayGetTypeID(void) {
    return ARRAY;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
    if (numBytes < 0 || (bytes == nullptr && numBytes > 0)) return nullptr;
    auto n = static_cast<std::size_t>(numBytes);
    static constexpr UInt8 BOM[] = {0xEF, 0xBB, 0xBF};
    if (isExternalRepresentation && encoding == kCFStringEncodingUTF8 && n >= 3 &&
        std::memcmp(bytes, BOM, 3) == 0) {
        bytes += 3;
        n -= 3;
    }
    return ref<CFStringRef>(make_string(bytes, n, encoding));
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (cStr == nullptr) return nullptr;
    return ref<CFStringRef>(
        make_string(reinterpret_cast<const UInt8*>(cStr), std::strlen(cStr), encoding));
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    const std::string& s = as<String>(theString, STRING, "CFStringGetCString")->utf8;
    if (buffer == nullptr || bufferSize <= 0) return false;
    if (encoding == kCFStringEncodingASCII) {
        for (char c : s) {
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        }
    } else if (encoding != kCFStringEncodingUTF8) {
        return false;
    }
    if (s.size() >= static_cast<std::size_t>(bufferSize)) return false;
    std::memcpy(buffer, s.data(), s.size());
    buffer[s.size()] = '\0';
    return true;
}

CFIndex CFStringGetLength(CFStringRef theString) {
    return as<String>(theString, STRING, "CFStringGetLength")->utf16;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    CFIndex per_unit = 0;
    switch (encoding) {
        case kCFStringEncodingUTF8:
            per_unit = 3;
            break;
        case kCFStringEncodingUTF16:
            per_unit = 2;
            break;
        case kCFStringEncodingASCII:
        case kCFStringEncodingMacRoman:
            per_unit = 1;
            break;
        default:
            return kCFNotFound;
    }
    if (length < 0 || length > std::numeric_limits<CFIndex>::max() / per_unit) return kCFNotFound;
    return length * per_unit;
}

CFStringRef __CFStringMakeConstantString(const char* cStr) {
    static std::mutex mutex;
    // Never destroyed: the strings outlive every static that holds one.
    static auto* interned = new std::unordered_map<std::string, const String*>();
    if (cStr == nullptr) crash("CFSTR", "NULL text");
    try {
        const std::lock_guard<std::mutex> lock(mutex);
        auto [it, added] = interned->try_emplace(cStr, nullptr);
        if (added) {
            const String* s = make_string(reinterpret_cast<const UInt8*>(cStr), std::strlen(cStr),
                                          kCFStringEncodingUTF8);
            if (s == nullptr) {
                interned->erase(it);
                crash("CFSTR", "text is not UTF-8");
            }
            const_cast<String*>(s)->immortal = true;
            it->second = s;
        }
        return ref<CFStringRef>(it->second);
    } catch (const std::bad_alloc&) {
        crash("CFSTR", "out of memory");
    }
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    if (valuePtr == nullptr) return nullptr;
    const Number* n = nullptr;
    switch (kind_of(theType)) {
        case Kind::I8:
            n = new (std::nothrow) Number(std::int64_t{load<std::int8_t>(valuePtr)});
            break;
        case Kind::I16:
            n = new (std::nothrow) Number(std::int64_t{load<std::int16_t>(valuePtr)});
            break;
        case Kind::I32:
            n = new (std::nothrow) Number(std::int64_t{load<std::int32_t>(valuePtr)});
            break;
        case Kind::I64:
            n = new (std::nothrow) Number(load<std::int64_t>(valuePtr));
            break;
        case Kind::F32:
            n = new (std::nothrow) Number(double{load<float>(valuePtr)});
            break;
        case Kind::F64:
            n = new (std::nothrow) Number(load<double>(valuePtr));
            break;
        case Kind::NONE:
            break;
    }
    return ref<CFNumberRef>(n);
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    const Number* n = as<Number>(number, NUMBER, "CFNumberGetValue");
    if (valuePtr == nullptr) return false;
    return number_value(*n, kind_of(theType), valuePtr);
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
    if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
    try {
        return ref<CFDataRef>(new Data(std::vector<UInt8>(bytes, bytes + length)));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CFIndex CFDataGetLength(CFDataRef theData) {
    return static_cast<CFIndex>(as<Data>(theData, DATA, "CFDataGetLength")->bytes.size());
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
    return as<Data>(theData, DATA, "CFDataGetBytePtr")->bytes.data();
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
    if (numValues < 0 || (values == nullptr && numValues > 0)) return nullptr;
    const CFArrayCallBacks& callbacks = callBacks != nullptr ? *callBacks : NO_ARRAY_CALLBACKS;
    std::vector<const void*> kept;
    try {
        kept.reserve(static_cast<std::size_t>(numValues));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (CFIndex i = 0; i < numValues; ++i) {
        kept.push_back(callbacks.retain != nullptr ? callbacks.retain(nullptr, values[i])
                                                   : values[i]);
    }
    const Array* array = new (std::nothrow) Array(callbacks, std::move(kept));
    if (array == nullptr) {
        for (const void* v : kept) {
            if (callbacks.release != nullptr) callbacks.release(nullptr, v);
        }
    }
    return ref<CFArrayRef>(array);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    return static_cast<CFIndex>(as<Array>(theArray, ARRAY, "CFArrayGetCount")->values.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    const Array* array = as<Array>(theArray, ARRAY, "CFArrayGetValueAtIndex");
    if (idx < 0 || static_cast<std::size_t>(idx) >= array->values.size()) {
        crash("CFArrayGetValueAtIndex", "index out of range");
    }
    return array->values[static_cast<std::size_t>(idx)];
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    if (capacity < 0) return nullptr;
    const Dictionary* d = new (std::nothrow)
        Dictionary(keyCallBacks != nullptr ? *keyCallBacks : NO_KEY_CALLBACKS,
                   valueCallBacks != nullptr ? *valueCallBacks : NO_VALUE_CALLBACKS);
    return const_cast<CFMutableDictionaryRef>(ref<CFDictionaryRef>(d));
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    // Created non-const by CFDictionaryCreateMutable.
    auto* d = const_cast<Dictionary*>(as<Dictionary>(theDict, DICTIONARY, "CFDictionarySetValue"));
    const CFDictionaryValueCallBacks& vc = d->values;
    // The new value is retained before the old one goes, in case they are
    // the same object.
    const void* kept_value = vc.retain != nullptr ? vc.retain(nullptr, value) : value;
    const std::size_t i = d->find(key);
    if (i < d->entries.size()) {
        const void* old = d->entries[i].value;
        d->entries[i].value = kept_value;
        if (vc.release != nullptr) vc.release(nullptr, old);
        return;
    }
    const CFHashCode hash = d->hash_of(key);
    const void* kept_key = d->keys.retain != nullptr ? d->keys.retain(nullptr, key) : key;
    try {
        d->entries.push_back({kept_key, kept_value, hash});
    } catch (const std::bad_alloc&) {
        crash("CFDictionarySetValue", "out of memory");
    }
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void* key,
                                      const void** value) {
    const Dictionary* d = as<Dictionary>(theDict, DICTIONARY, "CFDictionaryGetValueIfPresent");
    const std::size_t i = d->find(key);
    if (i == d->entries.size()) return false;
    if (value != nullptr) *value = d->entries[i].value;
    return true;
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    const Dictionary* d = as<Dictionary>(theDict, DICTIONARY, "CFDictionaryGetValue");
    const std::size_t i = d->find(key);
    return i < d->entries.size() ? d->entries[i].value : nullptr;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    return static_cast<CFIndex>(
        as<Dictionary>(theDict, DICTIONARY, "CFDictionaryGetCount")->entries.size());
}

}  // extern "C"
