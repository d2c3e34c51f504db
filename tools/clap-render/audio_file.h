#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orba/core/result.h"

namespace orba::render {

struct Done {};

// Interleaved frames from a file or from memory.
class Source {
  public:
    virtual ~Source() = default;
    virtual double sample_rate() const = 0;
    virtual std::uint32_t channels() const = 0;
    virtual std::int64_t frames() const = 0;
    // libsndfile's format code of a file input; 0 for generated audio.
    virtual int format() const = 0;
    // Fills `out` with up to `frames` frames; fewer only at the end of the input.
    virtual Result<std::size_t> read(float* out, std::size_t frames) = 0;
};

// Any format libsndfile reads; "-" reads standard input. Fails with one line
// naming the file, also when the file is cut short of what its header promises
// or holds no frames at all.
Result<std::unique_ptr<Source>> open_audio(const std::string& path);

std::unique_ptr<Source> memory_source(std::vector<float> interleaved, double sample_rate,
                                      std::uint32_t channels);

// libsndfile's format code for the output: the container the output name's
// extension names (the input's, or WAV, when it names none) with the input's
// sample encoding, or 24-bit then 16-bit PCM when that container cannot hold
// it; 32-bit float for generated input or when asked. An extension it cannot
// write, or a container that cannot hold what is asked, fails.
Result<int> output_format(int input_format, const std::string& output_path, bool float_output,
                          double sample_rate, std::uint32_t channels);

// "WAV 24-bit", "FLAC 16-bit", "AIFF 32-bit float".
std::string format_name(int format);
// Whether samples beyond full scale are clipped when written.
bool is_integer_format(int format);

// A file held in memory, read or written by libsndfile as if it were on disk.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    std::int64_t position = 0;
};

// Where an output really goes. A symbolic link is followed to its target, so the
// link stays; a regular file (or a new one) is written under a temporary name
// and renamed into place; a device or FIFO is written directly, as is standard
// output for "-". Nothing that is not a regular file is ever replaced.
struct OutputTarget {
    enum class Kind { File, Direct, Stdout };
    Kind kind = Kind::File;
    std::string path;  // the link's target for a link
};
Result<OutputTarget> resolve_output(const std::string& path);

// How users call the output and input in messages: the quoted name, or
// "standard output" / "standard input" for "-".
std::string display_name(const std::string& path, bool output);

// A file written under a temporary name in its final folder and renamed into
// place by commit(), so that a failed or interrupted render never leaves a
// partial file under the name asked for. Dropping it uncommitted removes the
// temporary file. A device, FIFO or standard output receives the whole file at
// commit(), so it too sees nothing of a failed render.
class AudioWriter {
  public:
    static Result<std::unique_ptr<AudioWriter>> create(const std::string& path, int format,
                                                       double sample_rate, std::uint32_t channels);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    Result<Done> write(const float* interleaved, std::size_t frames);
    // Closes the file; a device, FIFO or standard output receives it now, a
    // file waits under its temporary name for commit().
    Result<Done> finish();
    Result<Done> commit();

  private:
    AudioWriter() = default;
    void discard();

    void* file_ = nullptr;  // SNDFILE*
    std::string path_;
    OutputTarget target_;
    std::string temp_;
    MemoryFile memory_;
};

// Bytes written to `path` as AudioWriter writes a render, in two steps, so
// that several outputs appear together or not at all: create() writes them
// (a device or FIFO receives them at once) and publish() renames the file into
// place. Dropped unpublished, it removes the temporary file.
class StagedFile {
  public:
    static Result<std::unique_ptr<StagedFile>> create(const std::string& path,
                                                      const std::vector<std::uint8_t>& bytes);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    Result<Done> publish();

  private:
    StagedFile() = default;
    std::string path_;
    std::string target_;
    std::string temp_;
};

// Fails, before anything is rendered, when `path` cannot be written: its
// folder is missing or closed to this user, or it names a folder.
Result<Done> check_writable(const std::string& path);

// Writes `bytes` to `path` as AudioWriter writes a render.
Result<Done> write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
Result<std::vector<std::uint8_t>> read_file(const std::string& path);

// Fails with "the output folder '...' does not exist" (or is no folder).
Result<Done> check_output_folder(const std::string& path);

// The temporary name a file is written under before it is renamed to `path`.
std::string temporary_name(const std::string& path);

}  // namespace orba::render
