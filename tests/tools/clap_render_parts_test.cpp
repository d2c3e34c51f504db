// The parts of clap-render that decide things on their own: option parsing,
// output format and name, and the numbers of the summary.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "orba/core/charconv.h"
#include "render_support.h"
#include "tools/clap-render/audio_file.h"
#include "tools/clap-render/demo_input.h"
#include "tools/clap-render/echoes.h"
#include "tools/clap-render/options.h"
#include "tools/clap-render/report.h"
#include "tools/clap-render/text.h"
#include "tools/clap-render/units.h"

namespace orba::render {
namespace {

Result<Options> parse(std::vector<std::string_view> args) {
    return parse_options(args, "default.clap");
}

TEST(ClapRenderOptions, ReadsEveryOptionInBothSpellings) {
    const auto options =
        parse({"in.wav", "out.flac", "--set", "time=250ms", "--set=mode=PingPong", "--ramp",
               "mix=0:1", "--block=64", "--float", "--tail-max", "2.5", "--bpm=90", "--no-tail",
               "--save-state", "a.state", "--load-state=b.state", "--plugin-id", "x.y", "-q"});
    const auto more = parse({"--ramp", "time=1:2", "--automate", "fb=0:0.1,1.5s:20%,2000ms:0",
                             "--gain=-6", "--tail-threshold", "-90", "--no-clobber"});
    ASSERT_TRUE(options.ok()) << options.error();
    EXPECT_EQ(options->plugin_path, "default.clap");
    EXPECT_EQ(options->input, "in.wav");
    EXPECT_EQ(options->output, "out.flac");
    ASSERT_EQ(options->sets.size(), 2u);
    EXPECT_EQ(options->sets[1].param, "mode");
    EXPECT_EQ(options->sets[1].text, "PingPong");
    ASSERT_EQ(options->ramps.size(), 1u);
    EXPECT_EQ(options->ramps[0].from, "0");
    ASSERT_TRUE(more.ok()) << more.error();
    EXPECT_EQ(more->ramps[0].to, "2");
    ASSERT_EQ(more->automations.size(), 1u);
    const auto& points = more->automations[0].points;
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[1].seconds, 1.5);
    EXPECT_EQ(points[1].value, "20%");
    EXPECT_EQ(points[2].seconds, 2.0);
    EXPECT_EQ(more->gain_db, -6.0);
    EXPECT_EQ(more->tail_threshold_db, -90.0);
    EXPECT_TRUE(more->no_clobber);
    EXPECT_NE(usage("").find("(WAV, FLAC, AIFF, CAF, W64, RF64, AU, Ogg, MP3)"), std::string::npos);
    EXPECT_EQ(options->block, 64u);
    EXPECT_TRUE(options->float_output && options->no_tail && options->quiet);
    EXPECT_EQ(options->tail_max_seconds, 2.5);
    EXPECT_EQ(options->bpm, 90.0);
    EXPECT_EQ(options->save_state, "a.state");
    EXPECT_EQ(options->load_state, "b.state");
    EXPECT_EQ(options->plugin_id, "x.y");
}

TEST(ClapRenderOptions, RejectsWhatItCannotUseWithOneMessage) {
    const std::pair<std::vector<std::string_view>, std::string> cases[] = {
        {{"--block", "0"}, "--block wants a whole number of frames from 1 to 65536, not '0'"},
        {{"--block", "1.5"}, "--block wants a whole number of frames from 1 to 65536, not '1.5'"},
        {{"--tail-max", "-1"}, "--tail-max wants seconds from 0 to 3600, not '-1'"},
        {{"--bpm", "fast"}, "--bpm wants a tempo from 1 to 999, not 'fast'"},
        {{"--rate", "44100.5"}, "--rate wants a whole number of hertz, not '44100.5'"},
        {{"--channels", "0"}, "--channels wants a count from 1 to 1024, not '0'"},
        {{"--set", "time"}, "--set wants NAME=VALUE, not 'time'"},
        {{"--set", "=1"}, "--set wants NAME=VALUE, not '=1'"},
        {{"--ramp", "mix=1"}, "--ramp wants NAME=FROM:TO, not 'mix=1'"},
        {{"--ramp", "mix=:1"}, "--ramp wants NAME=FROM:TO, not 'mix=:1'"},
        {{"--automate", "mix=1s:0,0.5s:1"},
         "--automate wants NAME=TIME:VALUE,TIME:VALUE,... with times in s or ms that never go "
         "back, not 'mix=1s:0,0.5s:1'"},
        {{"--automate", "mix=0:1,"},
         "--automate wants NAME=TIME:VALUE,TIME:VALUE,... with times in s or ms that never go "
         "back, not 'mix=0:1,'"},
        {{"--normalize", "1"}, "--normalize wants dBFS from -200 to 0, not '1'"},
        {{"--gain", "3", "--normalize", "-1"},
         "--gain and --normalize both set the output's level; give one of them"},
        {{"--plot", "x.PNG"}, "--plot draws SVG, so it wants a .svg file, not 'x.PNG'"},
        {{"--out-dir", "d"}, "--out-dir wants the input files to render into it"},
        {{"--out-dir", "d", "a.wav", "-"}, "--out-dir renders files, not standard input"},
        {{"--out-dir", "d", "a.wav", "--plot", "p.svg"},
         "--out-dir renders each input the same way; --plot, --save-state, --echoes, --list and "
         "--impulse are for one render"},
        {{"-j4", "a.wav"}, "-j sets how many files render at once; it needs --out-dir"},
        {{"-j", "0"}, "-j wants a count of renders at once from 1 to 256, not '0'"},
        {{"--set"}, "option --set needs a value"},
        {{"a.wav", "--loud"}, "unknown option '--loud' (see --help)"},
        {{"--float=yes"}, "option --float takes no value"},
        {{"--volume", "3"}, "unknown option '--volume' (see --help)"},
        {{"a.wav", "b.wav", "c.wav"}, "too many file names: 'c.wav'"},
        {{"a.wav", "b.wav", "-o", "c.wav"},
         "the output is named twice (--output and a second file)"},
        {{"a.wav", "--impulse"},
         "--impulse renders a generated impulse, so it takes no input file"},
        {{"a.wav", "--rate", "44100"},
         "--rate and --channels shape the generated input; a file brings its own"},
        {{"--list", "a.wav"}, "--list renders nothing, so it takes no input or output"},
    };
    for (const auto& [args, message] : cases) {
        const auto options = parse(args);
        ASSERT_FALSE(options.ok()) << message;
        EXPECT_EQ(options.error(), message);
    }
    EXPECT_EQ(parse_options({}, "").error(), "no plug-in library given (use --plugin PATH)");
}

TEST(ClapRenderOptions, NamesTheOutputAfterTheInput) {
    Options options;
    EXPECT_EQ(default_output(options), "demo.wav");
    options.impulse = true;
    EXPECT_EQ(default_output(options), "impulse.wav");
    options.impulse = false;
    options.input = "takes/guitar.flac";
    EXPECT_EQ(default_output(options), "takes/guitar-rendered.flac");
}

TEST(ClapRenderFormat, FollowsTheOutputNameAndKeepsTheInputsEncodingWhereItFits) {
    struct Case {
        int input;
        const char* path;
        bool float_output;
        int expected;
    };
    const Case cases[] = {
        {0, "demo.wav", false, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {0, "demo.aiff", false, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {0, "demo.flac", false, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},  // FLAC holds no floats
        {0, "demo", false, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, "o.wav", false, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, "o.FLAC", false, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "o.aif", false, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {SF_FORMAT_WAV | SF_FORMAT_FLOAT, "o.flac", false, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "/dev/null", false, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "-", true, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "o.aiff", true, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "o.flac", true, 0},  // FLAC holds no floats
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, "o.mp3", false, 0},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, "o.out", false, 0},
    };
    for (const Case& c : cases) {
        const auto format = output_format(c.input, c.path, c.float_output, 48000, 2);
        EXPECT_EQ(format.ok() ? *format : 0, c.expected) << c.path;
    }
    EXPECT_EQ(output_format(SF_FORMAT_WAV | SF_FORMAT_PCM_16, "o.flac", false, 48000, 10).error(),
              "cannot write 'o.flac': FLAC cannot hold 10 channels at 48000 Hz");
    const std::pair<int, const char*> names[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_24, "WAV 24-bit"},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "FLAC 16-bit"},
        {SF_FORMAT_AIFF | SF_FORMAT_FLOAT, "AIFF 32-bit float"},
    };
    for (const auto& [format, name] : names)
        EXPECT_EQ(format_name(format), name);
}

