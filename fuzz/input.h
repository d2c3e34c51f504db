#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

// Reads a fuzz input as a stream of choices. Past the end every read gives
// zero, so any input, however short, drives a whole run; the same bytes
// always give the same run, under libFuzzer and under the replay driver alike.
namespace orba::fuzz {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool empty() const { return pos_ >= bytes_.size(); }
    std::size_t left() const { return bytes_.size() - pos_; }

    std::uint8_t byte() { return empty() ? 0 : bytes_[pos_++]; }

    template <class T>
    T raw() {
        T value{};
        unsigned char buffer[sizeof(T)] = {};
        const std::size_t n = std::min(sizeof(T), left());
        if (n > 0) std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        std::memcpy(&value, buffer, sizeof(T));
        return value;
    }

    bool flag() { return (byte() & 1) != 0; }

    // 0 ... n - 1; n must not be 0.
    std::uint32_t below(std::uint32_t n) { return raw<std::uint16_t>() % n; }

    template <class T, std::size_t N>
    const T& pick(const T (&choices)[N]) {
        return choices[below(static_cast<std::uint32_t>(N))];
    }

    // Up to `limit` bytes, the length read first.
    std::span<const std::uint8_t> bytes(std::size_t limit) {
        const std::size_t n = std::min<std::size_t>({below(0xFFFF), limit, left()});
        const std::span<const std::uint8_t> out = bytes_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

    std::string_view text(std::size_t limit) {
        const std::span<const std::uint8_t> b = bytes(limit);
        return {reinterpret_cast<const char*>(b.data()), b.size()};
    }

    // Everything not read yet.
    std::span<const std::uint8_t> rest() {
        const std::span<const std::uint8_t> out = bytes_.subspan(pos_);
        pos_ = bytes_.size();
        return out;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace orba::fuzz
