// What the stand-in interpreter (fake_interpreter.cpp) writes that the tests predict: its
// greeting, the text of its floods, and its random byte streams.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// Written once the stand-in has started, before anything else.
const char kGreeting[] = "FAKE READY\r\n";
// Written after each flood.
const char kFloodEnd[] = "FLOOD END\r\n";

// A flood is made of lines of one length: line k is k modulo 10^8 in eight digits, a blank,
// letters from 'a' on, and CR LF. Only the digits change from line to line.
inline std::string FloodLineTemplate(size_t length) {
    std::string line(length, ' ');
    for (size_t i = 9; i + 2 < length; ++i)
        line[i] = static_cast<char>('a' + (i - 9) % 26);
    line[length - 2] = '\r';
    line[length - 1] = '\n';
    return line;
}

inline void SetFloodLineNumber(char* line, uint64_t number) {
    number %= 100000000;
    for (int i = 7; i >= 0; --i) {
        line[i] = static_cast<char>('0' + number % 10);
        number /= 10;
    }
}

// The first `bytes` bytes of a flood of `lineLength`-byte lines (without its end marker).
inline std::string FloodText(size_t bytes, size_t lineLength = 80) {
    std::string line = FloodLineTemplate(lineLength), text;
    for (uint64_t number = 0; text.size() < bytes; ++number) {
        SetFloodLineNumber(&line[0], number);
        text += line;
    }
    text.resize(bytes);
    return text;
}

// splitmix64: advances the state and returns the next 64-bit value. The random streams, and the
// tests' own random cases, come from it.
inline uint64_t SplitMixNext(uint64_t& state) {
    state += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// The first `n` bytes of the stream that the stand-in's `rand SEED N` writes for `seed`.
inline std::string RandomStream(uint64_t seed, size_t n) {
    std::string out(n, '\0');
    for (char& c : out)
        c = static_cast<char>(SplitMixNext(seed));
    return out;
}
