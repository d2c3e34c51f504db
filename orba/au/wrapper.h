#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "orba/au/sys.h"
#include "orba/core/inner.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

// The Audio Unit (version 2) wrapper: the per-instance object behind every
// AudioComponentPlugInInterface a factory hands out. The C selector functions
// (in wrapper.cpp) find the instance through their first argument and call
// the members below; the per-plug-in factory comes from orba/au/export.h.
namespace orba::au {

// The plug-in as the wrapper holds it: the calls both wrappers share, then
// the instrument and MIDI calls only an Audio Unit makes.
class Inner : public orba::Inner {
  public:
    virtual bool is_instrument() const = 0;
    virtual void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      std::uint32_t frame_offset) = 0;
};

// Inner for any default-constructible type implementing the plug-in contract.
template <class P>
class Adapter final : public orba::Adapter<P, Inner> {
  public:
    bool is_instrument() const override { return this->plugin_.is_instrument(); }
    void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
              std::uint32_t frame_offset) override {
        this->plugin_.midi(status, data1, data2, frame_offset);
    }
};

inline constexpr std::uint32_t DEFAULT_MAX_FRAMES = 1156;
inline constexpr std::uint32_t MAX_FRAMES_PER_SLICE = 1048576;
inline constexpr std::size_t MIDI_QUEUE_CAPACITY = 1024;
inline constexpr std::string_view DEFAULT_PRESET_NAME = "Untitled";

// A value shared between the host's threads and render, behind its own mutex.
// Render only ever try-locks one of these; nothing holds two at once.
template <class T>
struct Locked {
    std::mutex mutex;
    T value{};
};

struct RenderInput {
    AURenderCallback proc = nullptr;
    void* ref_con = nullptr;
};

struct Connection {
    AudioUnit source = nullptr;
    UInt32 output = 0;
};

struct Listener {
    AudioUnitPropertyListenerProc proc = nullptr;
    void* user_data = nullptr;
    AudioUnitPropertyID id = 0;
};

struct Notify {
    AURenderCallback proc = nullptr;
    void* ref_con = nullptr;
};

struct PendingChange {
    AudioUnitParameterID id = 0;
    float value = 0.0f;
};

struct MidiEvent {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint32_t offset = 0;
};

// A parameter id taken apart: index * 128 + channel.
struct Target {
    std::size_t index = 0;
    std::uint32_t channel = 0;
    bool per_channel = false;
};

// The (channel count, sample rate) of a stream format the instance can run,
// or nothing.
struct Format {
    std::uint32_t channels = 0;
    double sample_rate = 0.0;
};
std::optional<Format> accept_format(const AudioStreamBasicDescription& format,
                                    std::uint32_t min_channels, std::uint32_t max_channels);

// Parameter text typed into a host, parsed by the rules both wrappers share;
// the number comes back as written, not clamped.
std::optional<float> parse_value(const ParamInfo& info, std::string_view text);

// One Audio Unit instance. The interface record comes first, so the pointer
// the factory returns (and every host call's `self`) is the instance itself.
// Fields written by one thread and read by another are atomics or Locked.
struct Instance {
    AudioComponentPlugInInterface interface{};
    AudioComponentDescription desc{};
    std::atomic<AudioComponentInstance> component{nullptr};
    std::unique_ptr<Inner> inner;
    // One buffer per output channel, lent to hosts that render with null
    // mData; made at Initialize.
    std::vector<std::vector<float>> buffers;
    // The channel views handed to the plug-in, only filled during render.
    std::vector<std::span<float>> slices;
    std::shared_ptr<ParamSet> params;
    std::uint32_t min_channels = 1;
    std::uint32_t max_channels = MAX_CHANNELS;
    std::atomic<std::uint32_t> input_channels{2};
    std::atomic<std::uint32_t> output_channels{2};
    std::atomic<double> sample_rate{44100.0};
    std::atomic<std::uint32_t> max_frames{DEFAULT_MAX_FRAMES};
    std::atomic<bool> initialized{false};
    std::atomic<bool> bypass{false};
    std::atomic<OSStatus> last_render_error{0};
    std::atomic<SInt32> preset_number{-1};
    Locked<std::string> preset_name;
    std::atomic<std::uint32_t> latency{0};
    std::atomic<std::uint32_t> tail{0};
    Locked<std::optional<RenderInput>> render_input;
    Locked<std::optional<Connection>> connection;
    Locked<std::optional<HostCallbackInfo>> host_callbacks;
    Locked<std::vector<Listener>> listeners;
    Locked<std::vector<Notify>> notifies;
    // The thread calling the render notifies, while it does, so that a notify
    // can add or remove notifies (or render again) without waiting for itself.
    std::atomic<std::thread::id> notifying{};
    Locked<std::vector<PendingChange>> pending;
    bool instrument = false;
    Locked<std::vector<MidiEvent>> midi_queue;

