#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/au_unit.h"
#include "fuzz/input.h"

// Parameter text through the Audio Unit's ParameterStringFromValue and
// ParameterValueFromString properties. Any text for any id either fails or
// gives a finite value, and the text shown for a finite value parses back to
// a value that shows the same.
namespace {

using orba::fuzz::AuPlugin;

struct Plugin {
    explicit Plugin(AuPlugin which)
        : unit(orba::fuzz::au_factory(which), orba::fuzz::au_description(which)) {
        if (!unit ||
            unit.get_array(kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids) !=
                noErr ||
            ids.empty()) {
            __builtin_trap();
        }
    }
    orba::test::Unit unit;
    std::vector<AudioUnitParameterID> ids;
};

// The text shown for a value (the current one without), or nothing when the
// unit refuses.
std::optional<std::string> shown(Plugin& p, AudioUnitParameterID id, const float* value) {
    AudioUnitParameterStringFromValue request{.inParamID = id, .inValue = value, .outString = {}};
    if (p.unit.get(kAudioUnitProperty_ParameterStringFromValue, kAudioUnitScope_Global, 0,
                   request) != noErr) {
        return std::nullopt;
    }
    const std::optional<std::string> text = orba::test::cf_text(request.outString);
    if (request.outString != nullptr) CFRelease(request.outString);
    if (!text) __builtin_trap();
    return text;
}

std::optional<float> typed(Plugin& p, AudioUnitParameterID id, CFStringRef text) {
    AudioUnitParameterValueFromString request{.inParamID = id, .inString = text, .outValue = 0};
    if (p.unit.get(kAudioUnitProperty_ParameterValueFromString, kAudioUnitScope_Global, 0,
                   request) != noErr) {
        return std::nullopt;
    }
    return request.outValue;
}

// Shows `value`, parses the text back and shows that value again.
void round_trip(Plugin& p, AudioUnitParameterID id, float value) {
    const std::optional<std::string> first = shown(p, id, &value);
    if (!first) __builtin_trap();
    const CFStringRef text = orba::au::sys::cf_string(*first);
    const std::optional<float> back = typed(p, id, text);
    CFRelease(text);
    if (!back || shown(p, id, &*back) != first) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Plugin plugins[] = {Plugin(AuPlugin::Probe), Plugin(AuPlugin::Instrument),
                               Plugin(AuPlugin::Varnel)};
    orba::fuzz::Input in(data, size);
    Plugin& p = plugins[in.below(3)];
    AudioUnitParameterID id = in.raw<AudioUnitParameterID>();
    const bool known = !in.flag();
    if (known) id = p.ids[id % p.ids.size()];
    const float value = in.raw<float>();

    const bool current = in.flag();
    const std::optional<std::string> text = shown(p, id, current ? nullptr : &value);
    if (known && !text) __builtin_trap();

    // Bytes the host typed, as a string when they convert, else no string.
    const std::string_view bytes = in.text(4096);
    const CFStringRef string = CFStringCreateWithBytes(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes.data()),
        static_cast<CFIndex>(bytes.size()), kCFStringEncodingUTF8, false);
    const std::optional<float> parsed = typed(p, id, string);
    if (string != nullptr) CFRelease(string);
    if (!text) {
        if (parsed) __builtin_trap();
        return 0;
    }
    if (parsed && !std::isfinite(*parsed)) __builtin_trap();
    if (std::isfinite(value)) round_trip(p, id, value);
    if (parsed) round_trip(p, id, *parsed);
    return 0;
}
