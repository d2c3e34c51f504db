#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "orba/au/sys.h"
#include "tests/au/host.h"

// What the property, render and concurrency tests share on top of the test
// host: the components they load, an instance with its library, and
// recorders for what a unit calls back. Every callback here is safe on a
// rendering thread: none allocates.
namespace orba::test {

// A component binary and the description its bundle registers.
struct Kind {
    const char* path;
    const char* factory;
    const char* type;
    const char* subtype;
    const char* manufacturer;
};

inline constexpr Kind PROBE{ORBA_PROBE_AU, "OrbaProbeFactory", "aufx", "Prbe", "Orba"};
inline constexpr Kind INSTRUMENT{ORBA_PROBE_INSTRUMENT_AU, "OrbaProbeInstrumentFactory", "aumu",
                                 "Prbi", "Orba"};
inline constexpr Kind VARNEL{ORBA_VARNEL_DELAY_AU, "VarnelDelayFactory", VARNEL_DELAY_AU_TYPE,
                             VARNEL_DELAY_AU_SUBTYPE, VARNEL_DELAY_AU_MANUFACTURER};
inline constexpr Kind TIDAL{ORBA_TIDAL_TREMOLO_AU, "TidalTremoloFactory", TIDAL_TREMOLO_AU_TYPE,
                            TIDAL_TREMOLO_AU_SUBTYPE, TIDAL_TREMOLO_AU_MANUFACTURER};

inline AudioComponentDescription description(const Kind& kind) {
    return description(four_char(kind.type), four_char(kind.subtype), four_char(kind.manufacturer));
}

// One opened instance together with the library it came from, which stays
// loaded until the instance is closed.
class Loaded {
  public:
    explicit Loaded(const Kind& kind)
        : component_(kind.path, kind.factory), unit_(component_.factory(), description(kind)) {}

    const std::string& error() const { return component_.error(); }
    explicit operator bool() const { return static_cast<bool>(unit_); }
    Unit& operator*() { return unit_; }
    Unit* operator->() { return &unit_; }

  private:
    Component component_;
    Unit unit_;
};

// GetProperty and SetProperty with any data pointer and size, for the
// cases the typed helpers of Unit cannot express.
inline OSStatus get_raw(Unit& unit, AudioUnitPropertyID id, AudioUnitScope scope,
                        AudioUnitElement element, void* data, UInt32* size) {
    return unit.lookup<GetPropertyFn>(kAudioUnitGetPropertySelect)(unit.interface(), id, scope,
                                                                   element, data, size);
}

// Render with every argument as given, null pointers included.
inline OSStatus render_raw(Unit& unit, AudioUnitRenderActionFlags* flags,
                           const AudioTimeStamp* time_stamp, UInt32 bus, UInt32 frames,
                           AudioBufferList* data) {
    return unit.lookup<RenderFn>(kAudioUnitRenderSelect)(unit.interface(), flags, time_stamp, bus,
                                                         frames, data);
}

// The parameter id of a parameter's channel.
constexpr AudioUnitParameterID param_id(std::size_t index, std::uint32_t channel = 0) {
    return static_cast<AudioUnitParameterID>(index * 128 + channel);
}

// A CF object the test owns, released when it goes.
class Cf {
  public:
    explicit Cf(CFTypeRef object = nullptr) : object_(object) {}
    ~Cf() {
        if (object_ != nullptr) CFRelease(object_);
    }
    Cf(const Cf&) = delete;
    Cf& operator=(const Cf&) = delete;

    CFTypeRef get() const { return object_; }
    template <class T>
    T as() const {
        return static_cast<T>(object_);
    }

  private:
    CFTypeRef object_;
};

inline CFStringRef cf_string(std::string_view text) {
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, 0);
}

// Every property notification a unit sends to the listeners it is added to.
struct Notifications {
    struct Entry {
        AudioUnitPropertyID id;
        AudioUnitScope scope;
        AudioUnitElement element;
        bool operator==(const Entry&) const = default;
        friend std::ostream& operator<<(std::ostream& out, const Entry& e) {
            return out << '{' << e.id << ", " << e.scope << ", " << e.element << '}';
        }
    };

    static void listener(void* self, AudioUnit unit, AudioUnitPropertyID id, AudioUnitScope scope,
                         AudioUnitElement element) {
        auto* log = static_cast<Notifications*>(self);
        log->units_ok = log->units_ok && unit == log->unit;
        log->entries.push_back(Entry{id, scope, element});
    }
    void listen(Unit& to, std::initializer_list<AudioUnitPropertyID> ids) {
        unit = to.handle();
        for (AudioUnitPropertyID id : ids)
            to.add_listener(id, listener, this);
    }

    AudioComponentInstance unit = nullptr;
    bool units_ok = true;
    std::vector<Entry> entries;
};

// A render notify that keeps the action flags of its first calls.
struct NotifyLog {
    static OSStatus proc(void* self, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*,
                         UInt32, UInt32, AudioBufferList*) {
        auto* log = static_cast<NotifyLog*>(self);
        if (log->calls < log->flags.size()) log->flags[log->calls] = *flags;
        ++log->calls;
        return noErr;
    }

    std::size_t calls = 0;
    std::array<AudioUnitRenderActionFlags, 8> flags{};
};

// A host's transport and tempo callbacks, answering with these fields.
struct Transport {
    static OSStatus beat_and_tempo(void* self, Float64* beat, Float64* tempo) {
        auto* t = static_cast<Transport*>(self);
        if (beat != nullptr) *beat = 0.0;
        if (tempo != nullptr) *tempo = t->tempo;
        return t->tempo_status;
    }
    static OSStatus transport_state(void* self, Boolean* playing, Boolean* changed, Float64* sample,
                                    Boolean* cycling, Float64* cycle_start, Float64* cycle_end) {
        auto* t = static_cast<Transport*>(self);
        if (playing != nullptr) *playing = t->playing ? 1 : 0;
        if (changed != nullptr) *changed = 0;
        if (sample != nullptr) *sample = t->sample;
        if (cycling != nullptr) *cycling = 0;
        if (cycle_start != nullptr) *cycle_start = 0.0;
        if (cycle_end != nullptr) *cycle_end = 0.0;
        return t->transport_status;
    }
    HostCallbackInfo callbacks(bool with_tempo = true, bool with_transport = true) {
        HostCallbackInfo info{};
        info.hostUserData = this;
        info.beatAndTempoProc = with_tempo ? beat_and_tempo : nullptr;
        info.transportStateProc = with_transport ? transport_state : nullptr;
        return info;
    }

    Float64 tempo = 120.0;
    OSStatus tempo_status = noErr;
    bool playing = false;
    Float64 sample = 0.0;
    OSStatus transport_status = noErr;
};

}  // namespace orba::test