    // Never null: allocation failure aborts like everywhere else.
    static AudioComponentPlugInInterface* create(const AudioComponentDescription& desc,
                                                 std::unique_ptr<Inner> inner);
    // The instance behind a host's `self`, or null for a null pointer.
    static Instance* from(void* self) noexcept;

    Instance(const AudioComponentDescription& desc, std::unique_ptr<Inner> inner);
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // Lifecycle (wrapper.cpp).
    OSStatus open(AudioComponentInstance instance) noexcept;
    OSStatus initialize() noexcept;
    OSStatus uninitialize() noexcept;
    OSStatus reset() noexcept;
    // Channel count, prepare, then latency and tail; initialize and reset.
    void prepare() noexcept;
    bool is_initialized() const noexcept { return initialized.load(std::memory_order_acquire); }

    // Parameters and listeners (params.cpp).
    std::optional<Target> decode(AudioUnitParameterID id) const noexcept;
    std::vector<AudioUnitParameterID> param_ids() const;
    std::optional<float> get_value(AudioUnitParameterID id) const noexcept;
    // Writes a valid id's value (clamped and rounded by the parameter);
    // Meter parameters are the plug-in's to write and are skipped.
    void write_value(const Target& target, float value) noexcept;
    OSStatus get_parameter(AudioUnitParameterID id, AudioUnitScope scope,
                           AudioUnitElement element, AudioUnitParameterValue* value) noexcept;
    OSStatus set_parameter(AudioUnitParameterID id, AudioUnitScope scope,
                           AudioUnitElement element, AudioUnitParameterValue value,
                           UInt32 offset) noexcept;
    OSStatus schedule_parameters(const AudioUnitParameterEvent* events, UInt32 count) noexcept;
    OSStatus add_property_listener(AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                   void* user_data) noexcept;
    OSStatus remove_property_listener(AudioUnitPropertyID id,
                                      AudioUnitPropertyListenerProc proc) noexcept;
    OSStatus remove_property_listener_with_user_data(AudioUnitPropertyID id,
                                                     AudioUnitPropertyListenerProc proc,
                                                     void* user_data) noexcept;
    // Calls the listeners of `id` outside every lock, so they may call back in.
    void notify(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) noexcept;

    // Properties (properties.cpp).
    OSStatus get_property_info(AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element, UInt32* size,
                               Boolean* writable) noexcept;
    OSStatus get_property(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                          void* data, UInt32* size) noexcept;
    OSStatus set_property(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                          const void* data, UInt32 size) noexcept;
    OSStatus apply_class_info(CFPropertyListRef info) noexcept;
    std::vector<AUChannelInfo> channel_infos() const;

    // Render and MIDI (render.cpp).
    OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time_stamp,
                    UInt32 bus, UInt32 frames, AudioBufferList* data) noexcept;
    OSStatus add_render_notify(AURenderCallback proc, void* ref_con) noexcept;
    OSStatus remove_render_notify(AURenderCallback proc, void* ref_con) noexcept;
    void run_notifies(AudioUnitRenderActionFlags flag, AudioUnitRenderActionFlags& flags,
                      const AudioTimeStamp* time_stamp, UInt32 frames,
                      AudioBufferList* data) noexcept;
    OSStatus midi_event(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset) noexcept;
    OSStatus sysex(const UInt8* data, UInt32 length) noexcept;
};

// The component entry points the interface record holds.
OSStatus au_open(void* self, AudioComponentInstance instance);
OSStatus au_close(void* self);
AudioComponentMethod au_lookup(SInt16 selector);

// A new instance of P for the description, or null without one.
template <class P>
AudioComponentPlugInInterface* factory(const AudioComponentDescription* desc) noexcept {
    if (desc == nullptr) return nullptr;
    return Instance::create(*desc, std::make_unique<Adapter<P>>());
}

}  // namespace orba::au
