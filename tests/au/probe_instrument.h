#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>

#include "orba/core/fatal.h"
#include "orba/core/param.h"
#include "orba/core/plugin.h"

// An instrument for the MIDI path: it takes no audio input, counts the MIDI
// messages it is handed and keeps the last one in Meter parameters, where a
// host can read them.
namespace orba::test {

constexpr ParamInfo instrument_meter(std::string_view id, float max) {
    return ParamInfo{.id = id, .name = id, .min = 0.0f, .max = max, .kind = ParamKind::Meter};
}

inline constexpr ParamInfo INSTRUMENT_TABLE[] = {
    {.id = "level", .name = "Level", .min = 0.0f, .max = 1.0f, .default_value = 0.5f},
    instrument_meter("messages", 1e9f),
    instrument_meter("status", 255.0f),
    instrument_meter("data1", 127.0f),
    instrument_meter("data2", 127.0f),
    instrument_meter("offset", 1e9f),
};

class ProbeInstrument final : public Plugin {
  public:
    enum Index : std::size_t { LEVEL, MESSAGES, STATUS, DATA1, DATA2, OFFSET, COUNT };
    static_assert(std::size(INSTRUMENT_TABLE) == COUNT);

    static constexpr Bus OUTPUTS[] = {{.name = "Main", .channels = Channels::Range{1, 32}}};

    ProbeInstrument() {
        auto set = ParamSet::with_channels(INSTRUMENT_TABLE, MAX_CHANNELS);
        if (!set) fatal(set.error());
        params_ = std::move(set.value());
    }

    Layout layout() const override { return Layout{.outputs = OUTPUTS}; }
    std::shared_ptr<ParamSet> params() const override { return params_; }
    void prepare(const ProcessSetup&) override {}
    // A constant level, so a host sees that the instrument rendered.
    void process(Buffers buffers, const ProcessContext&) override {
        const float level = params_->at(LEVEL).get();
        for (std::span<float> channel : buffers)
            for (float& sample : channel)
                sample = level;
    }
    std::uint32_t latency_samples() override { return 0; }
    std::uint32_t tail_samples() override { return 0; }
    bool is_instrument() const override { return true; }
    void midi(std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
              std::uint32_t offset) override {
        Param& messages = params_->at(MESSAGES);
        messages.set(messages.get() + 1.0f);
        params_->at(STATUS).set(status);
        params_->at(DATA1).set(data1);
        params_->at(DATA2).set(data2);
        params_->at(OFFSET).set(static_cast<float>(offset));
    }

  private:
    std::shared_ptr<ParamSet> params_;
};

}  // namespace orba::test
