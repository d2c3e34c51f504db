#include "audio_file.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <utility>

#include "paths.h"
#include "raw_io.h"
#include "text.h"

namespace orba::render {
namespace {

namespace fs = std::filesystem;

sf_count_t memory_length(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size());
}

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
    auto* memory = static_cast<MemoryFile*>(user);
    std::int64_t base = 0;
    if (whence == SEEK_CUR) base = memory->position;
    if (whence == SEEK_END) base = static_cast<std::int64_t>(memory->bytes.size());
    const std::int64_t position = base + offset;
    if (position < 0) return -1;
    memory->position = position;
    return position;
}

sf_count_t memory_read(void* out, sf_count_t count, void* user) {
    auto* memory = static_cast<MemoryFile*>(user);
    const auto size = static_cast<std::int64_t>(memory->bytes.size());
    const std::int64_t n = std::clamp<std::int64_t>(size - memory->position, 0, count);
    std::memcpy(out, memory->bytes.data() + memory->position, static_cast<std::size_t>(n));
    memory->position += n;
    return n;
}

sf_count_t memory_write(const void* in, sf_count_t count, void* user) {
    auto* memory = static_cast<MemoryFile*>(user);
    const auto end = static_cast<std::size_t>(memory->position + count);
    if (memory->bytes.size() < end) memory->bytes.resize(end);
    std::memcpy(memory->bytes.data() + memory->position, in, static_cast<std::size_t>(count));
    memory->position += count;
    return count;
}

sf_count_t memory_tell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

SF_VIRTUAL_IO MEMORY_IO{&memory_length, &memory_seek, &memory_read, &memory_write, &memory_tell};

// Puts `from` in the place of `to`, replacing a file there; the reason it
// could not otherwise. std::rename leaves an existing `to` alone on Windows.
std::optional<std::string> replace_file(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(file_path(from), file_path(to), ec);
    if (!ec) return std::nullopt;
    return ec.message();
}

// Writes all of `bytes` to `fd`; the reason it stopped otherwise.
std::optional<std::string> write_all(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::strerror(n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
    return std::nullopt;
}

Result<Done> write_direct(const std::string& path, const OutputTarget& target,
                          const std::vector<std::uint8_t>& bytes) {
    const std::string name = display_name(path, true);
    if (target.kind == OutputTarget::Kind::Stdout) {
        if (auto error = write_all(STDOUT_FILENO, bytes))
            return fail("cannot write " + name + ": " + *error);
        return Done{};
    }
    // No O_CREAT or O_TRUNC: the node is there, and it is not ours to reshape.
    const int fd = open_existing_for_writing(target.path);
    if (fd < 0) return fail("cannot write " + name + ": " + std::strerror(errno));
    auto error = write_all(fd, bytes);
    if (::close(fd) != 0 && !error) error = std::strerror(errno);
    if (error) return fail("cannot write " + name + ": " + *error);
    return Done{};
}

// The frames a WAV or AIFF header promises beyond what the file holds, read
// from libsndfile's log ("data : 192000 (should be 400)"), which otherwise
// quietly shortens the file to what is there.
std::optional<std::pair<std::int64_t, std::int64_t>> cut_short(SNDFILE* file, const SF_INFO& info) {
    char log[8192] = {};
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    const std::string_view text(log, strnlen(log, sizeof log));
    for (std::string_view chunk : {"data : ", "SSND : "}) {
        const auto at = text.find(chunk);
        if (at == std::string_view::npos) continue;
        const char* p = text.data() + at + chunk.size();
        const char* end = text.data() + text.size();
        std::int64_t promised = 0;
        std::int64_t held = 0;
        auto first = std::from_chars(p, end, promised);
        const std::string_view should = " (should be ";
        if (first.ec != std::errc() ||
            std::string_view(first.ptr, end).substr(0, should.size()) != should)
            continue;
        auto second = std::from_chars(first.ptr + should.size(), end, held);
        // A header still saying 0xFFFFFFFF was written by a recorder that never
        // went back to fill it in; the file is whole.
        if (second.ec != std::errc() || promised <= held || promised >= 0xFFFFFFFFLL) continue;
        const std::int64_t frame_bytes = held > 0 && info.frames > 0 ? held / info.frames : 0;
        if (frame_bytes <= 0) {
            int bytes = 0;
            switch (info.format & SF_FORMAT_SUBMASK) {
                case SF_FORMAT_PCM_S8:
                case SF_FORMAT_PCM_U8:
                    bytes = 1;
                    break;
                case SF_FORMAT_PCM_16:
                    bytes = 2;
                    break;
                case SF_FORMAT_PCM_24:
                    bytes = 3;
                    break;
                case SF_FORMAT_DOUBLE:
                    bytes = 8;
                    break;
                default:
                    bytes = 4;
                    break;
            }
            return std::pair{promised / (bytes * info.channels), info.frames};
        }
        return std::pair{promised / frame_bytes, info.frames};
    }
    return std::nullopt;
}

// A CAF file written to a pipe cannot go back to fill in its audio's length,
// so its data chunk says -1 ("to the end", which libsndfile refuses) or 0.
// Read whole, the length is what follows the chunk's header.
void complete_streamed_caf(std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), "caff", 4) != 0) return;
    std::size_t at = 8;
    while (at + 12 <= bytes.size()) {
        std::uint64_t size = 0;
        for (std::size_t i = 0; i < 8; ++i)
            size = size << 8 | bytes[at + 4 + i];
        const std::uint64_t rest = bytes.size() - at - 12;
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            if (size == 0 || size > rest) {
                for (std::size_t i = 0; i < 8; ++i)
                    bytes[at + 4 + i] = static_cast<std::uint8_t>(rest >> (8 * (7 - i)));
            }
            return;
        }
        if (size > rest) return;
        at += 12 + static_cast<std::size_t>(size);
    }
}

