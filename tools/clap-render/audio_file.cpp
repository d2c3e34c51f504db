#include "audio_file.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "text.h"

namespace orba::render {
namespace {

namespace fs = std::filesystem;

class FileSource final : public Source {
  public:
    FileSource(SNDFILE* file, const SF_INFO& info) : file_(file), info_(info) {}
    ~FileSource() override { sf_close(file_); }

    double sample_rate() const override { return info_.samplerate; }
    std::uint32_t channels() const override { return static_cast<std::uint32_t>(info_.channels); }
    std::int64_t frames() const override { return info_.frames; }
    int format() const override { return info_.format; }

    Result<std::size_t> read(float* out, std::size_t frames) override {
        std::size_t done = 0;
        while (done < frames) {
            const sf_count_t got = sf_readf_float(file_, out + done * channels(),
                                                  static_cast<sf_count_t>(frames - done));
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        if (done < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
            return fail(std::string("reading the input failed: ") + sf_strerror(file_));
        }
        return done;
    }

  private:
    SNDFILE* file_;
    SF_INFO info_;
};

class MemorySource final : public Source {
  public:
    MemorySource(std::vector<float> samples, double rate, std::uint32_t channels)
        : samples_(std::move(samples)), rate_(rate), channels_(channels) {}

    double sample_rate() const override { return rate_; }
    std::uint32_t channels() const override { return channels_; }
    std::int64_t frames() const override {
        return static_cast<std::int64_t>(samples_.size() / channels_);
    }
    int format() const override { return 0; }

    Result<std::size_t> read(float* out, std::size_t frames) override {
        const std::size_t left = samples_.size() / channels_ - position_;
        const std::size_t n = std::min(frames, left);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(position_ * channels_),
                    n * channels_, out);
        position_ += n;
        return n;
    }

  private:
    std::vector<float> samples_;
    double rate_;
    std::uint32_t channels_;
    std::size_t position_ = 0;
};

int container_for(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".wav") return SF_FORMAT_WAV;
    if (ext == ".flac") return SF_FORMAT_FLAC;
    if (ext == ".aif" || ext == ".aiff") return SF_FORMAT_AIFF;
    return 0;
}

bool format_ok(int format, double sample_rate, std::uint32_t channels) {
    SF_INFO info{};
    info.format = format;
    info.samplerate = static_cast<int>(sample_rate);
    info.channels = static_cast<int>(channels);
    return sf_format_check(&info) != 0;
}

}  // namespace

Result<std::unique_ptr<Source>> open_audio(const std::string& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!fs::exists(status)) return fail("cannot read " + in_quotes(path) + ": no such file");
    if (fs::is_directory(status))
        return fail("cannot read " + in_quotes(path) + ": it is a folder");
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return fail("cannot read " + in_quotes(path) + ": not an audio file libsndfile knows (" +
                    sf_strerror(nullptr) + ")");
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        return fail("cannot read " + in_quotes(path) + ": it holds no audio channels");
    }
    return std::unique_ptr<Source>(std::make_unique<FileSource>(file, info));
}

std::unique_ptr<Source> memory_source(std::vector<float> interleaved, double sample_rate,
                                      std::uint32_t channels) {
    return std::make_unique<MemorySource>(std::move(interleaved), sample_rate, channels);
}

int output_format(int input_format, const std::string& output_path, bool float_output,
                  double sample_rate, std::uint32_t channels) {
    if (float_output) return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const int input_major = input_format & SF_FORMAT_TYPEMASK;
    int major = container_for(output_path);
    if (major == 0) major = input_major != 0 ? input_major : SF_FORMAT_WAV;
    int format = 0;
    if (input_format == 0) {
        format = major | SF_FORMAT_FLOAT;
    } else if (major == input_major) {
        format = input_format;
    } else {
        format = major | (input_format & SF_FORMAT_SUBMASK);
    }
    for (int candidate : {format, major | SF_FORMAT_PCM_24, major | SF_FORMAT_PCM_16}) {
        if (format_ok(candidate, sample_rate, channels)) return candidate;
    }
    return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
}

std::string temporary_name(const std::string& path) {
    const fs::path p(path);
    std::string name = ".";
    name += p.filename().string();
    name += ".partial-";
    name += std::to_string(static_cast<long>(::getpid()));
    return (p.parent_path() / name).string();
}

Result<Done> check_output_folder(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    if (fs::path(path).filename().empty()) {
        return fail("the output " + in_quotes(path) + " names a folder, not a file");
    }
    if (parent.empty()) return Done{};
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
        return fail("the output folder " + in_quotes(parent.string()) + " does not exist");
    }
    return Done{};
}

Result<std::unique_ptr<AudioWriter>> AudioWriter::create(const std::string& path, int format,
                                                         double sample_rate,
                                                         std::uint32_t channels) {
    if (auto folder = check_output_folder(path); !folder) return std::move(folder).take_error();
    std::unique_ptr<AudioWriter> writer(new AudioWriter());
    writer->path_ = path;
    writer->temp_ = temporary_name(path);
    SF_INFO info{};
    info.format = format;
    info.samplerate = static_cast<int>(sample_rate);
    info.channels = static_cast<int>(channels);
    SNDFILE* file = sf_open(writer->temp_.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::remove(writer->temp_.c_str());
        return fail("cannot write " + in_quotes(path) + ": " + sf_strerror(nullptr));
    }
    // Integer formats clip rather than wrap around.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    writer->file_ = file;
    return writer;
}

AudioWriter::~AudioWriter() {
    discard();
}

void AudioWriter::discard() {
    if (file_ != nullptr) {
        sf_close(static_cast<SNDFILE*>(file_));
        file_ = nullptr;
        std::remove(temp_.c_str());
    }
}

Result<Done> AudioWriter::write(const float* interleaved, std::size_t frames) {
    auto* file = static_cast<SNDFILE*>(file_);
    const sf_count_t n = static_cast<sf_count_t>(frames);
    if (file == nullptr || sf_writef_float(file, interleaved, n) != n) {
        return fail("cannot write " + in_quotes(path_) + ": " + sf_strerror(file));
    }
    return Done{};
}

Result<Done> AudioWriter::commit() {
    auto* file = static_cast<SNDFILE*>(file_);
    if (file == nullptr) return fail("cannot write " + in_quotes(path_) + ": already closed");
    file_ = nullptr;
    if (sf_close(file) != 0) {
        std::remove(temp_.c_str());
        return fail("cannot write " + in_quotes(path_) + ": closing the file failed");
    }
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temp_.c_str());
        return fail("cannot write " + in_quotes(path_) + ": " + reason);
    }
    return Done{};
}

Result<Done> write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (auto folder = check_output_folder(path); !folder) return std::move(folder).take_error();
    const std::string temp = temporary_name(path);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            return fail("cannot write " + in_quotes(path));
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temp.c_str());
        return fail("cannot write " + in_quotes(path) + ": " + reason);
    }
    return Done{};
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return fail("cannot read " + in_quotes(path) + ": no such file");
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return fail("cannot read " + in_quotes(path));
    return bytes;
}

}  // namespace orba::render
