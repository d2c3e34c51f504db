#include "orba/clap/wrapper.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "orba/core/state.h"

namespace orba::clap {
namespace {

// State.

bool state_save(const abi::clap_plugin* plugin, const abi::clap_ostream* stream) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && stream != nullptr && stream->write != nullptr && w->save(*stream);
}

bool state_load(const abi::clap_plugin* plugin, const abi::clap_istream* stream) noexcept {
    Wrapper* w = Wrapper::from(plugin);
    return w != nullptr && stream != nullptr && stream->read != nullptr && w->load(*stream);
}

}  // namespace

const abi::clap_plugin_state STATE = {
    .save = state_save,
    .load = state_load,
};

bool Wrapper::save(const abi::clap_ostream& stream) const noexcept {
    const std::vector<std::uint8_t> bytes = state::save(*params_);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t remaining = bytes.size() - written;
        const std::int64_t n = stream.write(&stream, bytes.data() + written, remaining);
        if (n <= 0) return false;
        written += std::min(static_cast<std::size_t>(n), remaining);
    }
    return true;
}

// Reads the whole stream before anything is applied, so a stream that fails
// half way changes nothing.
bool Wrapper::load(const abi::clap_istream& stream) noexcept {
    constexpr std::size_t CHUNK = 4096;
    std::vector<std::uint8_t> bytes;
    std::array<std::uint8_t, CHUNK> chunk;
    for (;;) {
        const std::int64_t n = stream.read(&stream, chunk.data(), chunk.size());
        if (n == 0) break;
        // A count above the request would make us read past our own buffer.
        if (n < 0 || static_cast<std::uint64_t>(n) > CHUNK) return false;
        const auto count = static_cast<std::size_t>(n);
        if (bytes.size() + count > MAX_STATE_BYTES) return false;
        bytes.insert(bytes.end(), chunk.begin(),
                     chunk.begin() + static_cast<std::ptrdiff_t>(count));
    }
    if (!state::load(*params_, bytes)) return false;
    if (host_ != nullptr && host_params_ != nullptr && host_params_->rescan != nullptr) {
        host_params_->rescan(host_, abi::CLAP_PARAM_RESCAN_VALUES);
    }
    return true;
}

}  // namespace orba::clap
