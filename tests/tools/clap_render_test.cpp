// clap-render driven as a process, through small test plug-ins whose output is
// known exactly.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cmath>
#include <string>
#include <vector>

#include "render_support.h"

namespace orba::test {
namespace {

using Args = std::vector<std::string>;

Args with_plugin(const std::string& id, Args args) {
    Args all{"--plugin", TEST_PLUGINS, "--plugin-id", id, "--quiet"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

Audio constant(std::size_t frames, int channels, float value, int rate = 48000) {
    Audio audio;
    audio.rate = rate;
    audio.channels = channels;
    audio.samples.assign(frames * static_cast<std::size_t>(channels), value);
    return audio;
}

TEST(ClapRender, RendersAtTheInputsRateChannelsAndFormat) {
    TempDir dir;
    Audio input = noise(3000, 3, 22050);
    input.format = SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
    write_audio(dir / "in.aiff", input);

    const Outcome run = run_tool(
        dir, with_plugin("test.gain", {"--set", "gain=0.5", dir / "in.aiff", dir / "out.aiff"}));
    ASSERT_EQ(run.status, 0) << run.err;

    const Audio output = read_audio(dir / "out.aiff");
    EXPECT_EQ(output.rate, 22050);
    EXPECT_EQ(output.channels, 3);
    EXPECT_EQ(output.format, input.format);
    ASSERT_EQ(output.frames(), input.frames());
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        ASSERT_EQ(output.samples[i], input.samples[i] * 0.5f) << "sample " << i;
    }
    EXPECT_EQ(run.out.find(dir / "out.aiff: 0.14 s, 22050 Hz, 3 channels, peak "), 0u) << run.out;
}

TEST(ClapRender, KeepsAnIntegerFormatUnlessAskedForFloatWav) {
    TempDir dir;
    Audio input = noise(1000, 2);
    input.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    write_audio(dir / "in.flac", input);

    ASSERT_EQ(run_tool(dir, with_plugin("test.gain", {dir / "in.flac"})).status, 0);
    EXPECT_EQ(read_audio(dir / "in-rendered.flac").format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);

    ASSERT_EQ(
        run_tool(dir, with_plugin("test.gain", {"--float", dir / "in.flac", dir / "f.wav"})).status,
        0);
    EXPECT_EQ(read_audio(dir / "f.wav").format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

TEST(ClapRender, RampSendsEvery32FramesTheValueAtTheirLastFrameAndEndsOnTheTarget) {
    TempDir dir;
    constexpr std::size_t FRAMES = 10000;
    write_audio(dir / "dc.wav", constant(FRAMES, 1, 1.0f));

    const Outcome run =
        run_tool(dir, with_plugin("test.gain", {"--ramp", "gain=0:1", "--block", "1000",
                                                dir / "dc.wav", dir / "out.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;

    const Audio output = read_audio(dir / "out.wav");
    ASSERT_EQ(output.frames(), FRAMES);
    for (std::size_t f = 0; f < FRAMES; ++f) {
        const std::size_t last = std::min(f / 32 * 32 + 31, FRAMES - 1);
        const auto expected =
            static_cast<float>(static_cast<double>(last) / static_cast<double>(FRAMES - 1));
        ASSERT_EQ(output.at(f, 0), expected) << "frame " << f;
    }
    EXPECT_EQ(output.at(FRAMES - 1, 0), 1.0f);
}

TEST(ClapRender, AutomatesSeveralParametersAlongTheirPointsEvery32Frames) {
    TempDir dir;
    constexpr std::size_t FRAMES = 14400;
    write_audio(dir / "dc.wav", constant(FRAMES, 1, 1.0f));

    const Outcome run = run_tool(
        dir, with_plugin("test.offset", {"--ramp", "gain=1:0", "--automate",
                                         "offset=0.05s:0,100ms:0.5,0.1s:0.25,0.25:1", "--block",
                                         "1000", dir / "dc.wav", dir / "out.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const Audio output = read_audio(dir / "out.wav");
    ASSERT_EQ(output.frames(), FRAMES);
    // A line through the points, frames from times at 48000 Hz.
    auto line = [](const std::vector<std::pair<double, double>>& points, double frame) {
        if (frame <= points.front().first) return points.front().second;
        for (std::size_t i = 1; i < points.size(); ++i) {
            const auto [x0, y0] = points[i - 1];
            const auto [x1, y1] = points[i];
            if (frame <= x1) return x1 == x0 ? y1 : y0 + (y1 - y0) * ((frame - x0) / (x1 - x0));
        }
        return points.back().second;
    };
    for (std::size_t f = 0; f < FRAMES; ++f) {
        const auto last = static_cast<double>(std::min(f / 32 * 32 + 31, FRAMES - 1));
        const double gain = line({{0.0, 1.0}, {FRAMES - 1.0, 0.0}}, last);
        const double offset =
            line({{2400.0, 0.0}, {4800.0, 0.5}, {4800.0, 0.25}, {12000.0, 1.0}}, last);
        ASSERT_EQ(output.at(f, 0), static_cast<float>(gain) + static_cast<float>(offset))
            << "frame " << f;
    }
}

TEST(ClapRender, GainAndNormalizeSetTheLevelAndNoClobberKeepsAnOutput) {
    TempDir dir;
    const Audio input = noise(3000, 2);
    write_audio(dir / "in.wav", input);
    ASSERT_EQ(
        run_tool(dir, with_plugin("test.gain", {"--gain", "-6", dir / "in.wav", dir / "g.wav"}))
            .status,
        0);
    ASSERT_EQ(run_tool(dir, with_plugin("test.gain",
                                        {"--normalize", "-1", dir / "in.wav", dir / "n.wav"}))
                  .status,
              0);
    const Audio gained = read_audio(dir / "g.wav");
    const Audio normalised = read_audio(dir / "n.wav");
    float peak = 0.0f;
    for (float s : input.samples)
        peak = std::max(peak, std::fabs(s));
    const auto gain = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
    const auto scale = static_cast<float>(std::pow(10.0, -1.0 / 20.0) / peak);
    ASSERT_EQ(gained.samples.size(), input.samples.size());
    ASSERT_EQ(normalised.samples.size(), input.samples.size());
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        ASSERT_EQ(gained.samples[i], input.samples[i] * gain) << "sample " << i;
        ASSERT_EQ(normalised.samples[i], input.samples[i] * scale) << "sample " << i;
    }

    const std::string before = read_text(dir / "g.wav");
    const Outcome kept = run_tool(
        dir, with_plugin("test.gain",
                         {"--no-clobber", "--plot", dir / "p.svg", dir / "in.wav", dir / "g.wav"}));
    EXPECT_EQ(kept.status, 0);
    EXPECT_EQ(kept.err, "clap-render: kept '" + dir / "g.wav" +
                            "', which exists already (--no-clobber); rendered nothing\n");
    EXPECT_TRUE(read_text(dir / "g.wav") == before);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"g.wav", "in.wav", "n.wav"}));
}

TEST(ClapRender, BatchRendersEveryGoodInputAndNamesTheBrokenOne) {
    TempDir dir;
    fs::create_directory(dir / "out");
    const std::vector<std::string> good{"a.wav", "b.wav", "c.wav"};
    for (std::size_t i = 0; i < good.size(); ++i)
        write_audio(dir / good[i], noise(1000, 2, 48000, static_cast<std::uint32_t>(i + 1)));
    std::ofstream(dir / "bad.wav") << "not audio\n";

    const Outcome run = run_tool(
        dir,
        with_plugin("test.gain", {"--set", "gain=0.5", "--out-dir", dir / "out", "-j2",
                                  dir / "a.wav", dir / "bad.wav", dir / "b.wav", dir / "c.wav"}));
    EXPECT_EQ(run.status, 1);
    const std::string bad = dir / "bad.wav";
    EXPECT_EQ(run.err.find("clap-render: " + bad + ": cannot read '" + bad + "': not an audio"), 0u)
        << run.err;
    EXPECT_TRUE(run.err.ends_with("\nclap-render: 1 of 4 files not rendered: '" + bad + "'\n"))
        << run.err;
    fs::path out = dir.path() / "out";
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3) << run.out;
    for (const std::string& name : good) {
        EXPECT_NE(run.out.find((out / name).string() + ": 0.02 s"), std::string::npos) << run.out;
        const Audio input = read_audio(dir / name);
        const Audio output = read_audio(out / name);
        ASSERT_EQ(output.samples.size(), input.samples.size()) << name;
        for (std::size_t i = 0; i < input.samples.size(); ++i)
            ASSERT_EQ(output.samples[i], input.samples[i] * 0.5f) << name << " sample " << i;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 3);
}

TEST(ClapRender, CompensatesLatencyAndDropsATailThatStaysSilent) {
    TempDir dir;
    const Audio input = noise(5000, 2);
    write_audio(dir / "in.wav", input);

    // test.latency delays by 100 frames and reports a tail of 250.
    const Outcome run = run_tool(
        dir, with_plugin("test.latency", {"--block", "256", dir / "in.wav", dir / "o.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;

    const Audio output = read_audio(dir / "o.wav");
    ASSERT_EQ(output.frames(), 5000u);
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        ASSERT_EQ(output.samples[i], input.samples[i]) << "sample " << i;
    }
    EXPECT_NE(run.out.find("latency of 100 frames compensated"), std::string::npos) << run.out;
}

TEST(ClapRender, AnEndlessTailStopsAtTailMaxAndNoTailStopsAtTheInputsEnd) {
    TempDir dir;
    write_audio(dir / "in.wav", noise(800, 1, 8000));

    Outcome run = run_tool(
        dir, with_plugin("test.endless", {"--tail-max", "0.25", dir / "in.wav", dir / "a.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_audio(dir / "a.wav").frames(), 800u + 2000u);
    EXPECT_NE(run.out.find("tail 0.25 s (cut at --tail-max)"), std::string::npos) << run.out;

    run = run_tool(dir, with_plugin("test.endless", {"--no-tail", dir / "in.wav", dir / "b.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_audio(dir / "b.wav").frames(), 800u);
}

TEST(ClapRender, RunsThePluginsMainThreadCallbackBetweenBlocks) {
    TempDir dir;
    const Audio input = noise(640, 2);
    write_audio(dir / "in.wav", input);

    // test.callback stays silent until the host answers its request_callback.
    ASSERT_EQ(run_tool(dir, with_plugin("test.callback",
                                        {"--block", "64", dir / "in.wav", dir / "o.wav"}))
                  .status,
              0);
    const Audio output = read_audio(dir / "o.wav");
    for (std::size_t f = 0; f < 64; ++f)
        ASSERT_EQ(output.at(f, 0), 0.0f);
    for (std::size_t i = 64 * 2; i < input.samples.size(); ++i) {
        ASSERT_EQ(output.samples[i], input.samples[i]) << "sample " << i;
    }
}

TEST(ClapRender, TellsThePluginTheTempoAndARunningPosition) {
    TempDir dir;
    write_audio(dir / "in.wav", constant(1000, 4, 0.0f, 8000));
    const Outcome run = run_tool(
        dir, with_plugin("test.transport",
                         {"--bpm", "90", "--block", "100", dir / "in.wav", dir / "o.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;

    const Audio output = read_audio(dir / "o.wav");
    ASSERT_EQ(output.frames(), 1000u);
    for (std::size_t f = 0; f < 1000; ++f) {
        const double start = static_cast<double>(f / 100 * 100);  // of f's block
        const double seconds = start / 8000.0;
        EXPECT_NEAR(output.at(f, 0), seconds * 90.0 / 60.0, 1e-6) << "beats at frame " << f;
        EXPECT_NEAR(output.at(f, 1), seconds, 1e-6) << "seconds at frame " << f;
        EXPECT_EQ(output.at(f, 2), 90.0f) << "tempo at frame " << f;
        EXPECT_EQ(output.at(f, 3), start) << "steady time at frame " << f;
    }
}

TEST(ClapRender, FindsParametersByIdNameOrModulePathIgnoringCase) {
    TempDir dir;
    const Audio input = noise(100, 1);
    write_audio(dir / "in.wav", input);
    for (const std::string name : {"7", "gain", "GAIN", "Level/Gain", "level/gain"}) {
        const Outcome run = run_tool(
            dir,
            with_plugin("test.gain", {"--set", name + "=0.25", dir / "in.wav", dir / "o.wav"}));
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
        EXPECT_EQ(read_audio(dir / "o.wav").samples[10], input.samples[10] * 0.25f) << name;
    }
}

TEST(ClapRender, ListShowsPluginsAndParametersInThePluginsOwnText) {
    TempDir dir;
    const Outcome run = run_tool(dir, with_plugin("test.gain", {"--list", "--set", "gain=0.3"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("*0 test.gain "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("   1 test.latency "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  id name module range          default current\n"
                           "  7  Gain Level  0.000 to 1.000 1.000   0.300\n"
                           "  8  Peak Level  0.000 to 1.000 0.000   0.000\n"),
              std::string::npos)
        << run.out;
    // It offers no help texts, so there is no section for them.
    EXPECT_EQ(run.out.find("What they do"), std::string::npos) << run.out;

    // test.latency offers a text longer than the tool's first buffer, and
    // none for Peak.
    const Outcome helped = run_tool(dir, with_plugin("test.latency", {"--list"}));
    ASSERT_EQ(helped.status, 0) << helped.err;
    std::string help;
    for (int i = 0; i < 1000; ++i)
        help += "gain ";
    EXPECT_TRUE(helped.out.ends_with("\nWhat they do:\n  Gain " + help + "end\n\n" +
                                     "test.latency does not read the tempo, so --bpm changes "
                                     "nothing.\n"))
        << helped.out.substr(helped.out.find("What they do"));
}

TEST(ClapRender, SavedStateRestoresTheSettingsOfAnotherRun) {
    TempDir dir;
    const Audio input = noise(300, 2);
    write_audio(dir / "in.wav", input);

    ASSERT_EQ(run_tool(dir, with_plugin("test.gain", {"--set", "gain=0.25", "--save-state",
                                                      dir / "gain.state", "--list"}))
                  .status,
              0);
    const Outcome run = run_tool(dir, with_plugin("test.gain", {"--load-state", dir / "gain.state",
                                                                dir / "in.wav", dir / "o.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const Audio output = read_audio(dir / "o.wav");
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        ASSERT_EQ(output.samples[i], input.samples[i] * 0.25f) << "sample " << i;
    }
}

TEST(ClapRender, WithoutAnInputRendersTheDemoOrTheImpulse) {
    TempDir dir;
    Outcome run = run_tool(dir, with_plugin("test.gain", {"-o", dir / "demo.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const Audio demo = read_audio(dir / "demo.wav");
    EXPECT_EQ(demo.rate, 48000);
    EXPECT_EQ(demo.channels, 2);
    EXPECT_EQ(demo.frames(), 4u * 48000u);
    float peak = 0.0f;
    for (float s : demo.samples)
        peak = std::max(peak, std::fabs(s));
    EXPECT_NEAR(peak, 0.5f, 1e-6f);
    EXPECT_NE(run.out.find("peak -6.0 dBFS"), std::string::npos) << run.out;

    run = run_tool(
        dir, with_plugin("test.latency", {"--impulse", "--channels", "1", "-o", dir / "ir.wav"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const Audio ir = read_audio(dir / "ir.wav");
    ASSERT_EQ(ir.frames(), 1u);
    EXPECT_EQ(ir.samples[0], 1.0f);
}

// Files as a program writing to a pipe leaves them, unable to go back to fill
// in the length: an AIFF promising far more frames than follow, a CAF whose
// audio is 0 bytes long; and an MP3, where libsndfile can write one.
TEST(ClapRender, ReadsPipedAiffCafAndMp3AndKeepsStandardOutputForTheState) {
    TempDir dir;
    Audio input = noise(4800, 2);
    input.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    write_audio(dir / "s.aiff", input);
    input.format = SF_FORMAT_CAF | SF_FORMAT_PCM_16;
    write_audio(dir / "s.caf", input);
    std::string aiff = read_text(dir / "s.aiff");
    aiff.replace(aiff.find("SSND") + 4, 4, "\x7f\xff\xff\xf0");
    aiff.replace(aiff.find("COMM") + 10, 4, "\x15\x2a\x8e\xab");
    std::string caf = read_text(dir / "s.caf");
    caf.replace(caf.find("data") + 4, 8, std::string(8, '\0'));
    std::ofstream(dir / "piped.aiff", std::ios::binary) << aiff;
    std::ofstream(dir / "piped.caf", std::ios::binary) << caf;
    for (const char* piped : {"piped.aiff", "piped.caf"}) {
        const Outcome run =
            run_tool(dir, with_plugin("test.gain", {"-", "-o", dir / "out.wav"}), dir / piped);
        ASSERT_EQ(run.status, 0) << piped << ": " << run.err;
        EXPECT_EQ(read_audio(dir / "out.wav").frames(), 4800u) << piped;
    }

    input.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SF_INFO mp3{48000, 2, 2, input.format, 0, 0};
    if (sf_format_check(&mp3) != 0) {
        write_audio(dir / "in.mp3", input);
        const Outcome run =
            run_tool(dir, with_plugin("test.gain", {dir / "in.mp3", dir / "m.wav"}));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_audio(dir / "m.wav").format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    }

    const Outcome saved = run_tool(
        dir, with_plugin("test.gain",
                         {"--impulse", "--save-state", "-", "--echoes", "-o", dir / "i.wav"}));
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(saved.out.substr(0, 4), "GAIN");
    EXPECT_EQ(saved.out.size(), 12u);
    EXPECT_EQ(saved.err.find(dir / "i.wav: 0.00 s"), 0u) << saved.err;
    EXPECT_NE(saved.err.find("Strongest echoes:"), std::string::npos) << saved.err;
}

std::string expand(std::string text, const std::string& dir) {
    for (auto at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}")) {
        text.replace(at, 5, dir);
    }
    return text;
}

bool is_kind(const std::string& path, fs::file_type type) {
    return fs::symlink_status(path).type() == type;
}

TEST(ClapRender, WritesThroughLinksFifosAndStandardOutputWithoutReplacingThem) {
    struct Case {
        const char* output;   // in the test's folder, or "-"
        const char* input;    // "-": standard input
        const char* error;    // all of stderr when the render fails
        const char* written;  // where the audio is read back from, if anywhere
        const char* kept;     // a name that must keep its kind
        fs::file_type kind;
    };
    const Case cases[] = {
        {"link.wav", "in.wav", nullptr, "real.wav", "link.wav", fs::file_type::symlink},
        {"fifo", "in.wav", nullptr, "fifo", "fifo", fs::file_type::fifo},
        {"-", "in.wav", nullptr, "-", "in.wav", fs::file_type::regular},
        {"out.wav", "-", nullptr, "out.wav", "in.wav", fs::file_type::regular},
        {"-", "-", nullptr, "-", "in.wav", fs::file_type::regular},
        // Open to every user, and never to be replaced by one.
        {"/dev/null", "in.wav", nullptr, "", "/dev/null", fs::file_type::character},
        {"sub", "in.wav", "clap-render: the output '{dir}/sub' names a folder, not a file\n", "",
         "sub", fs::file_type::directory},
        {"folder-link", "in.wav",
         "clap-render: the output '{dir}/folder-link' names a folder, not a file\n", "",
         "folder-link", fs::file_type::symlink},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string d = dir.path().string();
        const Audio input = noise(1000, 2);
        write_audio(dir / "in.wav", input);
        fs::create_directory(dir / "sub");
        fs::create_symlink("real.wav", dir / "link.wav");
        fs::create_symlink("sub", dir / "folder-link");
        ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
        // Held open for reading and writing, the FIFO takes the whole small
        // render into its buffer without a reader thread.
        const int fifo = ::open((dir / "fifo").c_str(), O_RDWR | O_NONBLOCK);
        ::fcntl(fifo, F_SETPIPE_SZ, 1 << 20);

        const std::string output =
            c.output[0] == '-' ? "-" : dir / c.output;  // "/dev/null" stays absolute
        const std::string in = c.input[0] == '-' ? "-" : dir / c.input;
        const Outcome run =
            run_tool(dir, with_plugin("test.gain", {in, "-o", output}), dir / "in.wav");
        const std::string what = std::string(c.input) + " to " + c.output;

        std::string bytes;
        if (c.written[0] == '-') {
            bytes = run.out;
        } else if (c.written == std::string("fifo")) {
            char chunk[4096];
            for (ssize_t n; (n = ::read(fifo, chunk, sizeof chunk)) > 0;)
                bytes.append(chunk, static_cast<std::size_t>(n));
        }
        ::close(fifo);
        EXPECT_TRUE(is_kind(dir / c.kept, c.kind)) << what << ": " << c.kept << " was replaced";
        if (c.error != nullptr) {
            EXPECT_EQ(run.status, 1) << what;
            EXPECT_EQ(run.err, expand(c.error, d)) << what;
            EXPECT_FALSE(fs::exists(dir / "real.wav")) << what;
            continue;
        }
        ASSERT_EQ(run.status, 0) << what << ": " << run.err;
        if (!bytes.empty()) {
            std::ofstream(dir / "copy.wav", std::ios::binary) << bytes;
            EXPECT_EQ(read_audio(dir / "copy.wav").samples, input.samples) << what;
        } else if (c.written[0] != '\0') {
            EXPECT_EQ(read_audio(dir / c.written).samples, input.samples) << what;
        }
        if (output == "-") {
            EXPECT_EQ(run.err.find("standard output: 0.02 s, 48000 Hz, 2 channels"), 0u) << what;
        }
        std::vector<std::string> names{"fifo", "folder-link", "in.wav", "link.wav", "sub"};
        if (c.written == std::string("real.wav") || c.written == std::string("out.wav")) {
            names.push_back(c.written);
        }
        if (!bytes.empty()) names.push_back("copy.wav");
        std::sort(names.begin(), names.end());
        EXPECT_EQ(dir.names(), names) << what << ": something else was left behind";
    }
}

// A device node can only be made by root, and only root could ever have seen
// one replaced.
TEST(ClapRender, WritesToADeviceNodeDirectlyAndReportsWhatTheDeviceRefuses) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make device nodes";
    const std::tuple<const char*, dev_t, int, const char*> cases[] = {
        {"null", makedev(1, 3), 0, ""},
        {"full", makedev(1, 7), 1,
         "clap-render: cannot write '{dir}/full': No space left on device\n"},
    };
    for (const auto& [name, device, status, error] : cases) {
        TempDir dir;
        write_audio(dir / "in.wav", noise(1000, 2));
        ASSERT_EQ(::mknod((dir / name).c_str(), S_IFCHR | 0666, device), 0);
        const Outcome run =
            run_tool(dir, with_plugin("test.gain", {dir / "in.wav", "-o", dir / name}));
        EXPECT_EQ(run.status, status) << name;
        if (status != 0) {
            EXPECT_EQ(run.err, expand(error, dir.path().string())) << name;
        }
        EXPECT_TRUE(is_kind(dir / name, fs::file_type::character)) << name << " was replaced";
        std::vector<std::string> names{"in.wav", name};
        std::sort(names.begin(), names.end());
        EXPECT_EQ(dir.names(), names) << name;
    }
}

// A 16-bit stereo WAV holding `frames` frames whose header promises `promised`.
void write_wav_promising(const std::string& path, std::uint32_t frames, std::uint32_t promised) {
    auto u32 = [](std::uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    const std::string format = u32(16) + std::string("\1\0\2\0", 4) + u32(48000) + u32(48000 * 4) +
                               std::string("\4\0\20\0", 4);
    std::ofstream(path, std::ios::binary)
        << "RIFF" << u32(36 + promised * 4) << "WAVEfmt " << format << "data" << u32(promised * 4)
        << std::string(frames * 4, '\1');
}

struct BadCase {
    const char* what;
    Args args;          // {dir} in an argument stands for the test's folder
    const char* error;  // the message, after "clap-render: ", with {dir} likewise
    int status;
};

TEST(ClapRender, BadInputExitsWithOneLineAndLeavesNoOutput) {
    const BadCase cases[] = {
        {"missing input",
         {"{dir}/missing.wav"},
         "cannot read '{dir}/missing.wav': no such file",
         1},
        {"not audio",
         {"{dir}/notes.txt"},
         "cannot read '{dir}/notes.txt': not an audio file libsndfile knows",
         1},
        {"unknown parameter",
         {"--set", "volume=1", "{dir}/in.wav"},
         "unknown parameter 'volume' ('test.gain' has Gain, Peak)",
         1},
        {"refused value",
         {"--set", "gain=loud", "{dir}/in.wav"},
         "'test.gain' refuses 'loud' for 'Gain'",
         1},
        {"value out of range",
         {"--set", "gain=2", "{dir}/in.wav"},
         "'2' is outside the range of 'Gain' (0.000 to 1.000)",
         1},
        {"read-only parameter",
         {"--set", "peak=0.5", "{dir}/in.wav"},
         "the parameter 'Peak' is read-only",
         1},
        {"refused ramp end",
         {"--ramp", "gain=0:max", "{dir}/in.wav"},
         "'test.gain' refuses 'max' for 'Gain'",
         1},
        {"no clap_entry",
         {"--plugin", NOT_A_PLUGIN, "{dir}/in.wav"},
         "'" NOT_A_PLUGIN "' is not a CLAP plug-in: it has no clap_entry",
         1},
        {"missing library",
         {"--plugin", "{dir}/none.clap", "{dir}/in.wav"},
         "cannot load the plug-in library '{dir}/none.clap': ",
         1},
        {"unknown plug-in id",
         {"--plugin-id", "test.nothing", "{dir}/in.wav"},
         "no plug-in 'test.nothing' in '" TEST_PLUGINS "' (it has test.gain, ",
         1},
        {"create fails",
         {"--plugin-id", "test.no-create", "{dir}/in.wav"},
         "the plug-in 'test.no-create' failed to create",
         1},
        {"init fails",
         {"--plugin-id", "test.no-init", "{dir}/in.wav"},
         "the plug-in 'test.no-init' failed to initialise",
         1},
        {"sample rate refused",
         {"--plugin-id", "test.fixed", "{dir}/in.wav"},
         "'test.fixed' refuses to run at 48000 Hz with 2 channels",
         1},
        {"fixed channel count",
         {"--plugin-id", "test.fixed", "{dir}/mono.wav"},
         "'test.fixed' cannot take 1 channel (it takes 2)",
         1},
        {"too many channels",
         {"--impulse", "--channels", "9"},
         "'test.gain' cannot take 9 channels (it takes 1 to 8)",
         1},
        {"error while processing",
         {"--plugin-id", "test.fails-midway", "{dir}/in.wav"},
         "'test.fails-midway' reported an error while processing at 0.085 s",
         1},
        {"truncated input",
         {"{dir}/cut.wav"},
         "cannot read '{dir}/cut.wav': the file is cut short (its header promises 48000 frames, "
         "it holds 100)",
         1},
        {"header only",
         {"{dir}/header.wav"},
         "cannot read '{dir}/header.wav': the file is cut short (its header promises 48000 "
         "frames, it holds 0)",
         1},
        {"no frames",
         {"{dir}/empty.wav"},
         "cannot read '{dir}/empty.wav': it holds no audio (0 frames)",
         1},
        {"empty standard input", {"-"}, "cannot read standard input: it is empty", 1},
        {"extension it cannot write",
         {"{dir}/in.wav", "-o", "{dir}/out.mp3"},
         "cannot write '{dir}/out.mp3': clap-render writes .wav, .flac, .aif(f), .caf, .w64, .rf64 "
         "and .au files, not .mp3",
         1},
        {"float into FLAC",
         {"--float", "{dir}/in.wav", "-o", "{dir}/out.flac"},
         "cannot write '{dir}/out.flac': FLAC cannot hold 32-bit float samples (--float); name a "
         ".wav, .aiff or .caf file",
         1},
        {"missing output folder",
         {"{dir}/in.wav", "{dir}/nowhere/out.wav"},
         "the output folder '{dir}/nowhere' does not exist",
         1},
        {"output over input",
         {"{dir}/in.wav", "{dir}/in.wav"},
         "the output '{dir}/in.wav' would overwrite the input",
         1},
        {"state refused",
         {"--load-state", "{dir}/notes.txt", "{dir}/in.wav"},
         "'test.gain' refuses the state in '{dir}/notes.txt'",
         1},
        {"state missing",
         {"--load-state", "{dir}/none.state", "{dir}/in.wav"},
         "cannot load the state: cannot read '{dir}/none.state': no such file",
         1},
        {"state folder missing",
         {"--save-state", "{dir}/nowhere/s.state", "{dir}/in.wav"},
         "the output folder '{dir}/nowhere' does not exist",
         1},
        {"bad block size",
         {"--block", "0"},
         "--block wants a whole number of frames from 1 to 65536, not '0'",
         2},
        {"ramp without target", {"--ramp", "gain=0"}, "--ramp wants NAME=FROM:TO, not 'gain=0'", 2},
        {"unknown option", {"--loud"}, "unknown option '--loud' (see --help)", 2},
        {"unknown last option",
         {"{dir}/in.wav", "--loud"},
         "unknown option '--loud' (see --help)",
         2},
        {"empty state",
         {"--load-state", "/dev/null", "{dir}/in.wav"},
         "cannot load the state: cannot read '/dev/null': it is empty",
         1},
        {"state is a folder",
         {"--load-state", "{dir}", "{dir}/in.wav"},
         "cannot load the state: cannot read '{dir}': it is a folder",
         1},
        {"plot over the input through a link",
         {"{dir}/in.wav", "--plot", "{dir}/link.svg"},
         "--plot '{dir}/link.svg' would overwrite the input",
         1},
        {"state over the input",
         {"{dir}/in.wav", "--save-state", "{dir}/in.wav"},
         "--save-state '{dir}/in.wav' would overwrite the input",
         1},
        {"state over the plot",
         {"{dir}/in.wav", "--plot", "{dir}/p.svg", "--save-state", "{dir}/./p.svg"},
         "--save-state '{dir}/./p.svg' would overwrite the plot",
         1},
        {"plot folder missing",
         {"{dir}/in.wav", "--plot", "{dir}/nowhere/p.svg"},
         "the output folder '{dir}/nowhere' does not exist",
         1},
        {"plot on a full device",
         {"{dir}/in.wav", "--plot", "/dev/full", "--save-state", "{dir}/s.state"},
         "cannot write '/dev/full': No space left on device",
         1},
        {"plot of another format",
         {"--plot", "{dir}/p.png"},
         "--plot draws SVG, so it wants a .svg file, not '{dir}/p.png'",
         2},
        {"set and ramp of one parameter",
         {"--set", "gain=0.5", "--ramp", "gain=0:1", "{dir}/in.wav"},
         "--set and --ramp both name 'Gain'; give it one or the other",
         1},
        {"ramp and automation of one parameter",
         {"--ramp", "gain=0:1", "--automate", "gain=0:1,1s:0", "{dir}/in.wav"},
         "--ramp and --automate both name 'Gain'; give it one or the other",
         1},
        // Root reads any file, so only another user sees this one.
        {::geteuid() == 0 ? "unreadable input (skipped as root)" : "unreadable input",
         {"{dir}/locked.wav"},
         ::geteuid() == 0 ? "" : "cannot read '{dir}/locked.wav': Permission denied",
         1},
    };
    for (const BadCase& c : cases) {
        TempDir dir;
        const std::string d = dir.path().string();
        write_audio(dir / "in.wav", noise(48000, 2));
        write_audio(dir / "mono.wav", noise(100, 1, 44100));
        std::ofstream(dir / "notes.txt") << "not audio\n";
        write_wav_promising(dir / "cut.wav", 100, 48000);
        write_wav_promising(dir / "header.wav", 0, 48000);
        write_wav_promising(dir / "empty.wav", 0, 0);
        write_audio(dir / "locked.wav", noise(100, 1));
        fs::permissions(dir / "locked.wav", fs::perms::none);
        fs::create_symlink(dir / "in.wav", dir / "link.svg");
        const auto before = dir.names();
        const std::string input = read_text(dir / "in.wav");

        Args args;
        if (std::string(c.what).ends_with("(skipped as root)")) continue;
        for (const auto& a : c.args)
            args.push_back(expand(a, d));
        args.insert(args.end(), {"-o", dir / "out.wav"});
        if (std::string(c.what) == "missing output folder" ||
            std::string(c.what) == "output over input" ||
            std::string(c.what) == "extension it cannot write" ||
            std::string(c.what) == "float into FLAC" ||
            std::string(c.what) == "unknown last option") {
            args.resize(args.size() - 2);
        }
        const Outcome run = run_tool(dir, with_plugin("test.gain", args));

        EXPECT_EQ(run.status, c.status) << c.what;
        const std::string expected = "clap-render: " + expand(c.error, d);
        EXPECT_EQ(run.err.substr(0, expected.size()), expected) << c.what;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(dir.names(), before) << c.what << ": an output was left behind";
        EXPECT_TRUE(read_text(dir / "in.wav") == input) << c.what << ": the input was changed";
    }
}

}  // namespace
}  // namespace orba::test
