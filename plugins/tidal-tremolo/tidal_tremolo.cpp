#include "tidal-tremolo/tidal_tremolo.h"

#include <array>
#include <string_view>

#include "orba/core/fatal.h"

namespace orba {

namespace tidal {

const std::string_view GRAPH_TEXT = R"json({
  "modulators": [{"id": "drift", "shape": "triangle", "rate": 0.15}],
  "mix": "mix",
  "chain": [
    {"block": "tremolo",
     "args": {"rate_hz": "if(tempo_sync, 1000 / sync(0.25 * 2^division), speed)",
              "depth": "depth", "shape": "shape", "stereo_phase": "spread"}},
    {"block": "filter", "args": {"type": "lowpass", "freq": "tone * 2^(wander * drift)"}},
    {"block": "gain", "args": {"gain_db": "level"}}
  ]
})json";

}  // namespace tidal

namespace {

constexpr std::array<std::string_view, 2> SWITCH{"Off", "On"};
constexpr std::array<std::string_view, 5> DIVISIONS{"1/16", "1/8", "1/4", "1/2", "1/1"};
constexpr std::array<std::string_view, 2> SHAPES{"Sine", "Triangle"};

constexpr std::array<ParamInfo, 10> TABLE{{
    {.id = "speed",
     .name = "Speed",
     .help = "Cycles each second while Sync is off.",
     .unit = "Hz",
     .group = "Tremolo",
     .min = 0.1f,
     .max = 20.0f,
     .default_value = 4.0f,
     .log = true},
    {.id = "tempo_sync",
     .name = "Sync",
     .help = "On: one cycle per note length at the host's tempo, and Speed is ignored.",
     .group = "Tremolo",
     .choices = SWITCH,
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Choice},
    {.id = "division",
     .name = "Note",
     .help = "The note length of one cycle while Sync is on.",
     .group = "Tremolo",
     .choices = DIVISIONS,
     .min = 0.0f,
     .max = 4.0f,
     .default_value = 2.0f,
     .kind = ParamKind::Choice},
    {.id = "depth",
     .name = "Depth",
     .help = "How far the level dips at the bottom of each cycle.",
     .group = "Tremolo",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.5f},
    {.id = "shape",
     .name = "Shape",
     .help = "The wave of the level.",
     .group = "Tremolo",
     .choices = SHAPES,
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f,
     .kind = ParamKind::Choice},
    {.id = "spread",
     .name = "Spread",
     .help = "How far the right channel's cycle runs behind the left; 180 is an auto-pan.",
     .unit = "deg",
     .group = "Tremolo",
     .min = 0.0f,
     .max = 180.0f,
     .default_value = 0.0f},
    {.id = "tone",
     .name = "Tone",
     .help = "Cutoff of the low-pass after the tremolo.",
     .unit = "Hz",
     .group = "Tone",
     .min = 500.0f,
     .max = 20000.0f,
     .default_value = 12000.0f,
     .log = true},
    {.id = "wander",
     .name = "Wander",
     .help = "How many octaves the cutoff drifts either side of Tone, once every few seconds.",
     .group = "Tone",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 0.0f},
    {.id = "level",
     .name = "Level",
     .help = "Output level of the processed signal.",
     .unit = "dB",
     .group = "Output",
     .min = -24.0f,
     .max = 6.0f,
     .default_value = 0.0f},
    {.id = "mix",
     .name = "Mix",
     .help = "Blend of dry and processed signal.",
     .group = "Output",
     .min = 0.0f,
     .max = 1.0f,
     .default_value = 1.0f},
}};

constexpr Bus INPUTS[] = {{"Main", Channels::Range{1, MAX_CHANNELS}}};
constexpr Bus OUTPUTS[] = {{"Main", Channels::Any{}}};

std::shared_ptr<ParamSet> make_params() {
    auto params = ParamSet::with_channels(TABLE, MAX_CHANNELS);
    if (!params) fatal("the Tidal Tremolo parameter table is faulty: " + params.error());
    return std::move(params).value();
}

Graph make_graph() {
    auto graph = Graph::from_str(tidal::GRAPH_TEXT, tidal::PARAM_NAMES);
    if (!graph) fatal("the Tidal Tremolo graph does not compile: " + graph.error());
    return std::move(graph).value();
}

}  // namespace

const std::span<const ParamInfo> TidalTremolo::PARAMS = TABLE;

TidalTremolo::TidalTremolo() : params_(make_params()), graph_(make_graph()) {}

Layout TidalTremolo::layout() const {
    return Layout{INPUTS, OUTPUTS};
}

void TidalTremolo::prepare(const ProcessSetup& setup) {
    graph_.prepare(setup);
}

void TidalTremolo::process(Buffers buffers, const ProcessContext& context) {
    graph_.process(*params_, buffers, context);
}

std::uint32_t TidalTremolo::latency_samples() {
    return graph_.latency_samples();
}

std::uint32_t TidalTremolo::tail_samples() {
    return graph_.tail_for(*params_);
}

}  // namespace orba
