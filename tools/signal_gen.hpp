// Synthetic acceleration time histories as text: (time, acceleration) records for examples,
// benchmarks and statistical tests of morvel.
//
// The output depends only on the options, never on the platform: the random numbers come from
// our own generator (xoshiro256** seeded through splitmix64), the Gaussian transform and the
// few transcendental functions needed are built from the basic IEEE operations and sqrt, which
// every conforming platform rounds identically, and numbers are written with std::to_chars.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morvel::signal {

// ---- Deterministic building blocks ----

// splitmix64: a 64-bit mixer, used here to spread one seed over the generator's state.
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept;

  private:
    std::uint64_t state_;
};

// xoshiro256**: fast, small, statistically strong; state seeded from splitmix64(seed).
class Xoshiro256 {
  public:
    explicit Xoshiro256(std::uint64_t seed) noexcept;
    std::uint64_t next() noexcept;
    // Uniform on [0, 1) with 53 random bits.
    double uniform() noexcept;

  private:
    std::uint64_t s_[4];
};

// Standard normal deviates by Marsaglia's polar method, with det_log for the logarithm.
class Gaussian {
  public:
    explicit Gaussian(std::uint64_t seed) noexcept : rng_(seed) {}
    double next() noexcept;

  private:
    Xoshiro256 rng_;
    double spare_ = 0.0;
    bool have_spare_ = false;
};

// Natural logarithm of a positive finite x, from frexp and a series in basic operations.
double det_log(double x) noexcept;
// e^x for |x| <= 700, from ldexp and a series in basic operations.
double det_exp(double x) noexcept;
// sin and cos of 2*pi*turns; the angle is given in turns so that large phases reduce exactly.
void det_sincos_turns(double turns, double& sine, double& cosine) noexcept;

// ---- The signal ----

enum class Kind : std::uint8_t {
    narrowband,  // white noise through two cascaded resonators
    broadband,   // white noise
    sine,        // a sine wave, optionally with white noise
};

struct SignalOptions {
    Kind kind = Kind::narrowband;
    std::int64_t records = 20'000;
    double rate = 1000.0;    // samples per second
    std::uint64_t seed = 1;  // the random noise; a pure sine does not depend on it
    double rms = 1.0;        // RMS about the offset (for sine: of the sine alone), in G
    double offset = 0.0;     // added to every acceleration, in G
    double frequency = 0.0;  // narrowband centre / sine frequency in Hz; 0 means rate / 50
    double q = 12.5;         // quality factor of each resonator (narrowband)
    double noise = 0.0;      // RMS of white noise added to a sine, in G
};

// The frequency actually used: options.frequency, or rate / 50 when that is 0.
double effective_frequency(const SignalOptions& options) noexcept;
// Pole radius of each resonator: exp(-pi * f / (Q * rate)), i.e. bandwidth f / Q.
double pole_radius(const SignalOptions& options) noexcept;

// Produces the accelerations one by one. Narrowband and broadband noise is scaled so that the
// RMS of the `records` values about the offset is exactly `rms` (up to rounding); this takes
// one silent pass through the random sequence first. The narrowband filters run through a
// settling stretch before the first value, so the record starts in the steady state.
class Generator {
  public:
    explicit Generator(const SignalOptions& options);
    double next() noexcept;

  private:
    struct Resonator {
        double a1 = 0.0;
        double a2 = 0.0;
        double y1 = 0.0;
        double y2 = 0.0;
        double step(double x) noexcept {
            const double y = x + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            return y;
        }
    };

    void restart() noexcept;
    double raw_noise() noexcept;  // unscaled noise of the kind, after settling

    SignalOptions options_;
    Gaussian gaussian_;
    Resonator first_;
    Resonator second_;
    std::int64_t settling_ = 0;
    double scale_ = 1.0;
    double amplitude_ = 0.0;
    double frequency_ = 0.0;
    std::int64_t index_ = 0;
};

// ---- The text ----

enum class NumberStyle : std::uint8_t {
    fixed,       // fixed decimals, like %.Nf
    scientific,  // N significant digits in exponent form, like %.(N-1)e: 1.234567e-03
    general,     // N significant digits, like %.Ng
};

struct FormatOptions {
    NumberStyle style = NumberStyle::fixed;
    int precision = 6;       // decimals (fixed) or significant digits (scientific, general)
    int time_decimals = -1;  // decimals of the time in fixed style; -1: enough for the rate
    bool crlf = false;       // end lines with CR LF instead of LF
};

inline constexpr int MAX_PRECISION = 40;

// Default decimals of the time in fixed style: one more than needed to tell 1/rate from 0.
int default_time_decimals(double rate) noexcept;

// Writes the records as "time acceleration" lines, handing the text to `sink` in chunks of up
// to about 1 MiB. Stops early and returns false if the sink returns false.
bool write_signal(const SignalOptions& signal, const FormatOptions& format,
                  const std::function<bool(std::string_view)>& sink);

// The whole text in memory (for benchmarks and tests).
std::string signal_text(const SignalOptions& signal, const FormatOptions& format);

}  // namespace morvel::signal
