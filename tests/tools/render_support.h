#pragma once

// Runs the built clap-render as a process and reads and writes the audio files
// it works on.

#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace orba::test {

namespace fs = std::filesystem;

struct Audio {
    int rate = 48000;
    int channels = 2;
    std::vector<float> samples;  // interleaved
    int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

    std::size_t frames() const { return samples.size() / static_cast<std::size_t>(channels); }
    float at(std::size_t frame, int channel) const {
        return samples[frame * static_cast<std::size_t>(channels) +
                       static_cast<std::size_t>(channel)];
    }
};

inline void write_audio(const fs::path& path, const Audio& audio) {
    SF_INFO info{};
    info.samplerate = audio.rate;
    info.channels = audio.channels;
    info.format = audio.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("cannot write " + path.string());
    sf_writef_float(file, audio.samples.data(), static_cast<sf_count_t>(audio.frames()));
    sf_close(file);
}

inline Audio read_audio(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) throw std::runtime_error("cannot read " + path.string());
    Audio audio;
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    audio.format = info.format;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

// Deterministic noise at about -12 dBFS, never so small that a plug-in's
// flush of tiny values to zero could touch it.
inline Audio noise(std::size_t frames, int channels, int rate = 48000, std::uint32_t seed = 1) {
    Audio audio;
    audio.rate = rate;
    audio.channels = channels;
    audio.samples.resize(frames * static_cast<std::size_t>(channels));
    for (float& s : audio.samples) {
        seed = seed * 1664525u + 1013904223u;
        const float v = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
        s = v < 0 ? v - 0.001f : v + 0.001f;
    }
    return audio;
}

inline std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int status = -1;  // the exit code
    std::string out;
    std::string err;
};

// A fresh folder per test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "clap-render-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // Every file name in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> list;
        for (const auto& entry : fs::directory_iterator(path_)) {
            list.push_back(entry.path().filename().string());
        }
        std::sort(list.begin(), list.end());
        return list;
    }

  private:
    fs::path path_;
};

// Runs the tool with `args`, its stdout and stderr captured through files in
// `dir`, and its stdin read from `input` (none: /dev/null).
inline Outcome run_tool(const TempDir& dir, const std::vector<std::string>& args,
                        const std::string& input = "/dev/null") {
    const fs::path out = dir.path().parent_path() / (dir.path().filename().string() + ".out");
    const fs::path err = dir.path().parent_path() / (dir.path().filename().string() + ".err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    std::vector<std::string> all;
    std::istringstream emulator(ORBA_TOOL_EMULATOR);
    for (std::string word; emulator >> word;)
        all.push_back(word);
    all.push_back(CLAP_RENDER);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = read_text(out);
    run.err = read_text(err);
    fs::remove(out);
    fs::remove(err);
    return run;
}

}  // namespace orba::test
