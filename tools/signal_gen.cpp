#include "signal_gen.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace morvel::signal {
namespace {

constexpr double LN2 = 0.693147180559945309417232121458176568;
// ln 2 split so that k * LN2_HIGH is exact for |k| < 2^11 (Cody and Waite).
constexpr double LN2_HIGH = 6.93147180369123816490e-01;
constexpr double LN2_LOW = 1.90821492927058770002e-10;
constexpr double SQRT_HALF = 0.707106781186547524400844362104849039;
constexpr double HALF_PI = 1.57079632679489661923132169163975144;
constexpr double PI = 3.14159265358979323846264338327950288;

std::uint64_t rotl(std::uint64_t x, int k) noexcept {
    return (x << k) | (x >> (64 - k));
}

// Long enough for the transient of the cascade (it decays like n * r^n) to fall below
// e^-30 of the response; bounded so that extreme bandwidths cannot stall the generator.
constexpr double SETTLING_TIME_CONSTANTS = 30.0;
constexpr std::int64_t MAX_SETTLING = 10'000'000;

}  // namespace

std::uint64_t SplitMix64::next() noexcept {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

Xoshiro256::Xoshiro256(std::uint64_t seed) noexcept {
    SplitMix64 mixer(seed);
    for (std::uint64_t& word : s_) {
        word = mixer.next();
    }
}

std::uint64_t Xoshiro256::next() noexcept {
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
}

double Xoshiro256::uniform() noexcept {
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

double Gaussian::next() noexcept {
    if (have_spare_) {
        have_spare_ = false;
        return spare_;
    }
    double u = 0.0;
    double v = 0.0;
    double s = 0.0;
    do {
        u = 2.0 * rng_.uniform() - 1.0;
        v = 2.0 * rng_.uniform() - 1.0;
        s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double factor = std::sqrt(-2.0 * det_log(s) / s);
    spare_ = v * factor;
    have_spare_ = true;
    return u * factor;
}

double det_log(double x) noexcept {
    int exponent = 0;
    double m = std::frexp(x, &exponent);  // exact: x = m * 2^exponent, m in [0.5, 1)
    if (m < SQRT_HALF) {
        m *= 2.0;
        --exponent;
    }
    // log m = 2 atanh(z) = 2 (z + z^3/3 + z^5/5 + ...), |z| <= 0.1716, so z^2 <= 0.0295 and
    // fourteen terms reach far below the last bit.
    const double z = (m - 1.0) / (m + 1.0);
    const double z2 = z * z;
    double series = 1.0 / 27.0;
    for (int k = 12; k >= 0; --k) {
        series = series * z2 + 1.0 / static_cast<double>(2 * k + 1);
    }
    return static_cast<double>(exponent) * LN2 + 2.0 * z * series;
}

double det_exp(double x) noexcept {
    // x = k ln2 + r with |r| <= ln2 / 2; e^r by its Taylor series, 2^k exactly by ldexp.
    const double k = std::floor(x / LN2 + 0.5);
    const double r = (x - k * LN2_HIGH) - k * LN2_LOW;
    double series = 1.0;
    for (int n = 22; n >= 1; --n) {
        series = 1.0 + series * r / static_cast<double>(n);
    }
    return std::ldexp(series, static_cast<int>(k));
}

void det_sincos_turns(double turns, double& sine, double& cosine) noexcept {
    // Reduce to a quarter turn: quadrant q and angle a in [0, pi/2).
    const double fraction = turns - std::floor(turns);  // [0, 1)
    const double quarters = fraction * 4.0;             // [0, 4), exact
    const double quadrant = std::floor(quarters);
    const double a = (quarters - quadrant) * HALF_PI;
    const double a2 = a * a;
    // Taylor series in nested form; a^25 / 25! < 1e-20 for a < pi/2.
    double s = 1.0;
    double c = 1.0;
    for (int n = 12; n >= 1; --n) {
        s = 1.0 - s * a2 / static_cast<double>((2 * n) * (2 * n + 1));
        c = 1.0 - c * a2 / static_cast<double>((2 * n - 1) * (2 * n));
    }
    s *= a;
    switch (static_cast<int>(quadrant)) {
        case 0:
            sine = s;
            cosine = c;
            break;
        case 1:
            sine = c;
            cosine = -s;
            break;
        case 2:
            sine = -s;
            cosine = -c;
            break;
        default:
            sine = -c;
            cosine = s;
            break;
    }
}

double effective_frequency(const SignalOptions& options) noexcept {
    return options.frequency > 0.0 ? options.frequency : options.rate / 50.0;
}

double pole_radius(const SignalOptions& options) noexcept {
    return det_exp(-PI * effective_frequency(options) / (options.q * options.rate));
}

Generator::Generator(const SignalOptions& options) : options_(options), gaussian_(options.seed) {
    frequency_ = effective_frequency(options_);
    if (options_.kind == Kind::sine) {
        amplitude_ = options_.rms * std::sqrt(2.0);
        return;
    }
    if (options_.kind == Kind::narrowband) {
        // Resonator y[n] = x[n] + 2 r cos(w) y[n-1] - r^2 y[n-2], poles at r e^(+-iw).
        const double r = pole_radius(options_);
        double sine = 0.0;
        double cosine = 0.0;
        det_sincos_turns(frequency_ / options_.rate, sine, cosine);
        first_.a1 = second_.a1 = 2.0 * r * cosine;
        first_.a2 = second_.a2 = -(r * r);
        const double settling = std::ceil(SETTLING_TIME_CONSTANTS / (1.0 - r));
        settling_ = settling < static_cast<double>(MAX_SETTLING)
                        ? static_cast<std::int64_t>(settling)
                        : MAX_SETTLING;
    }
    // A silent pass gives the mean square of exactly the values that will be written.
    restart();
    double sum_of_squares = 0.0;
    for (std::int64_t k = 0; k < options_.records; ++k) {
        const double x = raw_noise();
        sum_of_squares += x * x;
    }
    const double mean_square = sum_of_squares / static_cast<double>(options_.records);
    scale_ = mean_square > 0.0 ? options_.rms / std::sqrt(mean_square) : 0.0;
    restart();
}

void Generator::restart() noexcept {
    gaussian_ = Gaussian(options_.seed);
    first_.y1 = first_.y2 = second_.y1 = second_.y2 = 0.0;
    for (std::int64_t k = 0; k < settling_; ++k) {
        raw_noise();
    }
    index_ = 0;
}

double Generator::raw_noise() noexcept {
    const double x = gaussian_.next();
    if (options_.kind == Kind::narrowband) {
        return second_.step(first_.step(x));
    }
    return x;
}

double Generator::next() noexcept {
    if (options_.kind == Kind::sine) {
        // k * f / rate keeps whole-number phases exact (e.g. a quarter turn at k = 5 for
        // 50 Hz at 1000 samples per second).
        const double turns = static_cast<double>(index_) * frequency_ / options_.rate;
        ++index_;
        double sine = 0.0;
        double cosine = 0.0;
        det_sincos_turns(turns, sine, cosine);
        double value = options_.offset + amplitude_ * sine;
        if (options_.noise > 0.0) {
            value += options_.noise * gaussian_.next();
        }
        return value;
    }
    ++index_;
    return options_.offset + scale_ * raw_noise();
}

int default_time_decimals(double rate) noexcept {
    int decimals = 0;
    double power = 1.0;
    while (power < rate && decimals < 17) {
        power *= 10.0;
        ++decimals;
    }
    return decimals + 1;
}

namespace {

// Room for one record in any style: a fixed-style double has at most 309 integer digits.
constexpr std::size_t RECORD_ROOM = 2 * (320 + MAX_PRECISION) + 8;
constexpr std::size_t CHUNK = std::size_t{1} << 20;

char* put_number(char* first, char* last, double value, NumberStyle style, int precision) {
    std::to_chars_result result{};
    switch (style) {
        case NumberStyle::fixed:
            result = std::to_chars(first, last, value, std::chars_format::fixed, precision);
            break;
        case NumberStyle::scientific:
            result =
                std::to_chars(first, last, value, std::chars_format::scientific, precision - 1);
            break;
        case NumberStyle::general:
            result = std::to_chars(first, last, value, std::chars_format::general, precision);
            break;
    }
    if (result.ec != std::errc{}) {
        throw std::length_error("number text does not fit its buffer");
    }
    return result.ptr;
}

}  // namespace

bool write_signal(const SignalOptions& signal, const FormatOptions& format,
                  const std::function<bool(std::string_view)>& sink) {
    Generator generator(signal);
    const int time_decimals =
        format.time_decimals >= 0 ? format.time_decimals : default_time_decimals(signal.rate);
    const int time_precision =
        format.style == NumberStyle::fixed ? time_decimals : format.precision;

    const auto buffer = std::make_unique_for_overwrite<char[]>(CHUNK + RECORD_ROOM);
    char* const begin = buffer.get();
    char* const end = begin + CHUNK + RECORD_ROOM;
    char* out = begin;
    for (std::int64_t k = 0; k < signal.records; ++k) {
        const double time = static_cast<double>(k) / signal.rate;
        out = put_number(out, end, time, format.style, time_precision);
        *out++ = ' ';
        out = put_number(out, end, generator.next(), format.style, format.precision);
        if (format.crlf) {
            *out++ = '\r';
        }
        *out++ = '\n';
        if (out >= begin + CHUNK) {
            if (!sink({begin, static_cast<std::size_t>(out - begin)})) {
                return false;
            }
            out = begin;
        }
    }
    return out == begin || sink({begin, static_cast<std::size_t>(out - begin)});
}

std::string signal_text(const SignalOptions& signal, const FormatOptions& format) {
    std::string text;
    write_signal(signal, format, [&text](std::string_view chunk) {
        text.append(chunk);
        return true;
    });
    return text;
}

}  // namespace morvel::signal