class FileSource final : public Source {
  public:
    FileSource(SNDFILE* file, const SF_INFO& info, std::unique_ptr<MemoryFile> memory)
        : file_(file), info_(info), memory_(std::move(memory)) {}
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
    std::unique_ptr<MemoryFile> memory_;  // standard input, read whole
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

struct Container {
    std::string_view extension;
    int major;
    std::string_view name;
};

constexpr Container CONTAINERS[] = {
    {".wav", SF_FORMAT_WAV, "WAV"},    {".flac", SF_FORMAT_FLAC, "FLAC"},
    {".aif", SF_FORMAT_AIFF, "AIFF"},  {".aiff", SF_FORMAT_AIFF, "AIFF"},
    {".aifc", SF_FORMAT_AIFF, "AIFF"}, {".caf", SF_FORMAT_CAF, "CAF"},
    {".w64", SF_FORMAT_W64, "W64"},    {".rf64", SF_FORMAT_RF64, "RF64"},
    {".au", SF_FORMAT_AU, "AU"},       {".snd", SF_FORMAT_AU, "AU"},
};

std::string extension_of(const std::string& path) {
    std::string ext = path_text(file_path(path).extension());
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

std::string_view container_name(int major) {
    for (const Container& c : CONTAINERS) {
        if (c.major == major) return c.name;
    }
    return major == SF_FORMAT_WAVEX ? "WAV" : major == SF_FORMAT_OGG ? "Ogg" : "audio";
}

bool is_sample_encoding(int encoding) {
    switch (encoding) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return true;
        default:
            return false;
    }
}

bool format_ok(int format, double sample_rate, std::uint32_t channels) {
    SF_INFO info{};
    info.format = format;
    info.samplerate = static_cast<int>(sample_rate);
    info.channels = static_cast<int>(channels);
    return sf_format_check(&info) != 0;
}

}  // namespace

std::string display_name(const std::string& path, bool output) {
    if (path == "-") return output ? "standard output" : "standard input";
    return in_quotes(path);
}