TEST(ClapRenderFormat, AnUncommittedOutputLeavesNothingBehind) {
    test::TempDir dir;
    const float frame[2] = {0.25f, -0.25f};
    {
        auto writer = AudioWriter::create(dir / "a.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2);
        ASSERT_TRUE(writer.ok()) << writer.error();
        ASSERT_TRUE((*writer)->write(frame, 1).ok());
        EXPECT_EQ(dir.names().size(), 1u) << "the temporary file";
        EXPECT_FALSE(test::fs::exists(dir / "a.wav"));
    }
    EXPECT_TRUE(dir.names().empty());

    auto writer = AudioWriter::create(dir / "b.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE((*writer)->write(frame, 1).ok());
    ASSERT_TRUE((*writer)->commit().ok());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"b.wav"});
    EXPECT_EQ(test::read_audio(dir / "b.wav").samples, std::vector<float>(frame, frame + 2));
}

TEST(ClapRenderReport, SummarisesLengthLevelsAndTail) {
    RenderStats stats;
    stats.frames = 96000;
    stats.tail_frames = 24000;
    stats.peak = 0.5;
    stats.sum_squares = 0.01 * 0.01 * 192000;  // RMS 0.01
    stats.samples = 192000;
    EXPECT_EQ(summary_line("out.wav", stats, 48000, 2, "WAV 24-bit"),
              "out.wav: 2.00 s, 48000 Hz, 2 channels, peak -6.0 dBFS, RMS -40.0 dBFS, tail 0.50 s, "
              "WAV 24-bit");
    EXPECT_EQ(clipping_warning(stats, "WAV 24-bit"), "");
    stats = {};
    stats.tail_cut = true;
    stats.latency = 64;
    EXPECT_EQ(summary_line("x.wav", stats, 44100, 1, "FLAC 16-bit"),
              "x.wav: 0.00 s, 44100 Hz, 1 channel, peak -inf dBFS, RMS -inf dBFS, tail 0.00 s "
              "(cut at --tail-max), FLAC 16-bit, latency of 64 frames compensated");
}

