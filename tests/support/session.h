#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "tests/support/start_line.h"

// A host session of many tracks, as the concurrency tests of both wrappers
// play it. `make(t, seed)` gives a track: an instance with `play(block)`,
// the output it keeps in `out` and its count of `failed` calls.
namespace orba::test {

inline constexpr int SESSION_BLOCKS = 48;

// Plays each track alone, then all of them on `threads` audio threads while
// this thread runs `churn(i)` for other instances, and expects each track to
// sound as it did alone, bit for bit.
template <class Make, class Churn>
void expect_tracks_sound_as_alone(int count, int threads, int churns, Make make, Churn churn) {
    std::vector<std::vector<float>> alone;
    for (int t = 0; t < count; ++t) {
        const auto track = make(t, static_cast<unsigned>(t));
        for (int b = 0; b < SESSION_BLOCKS; ++b)
            track->play(b);
        alone.push_back(track->out);
    }
    std::vector<decltype(make(0, 0u))> tracks;
    for (int t = 0; t < count; ++t)
        tracks.push_back(make(t, static_cast<unsigned>(t)));
    StartLine start{threads + 1};
    std::vector<std::thread> audio;
    for (int a = 0; a < threads; ++a) {
        audio.emplace_back([&, a] {
            start.arrive_and_wait();
            for (int b = 0; b < SESSION_BLOCKS; ++b)
                for (int t = a; t < count; t += threads)
                    tracks[static_cast<std::size_t>(t)]->play(b);
        });
    }
    start.arrive_and_wait();
    for (int i = 0; i < churns; ++i)
        churn(i);
    for (std::thread& thread : audio)
        thread.join();
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        EXPECT_EQ(tracks[t]->failed, 0) << "track " << t;
        EXPECT_TRUE(tracks[t]->out == alone[t]) << "track " << t;
    }
}

}  // namespace orba::test