Result<std::unique_ptr<Source>> open_audio(const std::string& path) {
    const std::string name = display_name(path, false);
    SF_INFO info{};
    SNDFILE* file = nullptr;
    std::unique_ptr<MemoryFile> memory;
    if (path == "-") {
        // A pipe cannot seek, and most headers are read by seeking: read it whole.
        memory = std::make_unique<MemoryFile>();
        std::uint8_t chunk[65536];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail("cannot read " + name + ": " + std::strerror(errno));
            if (n == 0) break;
            memory->bytes.insert(memory->bytes.end(), chunk, chunk + n);
        }
        if (memory->bytes.empty()) return fail("cannot read " + name + ": it is empty");
        complete_streamed_caf(memory->bytes);
        file = sf_open_virtual(&MEMORY_IO, SFM_READ, &info, memory.get());
    } else {
        std::error_code ec;
        const auto status = fs::status(file_path(path), ec);
        if (!fs::exists(status)) return fail("cannot read " + name + ": no such file");
        if (fs::is_directory(status)) return fail("cannot read " + name + ": it is a folder");
        // libsndfile would call an unreadable file "not an audio file".
        if (::access(path.c_str(), R_OK) != 0) {
            return fail("cannot read " + name + ": " + std::strerror(errno));
        }
        file = sf_open(path.c_str(), SFM_READ, &info);
    }
    if (file == nullptr) {
        return fail("cannot read " + name + ": not an audio file libsndfile knows (" +
                    sf_strerror(nullptr) + ")");
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        return fail("cannot read " + name + ": it holds no audio channels");
    }
    // A pipe has been read to its end, and a program writing one cannot go
    // back to fill in the header's length, so what arrived is the whole file.
    if (const auto cut = path == "-" ? std::nullopt : cut_short(file, info)) {
        sf_close(file);
        return fail("cannot read " + name + ": the file is cut short (its header promises " +
                    std::to_string(cut->first) + " frames, it holds " +
                    std::to_string(cut->second) + ")");
    }
    if (info.frames == 0) {
        sf_close(file);
        return fail("cannot read " + name + ": it holds no audio (0 frames)");
    }
    return std::unique_ptr<Source>(std::make_unique<FileSource>(file, info, std::move(memory)));
}

std::unique_ptr<Source> memory_source(std::vector<float> interleaved, double sample_rate,
                                      std::uint32_t channels) {
    return std::make_unique<MemorySource>(std::move(interleaved), sample_rate, channels);
}

std::string format_name(int format) {
    std::string name(container_name(format & SF_FORMAT_TYPEMASK));
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return name + " 8-bit";
        case SF_FORMAT_PCM_16:
            return name + " 16-bit";
        case SF_FORMAT_PCM_24:
            return name + " 24-bit";
        case SF_FORMAT_PCM_32:
            return name + " 32-bit";
        case SF_FORMAT_FLOAT:
            return name + " 32-bit float";
        case SF_FORMAT_DOUBLE:
            return name + " 64-bit float";
        case SF_FORMAT_VORBIS:
            return name + " Vorbis";
        case SF_FORMAT_OPUS:
            return name + " Opus";
        case SF_FORMAT_ULAW:
            return name + " u-law";
        case SF_FORMAT_ALAW:
            return name + " A-law";
        default:
            return name;
    }
}

bool is_integer_format(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
            return false;
        default:
            return true;
    }
}

Result<int> output_format(int input_format, const std::string& output_path, bool float_output,
                          double sample_rate, std::uint32_t channels) {
    const std::string ext = extension_of(output_path);
    int major = 0;
    for (const Container& c : CONTAINERS) {
        if (c.extension == ext) major = c.major;
    }
    // A name without an extension (a device, a FIFO, standard output) takes
    // the input's container; an extension this tool cannot write is no
    // promise to break.
    if (major == 0 && !ext.empty() && output_path != "-") {
        return fail("cannot write " + in_quotes(output_path) +
                    ": clap-render writes .wav, .flac, "
                    ".aif(f), .caf, .w64, .rf64 and .au files, not " +
                    ext);
    }
    const int input_major = input_format & SF_FORMAT_TYPEMASK;
    if (major == 0) major = input_major != 0 && !float_output ? input_major : SF_FORMAT_WAV;
    if (major == SF_FORMAT_WAVEX) major = SF_FORMAT_WAV;
    const std::string holds = std::string(container_name(major)) + " cannot hold ";
    if (float_output) {
        if (!format_ok(major | SF_FORMAT_FLOAT, sample_rate, channels)) {
            return fail("cannot write " + in_quotes(output_path) + ": " + holds +
                        "32-bit float samples (--float); name a .wav, .aiff or .caf file");
        }
        return major | SF_FORMAT_FLOAT;
    }
    int format = 0;
    if (input_format == 0) {
        format = major | SF_FORMAT_FLOAT;
    } else if (major == input_major) {
        format = input_format;
    } else {
        // A compressed encoding (MP3, Vorbis, Opus) belongs to its own container.
        const int encoding = input_format & SF_FORMAT_SUBMASK;
        format = major | (is_sample_encoding(encoding) ? encoding : SF_FORMAT_PCM_24);
    }
    for (int candidate : {format, major | SF_FORMAT_PCM_24, major | SF_FORMAT_PCM_16}) {
        if (format_ok(candidate, sample_rate, channels)) return candidate;
    }
    return fail("cannot write " + in_quotes(output_path) + ": " + holds + std::to_string(channels) +
                (channels == 1 ? " channel" : " channels") + " at " +
                std::to_string(static_cast<long>(sample_rate)) + " Hz");
}