TEST(ClapRenderText, WritesNumbersWithoutASignedZeroAndComparesNamesLoosely) {
    EXPECT_EQ(fixed(-0.04, 1), "0.0");
    EXPECT_EQ(fixed(-0.05001, 1), "-0.1");
    EXPECT_EQ(fixed(1234.5678, 2), "1234.57");
    EXPECT_EQ(name_key("Decay Time"), name_key("decay-time"));
    EXPECT_EQ(name_key("DECAY__TIME"), name_key("decay time"));
    EXPECT_NE(name_key("Decay"), name_key("Decay Time"));
}

TEST(ClapRenderUnits, ConvertsUnitsOfTheParametersFamilyAndRefusesOthers) {
    const UnitContext ms{"Time", "ms", 20, 1000};
    const UnitContext hz{"Damping", "Hz", 1000, 20000};
    const UnitContext db{"Decay", "dB", -24, 0};
    const UnitContext fraction{"Mix", "", 0, 1};
    const UnitContext plain{"Ratio", "", 0, 4};
    const UnitContext seconds{"Length", "s", 0, 60};
    const UnitContext semitones{"Pitch", "st", -12, 12};
    const UnitContext choice{"Mode", std::nullopt, 0, 1};
    const std::tuple<std::string_view, const UnitContext*, std::string> cases[] = {
        {"0.5s", &ms, "500"},
        {"0.25 S", &ms, "250"},
        {"250ms", &ms, "250"},
        {"250", &ms, "250"},
        {"+2kHz", &hz, "2000"},
        {"6 khz", &hz, "6000"},
        {"440Hz", &hz, "440"},
        {"-6dB", &db, "-6"},
        {"50%", &fraction, "0.5"},
        {"0.5", &fraction, "0.5"},
        {"1500ms", &seconds, "1.5"},
        {"3st", &semitones, "3"},
        {"PingPong", &choice, "PingPong"},
        {"1", &choice, "1"},
        {"loud", &ms, "loud"},
        {"400Hz", &ms, "'400Hz' does not fit 'Time', which takes ms or s"},
        {"400xyz", &ms, "'400xyz' does not fit 'Time', which takes ms or s"},
        {"1s", &hz, "'1s' does not fit 'Damping', which takes Hz or kHz"},
        {"50%", &db, "'50%' does not fit 'Decay', which takes dB"},
        {"50%", &plain, "'50%' does not fit 'Ratio', which takes a plain number"},
        {"1ms", &fraction, "'1ms' does not fit 'Mix', which takes a plain number or %"},
        {"3dB", &semitones, "'3dB' does not fit 'Pitch', which takes st"},
    };
    for (const auto& [text, param, expected] : cases) {
        const auto converted = in_parameter_unit(text, *param);
        EXPECT_EQ(converted.ok() ? *converted : converted.error(), expected) << text;
    }
    EXPECT_EQ(shown_unit("400.00 ms"), "ms");
    EXPECT_EQ(shown_unit("0.35"), "");
    EXPECT_EQ(shown_unit("Normal"), std::nullopt);
}

