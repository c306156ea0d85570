// Reproducible byte streams shared by the stand-in interpreter and the tests.
//
// The stand-in's `rand SEED N` command writes the bytes of RandomStream(SEED, N), cut into
// writes whose sizes come from a second generator seeded with SEED ^ kRandomChunkSeedXor.
// A test rebuilds the expected output by calling RandomStream with the same arguments.
#ifndef VARNEL_TESTS_SPLITMIX_H_
#define VARNEL_TESTS_SPLITMIX_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// Seed of the write-size generator is the stream seed xor this value.
const uint64_t kRandomChunkSeedXor = 0x5555;
// Writes are 1..kRandomMaxChunk bytes long.
const uint64_t kRandomMaxChunk = 8192;

// splitmix64: advances the state and returns the next 64-bit value.
inline uint64_t SplitMixNext(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Next data byte: the low 8 bits of the next value.
inline unsigned char SplitMixByte(uint64_t& state) {
    return static_cast<unsigned char>(SplitMixNext(state) & 0xFF);
}

// Next write size, 1..kRandomMaxChunk.
inline size_t SplitMixChunkSize(uint64_t& state) {
    return static_cast<size_t>(1 + SplitMixNext(state) % kRandomMaxChunk);
}

// Replaces `out` with the first `n` bytes of the stream for `seed`.
inline void RandomStream(uint64_t seed, size_t n, std::string& out) {
    uint64_t state = seed;
    out.resize(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<char>(SplitMixByte(state));
}

#endif  // VARNEL_TESTS_SPLITMIX_H_
