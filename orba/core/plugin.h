#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "orba/core/param.h"

namespace orba {

// A sample rate no real interface runs above, and the highest a wrapper passes
// on: delay lines size their memory in proportion to the rate, so a wild rate
// from a host must not reach them.
inline constexpr double MAX_SAMPLE_RATE = 768000.0;

struct ProcessSetup {
    std::size_t max_frames = 0;  // the graph works in 32-frame slices and ignores it
    float sample_rate = 48000.0f;
    std::uint32_t channels = 1;  // the same count for input and output
};

// Built fresh by the wrapper for every process call.
struct ProcessContext {
    std::optional<double> position;  // timeline position in samples
    std::optional<double> tempo;     // beats per minute
    float sample_rate = 48000.0f;
    bool playing = false;
};

inline constexpr float DEFAULT_TEMPO = 120.0f;

// The tempo processing runs at: the context's tempo narrowed to f32 when it is
// finite and at least 20 beats per minute, else 120.
float effective_tempo(const ProcessContext& context) noexcept;

// A bus's channel rule, a tagged variant of Fixed, Range and Any.
struct Channels {
    struct Fixed {
        std::uint32_t count = 0;
    };
    struct Range {
        std::uint32_t min = 0;
        std::uint32_t max = 0;
    };
    struct Any {};

    constexpr Channels(Fixed fixed) : rule(fixed) {}
    constexpr Channels(Range range) : rule(range) {}
    constexpr Channels(Any any) : rule(any) {}

    std::variant<Fixed, Range, Any> rule;
};

struct Bus {
    std::string_view name{};
    Channels channels = Channels::Any{};
};

// A plug-in type's constant bus layout; the spans point at static tables.
struct Layout {
    std::span<const Bus> inputs{};
    std::span<const Bus> outputs{};
};

// The channel counts a wrapper may run, both within 1 ... MAX_CHANNELS.
struct ChannelBounds {
    std::uint32_t min = 1;
    std::uint32_t max = MAX_CHANNELS;
    bool operator==(const ChannelBounds&) const = default;
};

// Which bus decides the bounds when a layout has no input bus: the CLAP
// wrapper never consults outputs, the Audio Unit wrapper takes the first
// output bus. Without any bus the bounds are 1 to 64.
enum class BoundsSource : std::uint8_t { FirstInput, FirstInputElseFirstOutput };

// Fixed n: n to n; Range lo..hi: lo to max(hi, lo); Any: 1 to 64; 0 counts as 1
// and everything is limited to MAX_CHANNELS.
ChannelBounds channel_bounds(const Channels& channels) noexcept;
ChannelBounds channel_bounds(const Layout& layout, BoundsSource source) noexcept;

// The count a wrapper runs before the host says otherwise: 2 limited to the bounds.
std::uint32_t starting_channels(ChannelBounds bounds) noexcept;

// One mutable buffer per channel, input on entry and output on return. Each
// buffer carries its own length; processing covers the shortest of the buffers
// it processes and never touches memory beyond any of them.
using Buffers = std::span<const std::span<float>>;

// Writes 0 over every sample that is not finite and leaves every finite one as
// it is, bit for bit. Both wrappers run it on what they hand back: a parallel
// sum of huge but finite branches can overflow at the output with no state
// gone bad, and an infinity in a host's mix bus poisons everything after us.
void silence_non_finite(Buffers buffers) noexcept;

// What every plug-in implements and both host wrappers drive. A plug-in is
// default-constructible; everything that can fail is settled then.
class Plugin {
  public:
    virtual ~Plugin() = default;

    // The type's constant layout, the same value on every call.
    virtual Layout layout() const = 0;
    // The wrappers keep a second handle to the same set.
    virtual std::shared_ptr<ParamSet> params() const = 0;
    // Allocates everything that depends on sample rate and channel count and
    // resets processing state; never overlaps process.
    virtual void prepare(const ProcessSetup& setup) = 0;
    // Real time: must not allocate, lock or block. With no buffers it does
    // nothing; with zero frames it only refreshes meters.
    virtual void process(Buffers buffers, const ProcessContext& context) = 0;
    // Both are called on the audio thread after every block and must not allocate.
    virtual std::uint32_t latency_samples() = 0;
    // For the parameter values in force at the time of the call.
    virtual std::uint32_t tail_samples() = 0;
    virtual bool is_instrument() const { return false; }
    // One short MIDI message at a frame offset within the next block.
    virtual void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                      std::uint32_t frame_offset) {
        (void)status;
        (void)data1;
        (void)data2;
        (void)frame_offset;
    }
};

}  // namespace orba