std::string temporary_name(const std::string& path) {
    const fs::path p = file_path(path);
    std::string name = ".";
    name += path_text(p.filename());
    name += ".partial-";
    name += std::to_string(static_cast<long>(::getpid()));
    return path_text(p.parent_path() / file_path(name));
}

Result<Done> check_output_folder(const std::string& path) {
    if (path == "-") return Done{};
    const fs::path parent = file_path(path).parent_path();
    if (file_path(path).filename().empty()) {
        return fail("the output " + in_quotes(path) + " names a folder, not a file");
    }
    if (parent.empty()) return Done{};
    std::error_code ec;
    if (!fs::is_directory(parent, ec)) {
        return fail("the output folder " + in_quotes(path_text(parent)) + " does not exist");
    }
    return Done{};
}

Result<OutputTarget> resolve_output(const std::string& path) {
    if (path == "-") return OutputTarget{OutputTarget::Kind::Stdout, path};
    if (auto folder = check_output_folder(path); !folder) return std::move(folder).take_error();
    fs::path at = file_path(path);
    std::error_code ec;
    for (int hops = 0;; ++hops) {
        const auto link = fs::symlink_status(at, ec);
        if (!fs::is_symlink(link)) break;
        if (hops == 40)
            return fail("cannot write " + in_quotes(path) + ": too many symbolic links");
        const fs::path target = fs::read_symlink(at, ec);
        if (ec) return fail("cannot write " + in_quotes(path) + ": " + ec.message());
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    const auto status = fs::status(at, ec);
    if (!fs::exists(status)) {
        if (path_text(at) != path &&
            !fs::is_directory(at.parent_path().empty() ? "." : at.parent_path(), ec)) {
            return fail("cannot write " + in_quotes(path) +
                        ": its link points into the missing folder " +
                        in_quotes(path_text(at.parent_path())));
        }
        return OutputTarget{OutputTarget::Kind::File, path_text(at)};
    }
    if (fs::is_directory(status)) {
        return fail("the output " + in_quotes(path) + " names a folder, not a file");
    }
    if (fs::is_regular_file(status)) return OutputTarget{OutputTarget::Kind::File, path_text(at)};
    if (fs::is_character_file(status) || fs::is_block_file(status) || fs::is_fifo(status)) {
        return OutputTarget{OutputTarget::Kind::Direct, path_text(at)};
    }
    return fail("cannot write " + in_quotes(path) + ": it is neither a file, a device nor a FIFO");
}

Result<std::unique_ptr<AudioWriter>> AudioWriter::create(const std::string& path, int format,
                                                         double sample_rate,
                                                         std::uint32_t channels) {
    auto target = resolve_output(path);
    if (!target) return std::move(target).take_error();
    std::unique_ptr<AudioWriter> writer(new AudioWriter());
    writer->path_ = path;
    writer->target_ = *target;
    SF_INFO info{};
    info.format = format;
    info.samplerate = static_cast<int>(sample_rate);
    info.channels = static_cast<int>(channels);
    SNDFILE* file = nullptr;
    if (target->kind == OutputTarget::Kind::File) {
        writer->temp_ = temporary_name(target->path);
        file = sf_open(writer->temp_.c_str(), SFM_WRITE, &info);
        if (file == nullptr) std::remove(writer->temp_.c_str());
    } else {
        file = sf_open_virtual(&MEMORY_IO, SFM_WRITE, &info, &writer->memory_);
    }
    if (file == nullptr) {
        return fail("cannot write " + display_name(path, true) + ": " + sf_strerror(nullptr));
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
    }
    if (!temp_.empty()) std::remove(temp_.c_str());
    temp_.clear();
}

Result<Done> AudioWriter::write(const float* interleaved, std::size_t frames) {
    auto* file = static_cast<SNDFILE*>(file_);
    const sf_count_t n = static_cast<sf_count_t>(frames);
    if (file == nullptr || sf_writef_float(file, interleaved, n) != n) {
        return fail("cannot write " + display_name(path_, true) + ": " + sf_strerror(file));
    }
    return Done{};
}

Result<Done> AudioWriter::finish() {
    const std::string name = display_name(path_, true);
    auto* file = static_cast<SNDFILE*>(file_);
    if (file == nullptr) return fail("cannot write " + name + ": already closed");
    file_ = nullptr;
    if (sf_close(file) != 0) {
        if (!temp_.empty()) std::remove(temp_.c_str());
        temp_.clear();
        return fail("cannot write " + name + ": closing the file failed");
    }
    if (target_.kind != OutputTarget::Kind::File)
        return write_direct(path_, target_, memory_.bytes);
    return Done{};
}

Result<Done> AudioWriter::commit() {
    if (file_ != nullptr) {
        if (auto finished = finish(); !finished) return finished;
    }
    if (temp_.empty()) return Done{};
    const std::string temp = std::exchange(temp_, std::string());
    if (auto reason = replace_file(temp, target_.path)) {
        std::remove(temp.c_str());
        return fail("cannot write " + display_name(path_, true) + ": " + *reason);
    }
    return Done{};
}

Result<std::unique_ptr<StagedFile>> StagedFile::create(const std::string& path,
                                                       const std::vector<std::uint8_t>& bytes) {
    auto target = resolve_output(path);
    if (!target) return std::move(target).take_error();
    std::unique_ptr<StagedFile> staged(new StagedFile());
    staged->path_ = path;
    staged->target_ = target->path;
    if (target->kind != OutputTarget::Kind::File) {
        if (auto written = write_direct(path, *target, bytes); !written) {
            return std::move(written).take_error();
        }
        return staged;
    }
    staged->temp_ = temporary_name(target->path);
    std::ofstream out(file_path(staged->temp_), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) return fail("cannot write " + in_quotes(path));
    return staged;
}

StagedFile::~StagedFile() {
    if (!temp_.empty()) std::remove(temp_.c_str());
}

Result<Done> StagedFile::publish() {
    if (temp_.empty()) return Done{};
    const std::string temp = std::exchange(temp_, std::string());
    if (auto reason = replace_file(temp, target_)) {
        std::remove(temp.c_str());
        return fail("cannot write " + in_quotes(path_) + ": " + *reason);
    }
    return Done{};
}

Result<Done> write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    auto staged = StagedFile::create(path, bytes);
    if (!staged) return std::move(staged).take_error();
    return (*staged)->publish();
}

Result<Done> check_writable(const std::string& path) {
    auto target = resolve_output(path);
    if (!target) return std::move(target).take_error();
    if (target->kind != OutputTarget::Kind::File) return Done{};
    const fs::path folder = file_path(target->path).parent_path();
    const std::string where = folder.empty() ? std::string(".") : path_text(folder);
    if (::access(where.c_str(), W_OK) != 0) {
        return fail("cannot write " + in_quotes(path) + ": " + std::strerror(errno));
    }
    return Done{};
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
    std::error_code ec;
    const auto status = fs::status(file_path(path), ec);
    if (!fs::exists(status)) return fail("cannot read " + in_quotes(path) + ": no such file");
    if (fs::is_directory(status))
        return fail("cannot read " + in_quotes(path) + ": it is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot read " + in_quotes(path) + ": " + std::strerror(errno));
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) return fail("cannot read " + in_quotes(path));
    if (bytes.empty()) return fail("cannot read " + in_quotes(path) + ": it is empty");
    return bytes;
}

}  // namespace orba::render
