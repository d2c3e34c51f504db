// clap-render driven as a process through the built Varnel Delay library, and
// checked against the same plug-in processed directly.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "orba/clap/abi.h"
#include "orba/core/charconv.h"
#include "orba/core/flush_denormals.h"
#include "render_support.h"
#include "varnel-delay/varnel_delay.h"

namespace orba::test {
namespace {

using Args = std::vector<std::string>;

Args with_varnel(Args args) {
    Args all{"--plugin", VARNEL_DELAY_CLAP, "--quiet", "--float"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

constexpr double RATE = 48000.0;
constexpr double BPM = 120.0;

// Varnel Delay run the way clap-render runs it: parameters set before
// preparation, blocks of `block` frames with the playing 120 BPM transport the
// wrapper turns into a context, then `after` frames of silence.
Audio process_directly(const Audio& input, std::uint32_t block,
                       const std::vector<std::pair<std::size_t, float>>& values,
                       std::int64_t after = 20 * 48000) {
    const auto channels = static_cast<std::uint32_t>(input.channels);
    VarnelDelay plugin;
    const auto params = plugin.params();
    params->set_channels(channels);
    for (const auto& [index, value] : values)
        params->at(index).set(value);
    plugin.prepare({block, static_cast<float>(RATE), channels});

    FlushDenormals flush;  // as the CLAP wrapper does while the plug-in runs
    std::vector<std::vector<float>> planar(channels, std::vector<float>(block));
    std::vector<std::span<float>> spans(channels);
    Audio output{input.rate, input.channels, {}, input.format};
    const std::int64_t frames = static_cast<std::int64_t>(input.frames());
    const std::int64_t total = frames + after;
    std::uint32_t n = 0;
    for (std::int64_t start = 0; start < total; start += n) {
        // The input's last block ends with it.
        n = static_cast<std::uint32_t>(
            std::min<std::int64_t>(block, (start < frames ? frames : total) - start));
        for (std::uint32_t c = 0; c < channels; ++c) {
            for (std::uint32_t f = 0; f < n; ++f) {
                const std::int64_t at = start + f;
                planar[c][f] = at < frames
                                   ? input.at(static_cast<std::size_t>(at), static_cast<int>(c))
                                   : 0.0f;
            }
            spans[c] = std::span<float>(planar[c].data(), n);
        }
        ProcessContext context;
        const auto song_pos = std::llround(static_cast<double>(start) / RATE *
                                           static_cast<double>(clap::abi::CLAP_SECTIME_FACTOR));
        context.position = static_cast<double>(song_pos) /
                           static_cast<double>(clap::abi::CLAP_SECTIME_FACTOR) * RATE;
        context.tempo = BPM;
        context.sample_rate = static_cast<float>(RATE);
        context.playing = true;
        plugin.process(spans, context);
        for (std::uint32_t f = 0; f < n; ++f) {
            for (std::uint32_t c = 0; c < channels; ++c)
                output.samples.push_back(planar[c][f]);
        }
    }
    return output;
}

// A full render cut where it falls below the threshold (-120 dBFS) for good,
// but never shorter than its input.
Audio rung_out(Audio full, std::size_t input_frames, float threshold = 1e-6f) {
    std::size_t end = input_frames;
    for (std::size_t i = 0; i < full.samples.size(); ++i) {
        if (std::fabs(full.samples[i]) >= threshold)
            end = std::max(end, i / static_cast<std::size_t>(full.channels) + 1);
    }
    full.samples.resize(end * static_cast<std::size_t>(full.channels));
    return full;
}

void expect_same_audio(const Audio& actual, const Audio& expected) {
    ASSERT_EQ(actual.channels, expected.channels);
    ASSERT_EQ(actual.frames(), expected.frames());
    for (std::size_t i = 0; i < expected.samples.size(); ++i) {
        ASSERT_EQ(actual.samples[i], expected.samples[i])
            << "frame " << i / 2 << " channel " << i % 2;
    }
}

TEST(ClapRenderVarnel, RenderIsThePluginProcessedDirectlyForTwoBlockSizes) {
    TempDir dir;
    const Audio input = noise(24000, 2);
    write_audio(dir / "in.wav", input);
    // time 250 ms, feedback 0.6, mode PingPong (index 0, 3 and 5)
    const std::vector<std::pair<std::size_t, float>> values{{0, 250.0f}, {3, 0.6f}, {5, 1.0f}};

    for (const std::uint32_t block : {64u, 1000u}) {
        const Outcome run =
            run_tool(dir, with_varnel({"--block", std::to_string(block), "--set", "time=250ms",
                                       "--set", "feedback=0.6", "--set", "mode=PingPong",
                                       dir / "in.wav", dir / "out.wav"}));
        ASSERT_EQ(run.status, 0) << run.err;
        const Audio rendered = read_audio(dir / "out.wav");
        EXPECT_GT(rendered.frames(), input.frames()) << "no tail at block " << block;
        expect_same_audio(rendered,
                          rung_out(process_directly(input, block, values), input.frames()));
    }
}

TEST(ClapRenderVarnel, MixAtZeroReturnsTheInput) {
    TempDir dir;
    const Audio input = noise(10000, 2);
    write_audio(dir / "in.wav", input);
    const Outcome run =
        run_tool(dir, with_varnel({"--set", "mix=0", "--no-tail", dir / "in.wav", dir / "o.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    expect_same_audio(read_audio(dir / "o.wav"), input);
}

TEST(ClapRenderVarnel, SavedStateReproducesTheRender) {
    TempDir dir;
    write_audio(dir / "in.wav", noise(12000, 2));
    const Args settings{"--set", "time=300ms", "--set", "decay=-9dB", "--set", "mode=pingpong"};
    Args first = settings;
    first.insert(first.end(), {"--save-state", dir / "v.state", dir / "in.wav", dir / "a.wav"});
    ASSERT_EQ(run_tool(dir, with_varnel(first)).status, 0);
    ASSERT_EQ(
        run_tool(dir, with_varnel({"--load-state", dir / "v.state", dir / "in.wav", dir / "b.wav"}))
            .status,
        0);
    ASSERT_EQ(run_tool(dir, with_varnel({dir / "in.wav", dir / "c.wav"})).status, 0);

    const Audio a = read_audio(dir / "a.wav");
    expect_same_audio(read_audio(dir / "b.wav"), a);
    EXPECT_NE(read_audio(dir / "c.wav").samples, a.samples) << "the settings made no difference";
}

TEST(ClapRenderVarnel, RampOfMixMovesFromWetToDryAndEndsOnTheInput) {
    TempDir dir;
    const Audio input = noise(48000, 2);
    write_audio(dir / "in.wav", input);
    const Outcome run = run_tool(dir, with_varnel({"--ramp", "mix=1:0", "--no-tail", "--block",
                                                   "512", dir / "in.wav", dir / "o.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const Audio output = read_audio(dir / "o.wav");
    ASSERT_EQ(output.frames(), input.frames());

    // The first echo (the innermost delay, 400 ms x 0.618^6) is 22 ms away, so
    // the nearly all-wet first block is nearly silent.
    for (std::size_t i = 0; i < 512 * 2; ++i) {
        ASSERT_LE(std::fabs(output.samples[i]), 0.02f * std::fabs(input.samples[i]) + 1e-6f)
            << "sample " << i;
    }
    // The ramp moves every 32 frames, so the last frames are dry but for a mix
    // of at most (frames left + 32) / 48000.
    for (std::size_t i = (48000 - 256) * 2; i < input.samples.size(); ++i) {
        const double mix = static_cast<double>(48000 - i / 2 + 32) / 48000.0;
        ASSERT_NEAR(output.samples[i], input.samples[i], 3.0 * mix) << "sample " << i;
    }
}

// The level in dBFS of what lies above 4 kHz, through an 8th-order
// Butterworth high-pass (four biquads).
double level_above_4khz(const Audio& audio) {
    constexpr double PI = 3.14159265358979323846;
    const double w = 2.0 * PI * 4000.0 / audio.rate;
    double sum = 0.0;
    std::size_t count = 0;
    for (int c = 0; c < audio.channels; ++c) {
        std::vector<double> x(audio.frames());
        for (std::size_t f = 0; f < x.size(); ++f)
            x[f] = audio.at(f, c);
        for (const double q : {0.5098, 0.6013, 0.9000, 2.5629}) {
            const double alpha = std::sin(w) / (2.0 * q);
            const double a0 = 1.0 + alpha;
            const double b0 = (1.0 + std::cos(w)) / 2.0 / a0;
            const double b1 = -(1.0 + std::cos(w)) / a0;
            const double a1 = -2.0 * std::cos(w) / a0;
            const double a2 = (1.0 - alpha) / a0;
            double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
            for (double& v : x) {
                const double y = b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
                x2 = x1;
                x1 = v;
                y2 = y1;
                y1 = y;
                v = y;
            }
        }
        for (std::size_t f = 0; f < x.size(); ++f) {
            sum += x[f] * x[f];
            ++count;
        }
    }
    return 10.0 * std::log10(sum / static_cast<double>(count) + 1e-30);
}

TEST(ClapRenderVarnel, RampsOfTimeAndRatioAddNoAudibleHissAtAnyBlockSize) {
    TempDir dir;
    // Two seconds of a 220 Hz sine at -12 dBFS, faded in over 50 ms by a
    // raised cosine, so that nothing of its own lies above 4 kHz. An abrupt
    // start would be a click whose echoes hide what a ramp adds.
    Audio sine{48000, 2, {}, SF_FORMAT_WAV | SF_FORMAT_FLOAT};
    for (std::size_t f = 0; f < 96000; ++f) {
        const double t = static_cast<double>(f) / 48000.0;
        const double fade = t < 0.05 ? 0.5 - 0.5 * std::cos(3.14159265358979 * t / 0.05) : 1.0;
        const auto v =
            static_cast<float>(0.25 * fade * std::sin(2.0 * 3.14159265358979 * 220.0 * t));
        sine.samples.insert(sine.samples.end(), {v, v});
    }
    write_audio(dir / "sine.wav", sine);
    ASSERT_LT(level_above_4khz(sine), -140.0);
    // A moving delay reads between samples at a position held in a 32-bit
    // float: from 8192 to 32768 samples a multiple of 1/1024 or 1/512 of a
    // sample. That rounding jitters the phase of what is read, a hiss of about
    // -110 dBFS above 4 kHz for this sine (+6 dB per octave of the sine), some
    // 45 dB above a steady render whose position never moves. It is the
    // delay's own arithmetic and far below hearing, under the noise of a
    // 16-bit file. A ramp sent as a staircase, one value per host block, makes
    // -66 dBFS at 512 frames and -52 dBFS at 4096. So a ramp passes within
    // 20 dB of the steady render or below -90 dBFS.
    constexpr double INAUDIBLE = -90.0;
    const std::pair<const char*, const char*> ramps[] = {
        {"time=400ms", "time=300ms:500ms"},
        {"ratio=0.6", "ratio=0.5:0.7"},
    };
    for (const auto& [steady, ramp] : ramps) {
        for (const char* block : {"512", "4096"}) {
            ASSERT_EQ(
                run_tool(dir, with_varnel({"--no-tail", "--block", block, "--set", steady, "--set",
                                           "mix=1", dir / "sine.wav", dir / "steady.wav"}))
                    .status,
                0);
            ASSERT_EQ(
                run_tool(dir, with_varnel({"--no-tail", "--block", block, "--ramp", ramp, "--set",
                                           "mix=1", dir / "sine.wav", dir / "ramp.wav"}))
                    .status,
                0);
            const double steady_level = level_above_4khz(read_audio(dir / "steady.wav"));
            const double ramp_level = level_above_4khz(read_audio(dir / "ramp.wav"));
            EXPECT_LT(ramp_level, std::max(steady_level + 20.0, INAUDIBLE))
                << ramp << " at block " << block << ": " << ramp_level << " dBFS against "
                << steady_level;
        }
    }
}

TEST(ClapRenderVarnel, TailEndsWhereAFullRenderFallsBelowTheThresholdForGood) {
    struct Case {
        Args args;
        std::vector<std::pair<std::size_t, float>> values;  // time, ratio and feedback
        bool impulse;  // else a burst of noise and six seconds of silence
        float threshold;
        std::int64_t after = 30 * 48000;  // frames of silence rendered after the input
    };
    const Case cases[] = {
        // Echoes a second apart with silence between them, wider than any
        // fixed window of quiet.
        {{"--set", "time=1000ms", "--set", "ratio=0.2", "--set", "feedback=0.6"},
         {{0, 1000.0f}, {1, 0.2f}, {3, 0.6f}},
         true,
         1e-6f},
        {{}, {}, false, 1e-6f},
        {{"--tail-threshold", "-60"}, {}, true, 1e-3f},
        // Cut at --tail-max, in a gap between two echoes.
        {{"--set", "feedback=0.9", "--tail-max", "0.5"}, {{3, 0.9f}}, true, 1e-6f, 24000},
    };
    Audio impulse{48000, 2, {1.0f, 1.0f}, SF_FORMAT_WAV | SF_FORMAT_FLOAT};
    Audio burst = noise(4800, 2);
    burst.samples.resize(burst.samples.size() + 6 * 48000 * 2, 0.0f);
    for (const Case& c : cases) {
        TempDir dir;
        const Audio& input = c.impulse ? impulse : burst;
        write_audio(dir / "in.wav", input);
        Args args = c.args;
        args.insert(args.end(), {dir / "in.wav", dir / "out.wav"});
        const Outcome run = run_tool(dir, with_varnel(args));
        ASSERT_EQ(run.status, 0) << run.err;
        const Audio out = read_audio(dir / "out.wav");
        const Audio full =
            rung_out(process_directly(input, 512, c.values, c.after), input.frames(), c.threshold);
        ASSERT_GT(full.frames(), 20000u) << "the case rang out at once";
        EXPECT_LE(std::max(out.frames(), full.frames()) - std::min(out.frames(), full.frames()),
                  32u)
            << run.out;
        const std::size_t common = std::min(out.samples.size(), full.samples.size());
        const auto differ =
            std::mismatch(out.samples.begin(), out.samples.begin() + common, full.samples.begin());
        EXPECT_EQ(differ.first - out.samples.begin(), common) << run.out;
    }
}

TEST(ClapRenderVarnel, MixAtZeroHasNoTailAndTailMaxCutsALongOne) {
    struct Case {
        Args args;
        std::size_t frames;  // 0: any
        const char* tail;    // in the summary
    };
    const Case cases[] = {
        {{"--impulse", "--set", "mix=0"}, 1, "tail 0.00 s"},
        {{"{dir}/in.wav", "--set", "mix=0%"}, 4800, "tail 0.00 s"},
        {{"--impulse", "--set", "feedback=0.9", "--tail-max", "0.5"}, 0, "(cut at --tail-max)"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        write_audio(dir / "in.wav", noise(4800, 2));
        Args args;
        for (const std::string& a : c.args)
            args.push_back(a == "{dir}/in.wav" ? dir / "in.wav" : a);
        args.insert(args.end(), {"-o", dir / "out.wav"});
        const Outcome run = run_tool(dir, with_varnel(args));
        ASSERT_EQ(run.status, 0) << args[0] << ": " << run.err;
        EXPECT_NE(run.out.find(c.tail), std::string::npos) << run.out;
        if (c.frames != 0) {
            EXPECT_EQ(read_audio(dir / "out.wav").frames(), c.frames) << run.out;
        }
    }
}

TEST(ClapRenderVarnel, NamesTheFormatAndWarnsOfClippingOnlyWhereItClips) {
    TempDir dir;
    Audio loud = noise(24000, 2);
    for (float& s : loud.samples)
        s = s < 0.0f ? -1.0f : 1.0f;
    loud.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    write_audio(dir / "loud.wav", loud);
    const std::tuple<Args, const char*, bool> cases[] = {
        {{}, ", WAV 16-bit", true},
        {{"--float"}, ", WAV 32-bit float", false},
        {{"-o", dir / "out.aiff"}, ", AIFF 16-bit", true},
    };
    for (const auto& [extra, format, clips] : cases) {
        Args args{"--plugin", VARNEL_DELAY_CLAP, "-q", "--set", "mix=100%", dir / "loud.wav"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome run = run_tool(dir, args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(format), std::string::npos) << run.out;
        if (!clips) {
            EXPECT_EQ(run.err, "");
            continue;
        }
        EXPECT_TRUE(run.err.starts_with("clap-render: warning: ")) << run.err;
        EXPECT_NE(run.err.find(std::string(" samples were clipped at full scale in ") +
                               (format + 2) + " (peak "),
                  std::string::npos)
            << run.err;
        EXPECT_TRUE(run.err.ends_with(" dBFS); --float keeps them\n")) << run.err;
    }
}

// Whether `xml` is well formed: one root, every tag closed in order, quoted
// attributes, and '&' only in the five entities.
bool well_formed(const std::string& xml) {
    std::vector<std::string> open;
    bool root_seen = false;
    for (std::size_t i = 0; i < xml.size();) {
        if (xml[i] == '&') {
            const std::size_t end = xml.find(';', i);
            const std::string entity = end == std::string::npos ? "" : xml.substr(i, end - i + 1);
            if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;" &&
                entity != "&apos;") {
                return false;
            }
            i = end + 1;
            continue;
        }
        if (xml[i] != '<') {
            if (open.empty() && xml[i] != '\n' && xml[i] != ' ') return false;
            ++i;
            continue;
        }
        const std::size_t end = xml.find('>', i);
        if (end == std::string::npos) return false;
        std::string tag = xml.substr(i + 1, end - i - 1);
        i = end + 1;
        if (tag.starts_with("?")) continue;
        if (std::count(tag.begin(), tag.end(), '"') % 2 != 0) return false;
        if (tag.starts_with("/")) {
            if (open.empty() || open.back() != tag.substr(1)) return false;
            open.pop_back();
            continue;
        }
        const bool empty = tag.ends_with("/");
        const std::string name = tag.substr(0, tag.find_first_of(" /"));
        if (open.empty() && root_seen) return false;
        root_seen = true;
        if (!empty) open.push_back(name);
    }
    return root_seen && open.empty();
}

TEST(ClapRenderVarnel, PlotLabelsTheEchoesItsTableLists) {
    TempDir dir;
    const Outcome run = run_tool(dir, with_varnel({"--impulse", "--echoes", "--plot",
                                                   dir / "ir.svg", "-o", dir / "ir.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string svg = read_text(dir / "ir.svg");
    EXPECT_TRUE(well_formed(svg)) << svg.substr(0, 400);

    std::vector<std::string> labels;
    for (std::size_t at = svg.find("class=\"echo\""); at != std::string::npos;
         at = svg.find("class=\"echo\"", at + 1)) {
        const std::size_t start = svg.find('>', at) + 1;
        labels.push_back(svg.substr(start, svg.find('<', start) - start));
    }
    std::vector<std::string> rows;
    const std::size_t table = run.out.find("Strongest echoes:\n");
    ASSERT_NE(table, std::string::npos) << run.out;
    std::istringstream lines(run.out.substr(table));
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string time, ms, level, db, channel;
        words >> time >> ms >> level >> db >> channel;
        rows.push_back(time + " " + ms + ", " + level + " " + db);
    }
    // Every label is an echo of the table, the louder ones first, and none
    // covers another.
    ASSERT_GE(labels.size(), 4u);
    for (const std::string& label : labels)
        EXPECT_NE(std::find(rows.begin(), rows.end(), label), rows.end()) << label;
    EXPECT_EQ(std::vector<std::string>(labels.begin(), labels.begin() + 4),
              (std::vector<std::string>{"0.00 ms, -3.7 dB", "400.00 ms, -10.4 dB",
                                        "800.00 ms, -24.8 dB", "647.17 ms, -31.9 dB"}));
    auto number_at = [&](std::size_t at) {
        double value = 0.0;
        orba::from_chars(svg.data() + at, svg.data() + svg.size(), value);
        return value;
    };
    std::vector<std::array<double, 3>> boxes;  // x, baseline, width in characters
    for (std::size_t at = svg.find("class=\"echo\" x=\""); at != std::string::npos;
         at = svg.find("class=\"echo\" x=\"", at + 1)) {
        const double x = number_at(at + 16);
        const double y = number_at(svg.find("y=\"", at) + 3);
        const std::size_t start = svg.find('>', at) + 1;
        boxes.push_back({x, y, static_cast<double>(svg.find('<', start) - start)});
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const auto& a = boxes[i];
            const auto& b = boxes[j];
            EXPECT_FALSE(std::fabs(a[1] - b[1]) < 12.0 && a[0] < b[0] + 6.0 * b[2] &&
                         b[0] < a[0] + 6.0 * a[2])
                << "labels " << j << " and " << i << " overlap";
        }
        EXPECT_GT(boxes[i][1], 52.0) << "label " << i << " above the plot";
    }
    // The impulse itself and the outermost delay's echo, at 400 ms.
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0], "0.00 ms, -3.7 dB");
    EXPECT_TRUE(rows[1].starts_with("400.00 ms, ")) << rows[1];
}

std::string line_with(const std::string& text, const std::string& word) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        if (line.find(word) != std::string::npos) return line;
        start = end + 1;
    }
    return "";
}

TEST(ClapRenderVarnel, IsTheDefaultPluginAndReadsValuesAsAUserTypesThem) {
    TempDir dir;
    const Outcome run = run_tool(dir, {"--list", "--set", "Time=250 ms", "--set", "MODE=pingpong",
                                       "--set", "tone/damping=2000Hz", "--set", "decay=-6dB"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("*0 dravik-labs.varnel-delay Varnel Delay 0.1.0 by Dravik Labs"),
              std::string::npos)
        << run.out;
    const std::pair<const char*, const char*> expected[] = {
        {" Time ", "400.00 ms  250.00 ms"},     {" Mode ", "Normal     PingPong"},
        {" Damping ", "6000.00 Hz 2000.00 Hz"}, {" Decay ", "-4.00 dB   -6.00 dB"},
        {" Mix ", "0.35       0.35"},
    };
    for (const auto& [name, values] : expected) {
        EXPECT_TRUE(line_with(run.out, name).ends_with(values)) << line_with(run.out, name);
    }
}

TEST(ClapRenderVarnel, ListDescribesThePluginTheChannelsItTakesAndWhetherItReadsTheTempo) {
    TempDir dir;
    const Outcome run = run_tool(dir, {"--list"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\nVarnel Delay: A self-similar delay: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nAudio ports of Varnel Delay: input 2 channels, output 2 channels by "
                           "default; it takes 1 to 64 channels\n"),
              std::string::npos)
        << run.out;
    // Every help text of the table, through the wrapper's help extension,
    // after the name hosts show, in a table of its own.
    const std::size_t section = run.out.find("\nWhat they do:\n");
    ASSERT_NE(section, std::string::npos) << run.out;
    for (const ParamInfo& info : VarnelDelay::PARAMS) {
        std::string name(info.name);
        name.resize(8, ' ');
        EXPECT_NE(run.out.find("\n  " + name + " " + std::string(info.help) + "\n", section),
                  std::string::npos)
            << info.name << " in\n"
            << run.out;
    }

    EXPECT_TRUE(
        run.out.ends_with("\nVarnel Delay does not read the tempo, so --bpm changes "
                          "nothing.\n"))
        << run.out;

    const Outcome mono =
        run_tool(dir, with_varnel({"--impulse", "--channels", "1", "--set", "mode=pingpong",
                                   "--bpm", "90", "--no-tail", "-o", dir / "x.wav"}));
    EXPECT_EQ(mono.status, 0);
    EXPECT_EQ(mono.err,
              "clap-render: warning: Varnel Delay does not read the tempo, so --bpm changes "
              "nothing\n"
              "clap-render: warning: Mode is PingPong, which bounces between two channels; this "
              "input has 1\n");
}

TEST(ClapRenderVarnel, ReadsUnitsOfEachParametersFamily) {
    const std::pair<const char*, const char*> cases[] = {
        {"time=0.5s", " 500.00 ms"},  {"time=1500ms", ""},  {"damping=6.5kHz", " 6500.00 Hz"},
        {"decay=-9 dB", " -9.00 dB"}, {"mix=50%", " 0.50"}, {"feedback=45 %", " 0.45"},
    };
    for (const auto& [set, current] : cases) {
        TempDir dir;
        const Outcome run = run_tool(dir, {"--list", "--set", set});
        if (current[0] == '\0') {
            EXPECT_EQ(run.err, std::string("clap-render: '") + (std::strchr(set, '=') + 1) +
                                   "' is outside the range of 'Time' (20.00 ms to 1000.00 ms)\n");
            continue;
        }
        ASSERT_EQ(run.status, 0) << set << ": " << run.err;
        const std::string name = std::string(" ") + char(std::toupper(set[0])) +
                                 std::string(set + 1, std::strchr(set, '=')) + " ";
        EXPECT_TRUE(line_with(run.out, name).ends_with(current))
            << set << ": " << line_with(run.out, name);
    }
}

TEST(ClapRenderVarnel, ReadsAChoiceByItsNameOrIndexBeforeLookingForAUnit) {
    std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {VARNEL_DELAY_CLAP, "mode=ping-pong", "Mode"}, {VARNEL_DELAY_CLAP, "mode=1", "Mode"}};
#ifdef TIDAL_TREMOLO_CLAP
    for (const char* note : {"note=1/16", "note=1/8", "note=1/4", "note=2", "note=1/1"})
        cases.emplace_back(TIDAL_TREMOLO_CLAP, note, "Note");
#endif
    const char* shown[] = {"PingPong", "PingPong", "1/16", "1/8", "1/4", "1/4", "1/1"};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& [plugin, set, name] = cases[i];
        TempDir dir;
        const Outcome run = run_tool(dir, {"--plugin", plugin, "--set", set, "--list"});
        ASSERT_EQ(run.status, 0) << set << ": " << run.err;
        EXPECT_TRUE(line_with(run.out, " " + name + " ").ends_with(std::string(" ") + shown[i]))
            << set << ": " << line_with(run.out, " " + name + " ");
    }
#ifdef TIDAL_TREMOLO_CLAP
    TempDir dir;
    const Outcome run =
        run_tool(dir, {"--plugin", TIDAL_TREMOLO_CLAP, "--set", "note=1/3", "-o", dir / "out.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "clap-render: '1/3' is not a choice of 'Note': 1/16, 1/8, 1/4, 1/2, 1/1 (or their "
              "index, 0 to 4)\n");
#endif
}

TEST(ClapRenderVarnel, RefusesWhatVarnelDelayCannotTake) {
    const std::pair<Args, std::string> cases[] = {
        {{"--set", "mode=Bounce"},
         "clap-render: 'Bounce' is not a choice of 'Mode': Normal, PingPong (or their index, 0 "
         "to 1)\n"},
        {{"--set", "time=5s"},
         "clap-render: '5s' is outside the range of 'Time' (20.00 ms to 1000.00 ms)\n"},
        {{"--set", "time=400Hz"},
         "clap-render: '400Hz' does not fit 'Time', which takes ms or s\n"},
        {{"--set", "mix=6dB"},
         "clap-render: '6dB' does not fit 'Mix', which takes a plain number or %\n"},
        {{"--ramp", "damping=1kHz:20ms"},
         "clap-render: '20ms' does not fit 'Damping', which takes Hz or kHz\n"},
        {{"--impulse", "--channels", "65"},
         "clap-render: 'Varnel Delay' cannot take 65 channels (it takes 1 to 64)\n"},
    };
    for (const auto& [args, message] : cases) {
        TempDir dir;
        Args all = args;
        all.insert(all.end(), {"-o", dir / "out.wav"});
        const Outcome run = run_tool(dir, with_varnel(all));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, message);
        EXPECT_TRUE(dir.names().empty());
    }
}

}  // namespace
}  // namespace orba::test