TEST(ClapRenderEchoes, FindsTheLoudestPeaksStandingClearInTimeOrder) {
    // Spikes on silence, one per channel or on both: frame, level per channel.
    const std::tuple<std::int64_t, float, float> spikes[] = {
        {0, 1.0f, 1.0f},      {4800, 0.5f, 0.0f},  {4900, 0.25f, 0.0f},  // 100 ms, 2 ms later
        {9600, 0.0f, 0.125f}, {14400, 0.1f, 0.1f}, {19200, 1e-5f, 1e-5f},
    };
    Envelope envelope(48000, 2);
    for (std::int64_t f = 0; f < 24000; ++f) {
        for (std::uint32_t c = 0; c < 2; ++c)
            envelope.add(f, c, 0.0f);
    }
    for (const auto& [frame, left, right] : spikes) {
        envelope.add(frame, 0, left);
        envelope.add(frame, 1, right);
    }
    EXPECT_EQ(echo_table(strongest_echoes(envelope, 4)),
              "       time     level  channel\n"
              "    0.00 ms    0.0 dB  all\n"
              "  100.00 ms   -6.0 dB  1\n"
              "  200.00 ms  -18.1 dB  2\n"
              "  300.00 ms  -20.0 dB  all\n");
    EXPECT_EQ(strongest_echoes(envelope, 2).size(), 2u);
}

TEST(ClapRenderEchoes, PlotDrawsAlikeChannelsOnceAndKeepsALongLegendInside) {
    Envelope alike(1000, 4);
    Envelope distinct(1000, 64);
    for (std::int64_t f = 0; f < 2000; ++f) {
        for (std::uint32_t c = 0; c < 4; ++c)
            alike.add(f, c, c == 2 ? 0.25f : 0.5f);
        for (std::uint32_t c = 0; c < 64; ++c)
            distinct.add(f, c, static_cast<float>(c + 1) / 64.0f);
    }
    const std::string svg = plot_svg(alike, {}, "t");
    auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(svg, "<polyline"), 2u);
    EXPECT_EQ(count(svg, ">channels 1, 2, 4</text>") + count(svg, ">channel 3</text>"), 2u);

    const std::string many = plot_svg(distinct, {}, "t");
    EXPECT_EQ(count(many, "<polyline"), 64u);
    double lowest = 0.0;
    for (auto at = many.find("class=\"legend\""); at != std::string::npos;
         at = many.find("class=\"legend\"", at + 1)) {
        const auto y = many.find("y=\"", at) + 3;
        orba::from_chars(many.data() + y, many.data() + many.size(), lowest);
    }
    EXPECT_LE(lowest, 370.0) << "the legend runs below the plot";
    EXPECT_NE(many.find(" more</text>"), std::string::npos);
}

TEST(ClapRenderDemo, IsTheSameFourSecondsEveryTimePeakingAtMinusSixDb) {
    const std::vector<float> demo = demo_input(48000, 2);
    EXPECT_EQ(demo.size(), 4u * 48000u * 2u);
    EXPECT_EQ(demo, demo_input(48000, 2));
    float peak = 0.0f;
    for (float s : demo)
        peak = std::max(peak, std::fabs(s));
    EXPECT_NEAR(peak, 0.5f, 1e-6f);
    // Both sides carry sound, but not the same: the plucks are panned.
    double left = 0.0;
    double right = 0.0;
    for (std::size_t i = 0; i < demo.size(); i += 2) {
        left += std::fabs(demo[i]);
        right += std::fabs(demo[i + 1]);
    }
    EXPECT_GT(left, 0.0);
    EXPECT_GT(right, 0.0);
    EXPECT_NE(left, right);
}

}  // namespace
}  // namespace orba::render
