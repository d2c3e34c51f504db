#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orba/core/result.h"

namespace orba {

// No layout, wrapper or parameter set runs more than this many channels.
inline constexpr std::uint32_t MAX_CHANNELS = 64;

enum class ParamKind : std::uint8_t {
    Float = 0,
    Choice = 1,
    Toggle = 2,
    Meter = 3,  // read-only for hosts: written by the plug-in's graph meters
};

// Choice lists plug-ins share: a switch, and note lengths from a sixteenth to
// a whole note, each twice the one before (index k is 2^k sixteenths).
inline constexpr std::array<std::string_view, 2> SWITCH{"Off", "On"};
inline constexpr std::array<std::string_view, 5> NOTE_LENGTHS{"1/16", "1/8", "1/4", "1/2", "1/1"};

// One parameter's description, a row of a plug-in's constant table.
struct ParamInfo {
    std::string_view id{};  // the name graph expressions use; unique in the table
    std::string_view name{};
    std::string_view help{};
    std::string_view unit{};  // may be empty
    std::string_view group{};
    std::span<const std::string_view> choices{};      // names of 0, 1, 2 ... for a Choice
    std::string (*formatter)(float value) = nullptr;  // replaces the built-in display
    float min = 0.0f;
    float max = 0.0f;
    float default_value = 0.0f;  // also replaces a value that is not a number
    ParamKind kind = ParamKind::Float;
    bool log = false;  // display hint for hosts; values are stored linearly
    bool per_channel = false;

    // "400.00 ms", "0.62", "On", "PingPong": two decimals of the exact binary
    // value (ties to even), independent of the process locale. Main thread only:
    // it allocates.
    std::string display(float value) const;
};

// One parameter's live value slots. Each slot is a single 32-bit word written
// and read whole without locks, so the audio thread, the main thread and a
// host's parameter thread may all touch it at once.
class Param {
  public:
    // Checks the record and fills every slot with its default. The texts of
    // `info` are copied, so the table need not outlive the parameter.
    static Result<Param> create(const ParamInfo& info, std::size_t max_channels);

    Param(Param&&) noexcept;
    Param& operator=(Param&&) noexcept;
    ~Param();

    const ParamInfo& info() const noexcept { return *info_; }
    std::size_t slot_count() const noexcept { return slot_count_; }

    float get() const noexcept { return load(0); }
    // A channel at or beyond the slots reads the last one, so a plain parameter
    // answers with its one value for every channel.
    float get_ch(std::size_t channel) const noexcept { return load(slot_of(channel)); }
    // Normalises and writes every slot; returns the stored value.
    float set(float value) noexcept;
    // Normalises and writes one slot (the last one for a channel beyond them);
    // returns the stored value.
    float set_ch(std::size_t channel, float value) noexcept;

    // Not a number gives the default; otherwise limited to [min, max], and
    // rounded half away from zero for Choice and Toggle.
    float normalise(float value) const noexcept;

  private:
    struct Owned;
    Param();

    std::size_t slot_of(std::size_t channel) const noexcept {
        return channel < slot_count_ ? channel : slot_count_ - 1;
    }
    float load(std::size_t slot) const noexcept;
    void store(std::size_t slot, float value) noexcept;

    std::unique_ptr<Owned> owned_;  // stable address: info_ views into it
    const ParamInfo* info_ = nullptr;
    std::unique_ptr<std::atomic<std::uint32_t>[]> slots_;  // float bits
    std::size_t slot_count_ = 0;
};

// The parameters a plug-in and its host wrapper share through
// std::shared_ptr; freed with the last handle. The parameters, their order and
// slot counts never change after construction.
class ParamSet {
    struct Token {};

  public:
    // Builds one Param per row in table order, then rejects a repeated id.
    // A ceiling below 2 counts as 1 and one above MAX_CHANNELS as MAX_CHANNELS.
    static Result<std::shared_ptr<ParamSet>> with_channels(std::span<const ParamInfo> table,
                                                           std::size_t max_channels);

    ParamSet(Token, std::vector<Param> params, std::size_t max_channels);
    ParamSet(const ParamSet&) = delete;
    ParamSet& operator=(const ParamSet&) = delete;

    std::size_t size() const noexcept { return params_.size(); }
    // An index at or beyond size() is a programming error and aborts.
    Param& at(std::size_t index);
    const Param& at(std::size_t index) const;
    std::span<Param> params() noexcept { return params_; }
    std::span<const Param> params() const noexcept { return params_; }

    std::size_t max_channels() const noexcept { return max_channels_; }
    std::size_t channels() const noexcept { return channels_.load(std::memory_order_relaxed); }
    // Limited to 1 ... max_channels().
    void set_channels(std::size_t n) noexcept;

    // Only the first call installs; returns whether this one did.
    bool install_listener(std::function<void(ParamSet&)> listener);
    // Calls the listener, if one is installed, after values changed outside
    // audio processing (a loaded state, a flush on an inactive instance).
    void notify();

  private:
    std::vector<Param> params_;
    std::size_t max_channels_ = 1;
    std::atomic<std::size_t> channels_{1};
    std::once_flag listener_once_;
    std::atomic<bool> has_listener_{false};
    std::function<void(ParamSet&)> listener_;
};

}  // namespace orba
