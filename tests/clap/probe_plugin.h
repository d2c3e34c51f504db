#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <string_view>

#include "orba/clap/wrapper.h"
#include "orba/core/fatal.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

// A small plug-in that lets a host-side test see what the wrapper did: it
// scales each channel by a gain and a per-channel trim, reports a latency the
// host can change through a parameter, and writes what it was prepared and
// called with into Meter parameters, which any host can read.
namespace orba::test {

inline constexpr std::string_view PROBE_MODES[] = {"Normal", "PingPong"};
// Characters of two, three and four bytes, so that every cut of the text can
// land inside one.
inline constexpr std::string_view PROBE_GAIN_HELP =
    "Level in dB, \u221260 to +12 \u2014 \u00e9cho \U0001D11E end";
inline constexpr float PROBE_BIG = 1e12f;

constexpr ParamInfo probe_meter(std::string_view id, float min, float max) {
    return ParamInfo{.id = id,
                     .name = id,
                     .group = "Probe",
                     .min = min,
                     .max = max,
                     .default_value = min,
                     .kind = ParamKind::Meter};
}

// In the order of Probe::Index.
inline constexpr ParamInfo PROBE_TABLE[] = {
    {.id = "gain",
     .name = "Gain",
     .help = PROBE_GAIN_HELP,
     .unit = "dB",
     .group = "Out",
     .min = -60.0f,
     .max = 12.0f,
     .default_value = 0.0f},
    {.id = "mode",
     .name = "Mode",
     .group = "Out",
     .choices = PROBE_MODES,
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Choice},
    {.id = "bypass",
     .name = "Bypass",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Toggle},
    {.id = "latency",
     .name = "Latency",
     .unit = "smp",
     .min = 0.0f,
     .max = 4096.0f,
     .default_value = 0.0f},
    {.id = "trim",
     .name = "Trim",
     .help = "Each channel's own level.",
     .group = "Trims",
     .min = 0.0f,
     .max = 2.0f,
     .default_value = 1.0f,
     .per_channel = true},
    probe_meter("frames", 0.0f, PROBE_BIG),
    probe_meter("rate", 0.0f, PROBE_BIG),
    probe_meter("prepares", 0.0f, PROBE_BIG),
    probe_meter("notifies", 0.0f, PROBE_BIG),
    probe_meter("tempo", -1.0f, PROBE_BIG),
    probe_meter("position", -1.0f, PROBE_BIG),
    probe_meter("playing", 0.0f, 1.0f),
    probe_meter("flushed", 0.0f, 2.0f),
};

class Probe final : public Plugin {
  public:
    enum Index : std::size_t {
        GAIN,
        MODE,
        BYPASS,
        LATENCY,
        TRIM,  // per channel
        FRAMES,
        RATE,
        PREPARES,
        NOTIFIES,
        TEMPO,
        POSITION,
        PLAYING,
        FLUSHED,
        COUNT
    };
    static_assert(std::size(PROBE_TABLE) == COUNT);

    static constexpr Bus INPUTS[] = {{.name = "Main", .channels = Channels::Range{1, 64}}};
    static constexpr Bus OUTPUTS[] = {{.name = "Main", .channels = Channels::Any{}}};

    Probe() {
        auto set = ParamSet::with_channels(PROBE_TABLE, MAX_CHANNELS);
        if (!set) fatal(set.error());
        params_ = std::move(set.value());
        params_->install_listener([](ParamSet& s) { bump(s.at(NOTIFIES)); });
    }

    Layout layout() const override { return Layout{.inputs = INPUTS, .outputs = OUTPUTS}; }
    std::shared_ptr<ParamSet> params() const override { return params_; }

    void prepare(const ProcessSetup& setup) override {
        params_->at(FRAMES).set(static_cast<float>(setup.max_frames));
        params_->at(RATE).set(setup.sample_rate);
        bump(params_->at(PREPARES));
        latency_ = latency_param();
    }

    void process(Buffers buffers, const ProcessContext& context) override {
        // The smallest normal float halved is a denormal unless results are
        // flushed: 1. A denormal input read as zero as well makes it 2.
        volatile float smallest = std::numeric_limits<float>::min();
        volatile float denormal = 1e-39f;
        const bool results = smallest * 0.5f == 0.0f;
        const bool inputs = denormal * 1e10f == 0.0f;
        params_->at(FLUSHED).set(results ? (inputs ? 2.0f : 1.0f) : 0.0f);
        params_->at(TEMPO).set(context.tempo ? static_cast<float>(*context.tempo) : -1.0f);
        params_->at(POSITION).set(context.position ? static_cast<float>(*context.position) : -1.0f);
        params_->at(PLAYING).set(context.playing ? 1.0f : 0.0f);
        const bool bypass = params_->at(BYPASS).get() >= 0.5f;
        const float gain = std::pow(10.0f, params_->at(GAIN).get() / 20.0f);
        for (std::size_t c = 0; c < buffers.size(); ++c) {
            const float g = bypass ? 1.0f : gain * params_->at(TRIM).get_ch(c);
            for (float& sample : buffers[c])
                sample *= g;
        }
        latency_ = latency_param();
    }

    std::uint32_t latency_samples() override { return latency_; }
    // Twice the latency, so a test can see the tail follow a parameter.
    std::uint32_t tail_samples() override { return 2 * latency_param(); }

  private:
    static void bump(Param& p) { p.set(p.get() + 1.0f); }
    std::uint32_t latency_param() const {
        return static_cast<std::uint32_t>(params_->at(LATENCY).get());
    }

    std::shared_ptr<ParamSet> params_;
    std::uint32_t latency_ = 0;
};

inline constexpr std::string_view PROBE_FEATURES[] = {"audio-effect", "utility"};
// The description holds a NUL byte, which the descriptor must drop.
inline constexpr clap::Config PROBE_CONFIG{
    .id = "orba.test.probe",
    .name = "Orba Probe",
    .vendor = "Orba",
    .url = "",
    .version = "1.0.0",
    .description = std::string_view("Measures\0 its host", 18),
    .features = PROBE_FEATURES,
};

}  // namespace orba::test
