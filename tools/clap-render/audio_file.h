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

// Any format libsndfile reads. Fails with one line naming the file.
Result<std::unique_ptr<Source>> open_audio(const std::string& path);

std::unique_ptr<Source> memory_source(std::vector<float> interleaved, double sample_rate,
                                      std::uint32_t channels);

// libsndfile's format code for the output: 32-bit float WAV when asked or when
// the input was generated; otherwise the container the output name's extension
// names (the input's when it names none) with the input's sample encoding, or
// 24-bit PCM when that container cannot hold it.
int output_format(int input_format, const std::string& output_path, bool float_output,
                  double sample_rate, std::uint32_t channels);

// A file written under a temporary name in its final folder and renamed into
// place by commit(), so that a failed or interrupted render never leaves a
// partial file under the name asked for. Dropping it uncommitted removes the
// temporary file.
class AudioWriter {
  public:
    static Result<std::unique_ptr<AudioWriter>> create(const std::string& path, int format,
                                                       double sample_rate, std::uint32_t channels);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    Result<Done> write(const float* interleaved, std::size_t frames);
    Result<Done> commit();

  private:
    AudioWriter() = default;
    void discard();

    void* file_ = nullptr;  // SNDFILE*
    std::string path_;
    std::string temp_;
};

// Writes `bytes` to `path` through a temporary file and a rename.
Result<Done> write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
Result<std::vector<std::uint8_t>> read_file(const std::string& path);

// Fails with "the output folder '...' does not exist" (or is no folder).
Result<Done> check_output_folder(const std::string& path);

// The temporary name a file is written under before it is renamed to `path`.
std::string temporary_name(const std::string& path);

}  // namespace orba::render
