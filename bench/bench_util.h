// What the load tool (ovload) and the agent (ovsink) agree on: the byte that
// opens every connection to the agent and says what the agent does with it,
// the data pattern both sides generate and check, and a small option reader.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ov::bench {

// The first byte a client sends to the agent (after the gateway's header,
// which the gateway takes off).
enum class AgentMode : uint8_t {
    Echo = 'E',    // every byte comes back
    Sink = 'S',    // bytes are checked against the pattern and acknowledged
    Source = 'D',  // the agent sends the pattern until the client closes
};

// A sink acknowledges every kSinkAckEvery bytes it has checked with the total
// checked so far (8 bytes, little-endian). The acknowledgement is in band
// because a relay may drop a half-closed connection with its buffered bytes,
// so "shut down, then read the count" is not something every relay carries.
inline constexpr size_t kSinkAckEvery = 256 * 1024;
inline constexpr size_t kAckSize = 8;

// Byte i of every stream is table[i % kPeriod]. The period is prime, so a
// lost or repeated chunk of any size a relay might use (powers of two, its
// buffer sizes) shifts the stream and shows as a mismatch. Producing and
// checking are a memcpy and a memcmp, so the tools spend their time on the
// sockets, not on the check.
class Pattern {
  public:
    static constexpr size_t kPeriod = 65521;
    static constexpr size_t kMaxSpan = 256 * 1024;

    Pattern() : m_table(kPeriod + kMaxSpan) {
        uint64_t state = 0x9E3779B97F4A7C15ull;
        for (size_t i = 0; i < kPeriod; ++i) m_table[i] = uint8_t(SplitMix(state) >> 56);
        for (size_t i = kPeriod; i < m_table.size(); ++i) m_table[i] = m_table[i - kPeriod];
    }

    // The stream's bytes from offset on. REQUIRES: at most kMaxSpan are used.
    const uint8_t* At(uint64_t offset) const { return m_table.data() + offset % kPeriod; }

    // Whether n received bytes equal the stream from offset on (any n).
    bool Matches(uint64_t offset, const uint8_t* p, size_t n) const {
        while (n > 0) {
            size_t k = std::min(n, kMaxSpan);
            if (std::memcmp(At(offset), p, k) != 0)
                return false;
            offset += k;
            p += k;
            n -= k;
        }
        return true;
    }

  private:
    static uint64_t SplitMix(uint64_t& s) {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::vector<uint8_t> m_table;
};

// "--key value" pairs and bare "--flag"s after the positional words.
class Options {
  public:
    Options(int argc, char** argv, const std::vector<std::string_view>& flags) {
        for (int i = 1; i < argc; ++i) {
            std::string_view a = argv[i];
            if (a.size() > 2 && a.substr(0, 2) == "--") {
                std::string key(a.substr(2));
                if (std::find(flags.begin(), flags.end(), key) != flags.end()) {
                    m_values[key] = "1";
                } else if (i + 1 < argc) {
                    m_values[key] = argv[++i];
                } else {
                    m_bad = "--" + key + " needs a value";
                }
            } else {
                m_positional.emplace_back(a);
            }
        }
    }

    const std::string& Bad() const { return m_bad; }
    const std::vector<std::string>& Positional() const { return m_positional; }
    bool Has(const std::string& key) const { return m_values.count(key) != 0; }

    std::string Text(const std::string& key, std::string fallback) const {
        auto it = m_values.find(key);
        return it == m_values.end() ? fallback : it->second;
    }
    // A number, or fallback when absent; a value that is not a number marks
    // the options bad.
    double Number(const std::string& key, double fallback) {
        auto it = m_values.find(key);
        if (it == m_values.end())
            return fallback;
        char* end = nullptr;
        double v = std::strtod(it->second.c_str(), &end);
        if (end == it->second.c_str() || *end != '\0')
            m_bad = "--" + key + ": not a number";
        return v;
    }
    // What is wrong with the command line, if anything: a value that is not a
    // number, or an option that is not known. Ask after reading the numbers.
    std::string Problem(const std::vector<std::string_view>& known) const {
        return m_bad.empty() ? Unknown(known) : m_bad;
    }

    // Keys that no one asked for: misspelt options should not pass silently.
    std::string Unknown(const std::vector<std::string_view>& known) const {
        for (const auto& [k, v] : m_values)
            if (std::find(known.begin(), known.end(), k) == known.end())
                return "unknown option --" + k;
        return {};
    }

  private:
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positional;
    std::string m_bad;
};

}  // namespace ov::bench
