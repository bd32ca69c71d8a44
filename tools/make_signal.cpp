// make_signal: writes a synthetic acceleration time history, one "time acceleration" record
// per line, to standard output or a file. The same options always give the same bytes.
//
// Exit status: 0 on success, 1 if the output cannot be written, 2 on bad usage.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "signal_gen.hpp"

namespace {

using namespace morvel::signal;

constexpr std::string_view USAGE = R"(Usage: make_signal [OPTION]...
Write a synthetic acceleration time history: one "time acceleration" record per line
(time in seconds, acceleration in G). The same options always give the same output.

Signal:
  --kind KIND         narrowband (default): Gaussian white noise through two cascaded
                        resonators at the centre frequency, each with quality factor Q;
                      broadband: Gaussian white noise;
                      sine: a sine wave, optionally with Gaussian white noise
  --records N         number of records (default 20000)
  --rate HZ           samples per second (default 1000)
  --seed N            seed of the noise, 0 to 18446744073709551615 (default 1)
  --rms G             RMS about the offset (default 1); narrowband and broadband are
                        scaled so the written records have exactly this RMS; for sine,
                        the RMS of the sine wave alone (amplitude = RMS * sqrt 2)
  --offset G          DC offset added to every acceleration (default 0)
  --frequency HZ      centre frequency (narrowband) or frequency (sine), below rate/2
                        (default rate/50)
  --q Q               quality factor of each resonator, 0.5 to 10000 (default 12.5);
                        pole radius exp(-pi * frequency / (Q * rate))
  --noise G           RMS of white noise added to a sine (default 0)

Text:
  --format STYLE      fixed (default): a fixed number of decimals, like 0.0010 -0.035360;
                      sci: significant digits in exponent form, like 1.234567e-03;
                      general: significant digits, exponent form only when needed,
                        like %g (17 digits by default: every bit of the double)
  --precision N       decimals (fixed, default 6) or significant digits (sci, default 7;
                        general, default 17); at most 40
  --time-decimals N   decimals of the time in fixed style (default: one more than the
                        rate needs, 4 at 1000 samples per second)
  --crlf              end lines with CR LF instead of LF
  --output FILE       write to FILE instead of standard output ("-": standard output)

  --help              show this help and exit

Exit status: 0 on success, 1 if the output cannot be written, 2 on bad usage.

Examples:
  make_signal --kind narrowband --records 20000 --seed 7 --output narrowband.txt
  make_signal --kind sine --frequency 5 --noise 0.1 --offset 0.05 --records 1000
)";

struct UsageError {
    std::string message;
};

struct Settings {
    SignalOptions signal;
    FormatOptions format;
    std::optional<int> precision;
    std::string output = "-";
};

double parse_real(std::string_view option, std::string_view text, double low, double high) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        throw UsageError{std::string(option) + " needs a number, not '" + std::string(text) + "'"};
    }
    if (value < low || value > high) {
        char range[80];
        std::snprintf(range, sizeof range, " must be from %g to %g", low, high);
        throw UsageError{std::string(option) + range + ", not " + std::string(text)};
    }
    return value;
}

template <typename Integer>
Integer parse_integer(std::string_view option, std::string_view text, Integer low, Integer high) {
    Integer value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        throw UsageError{std::string(option) + " is out of range: " + std::string(text)};
    }
    if (ec != std::errc{} || end != text.data() + text.size()) {
        throw UsageError{std::string(option) + " needs a whole number, not '" + std::string(text) +
                         "'"};
    }
    if (value < low || value > high) {
        throw UsageError{std::string(option) + " must be from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not " + std::string(text)};
    }
    return value;
}

constexpr double LARGEST_LEVEL = 1e100;  // keeps every value and its square finite

Settings parse_arguments(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument.substr(0, 2) != "--" || argument.size() == 2) {
            throw UsageError{"unexpected argument '" + std::string(argument) + "'"};
        }
        std::string_view name = argument;
        std::optional<std::string_view> inline_value;
        if (const auto equals = argument.find('='); equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            inline_value = argument.substr(equals + 1);
        }
        if (name == "--help" || (name == "--crlf" && inline_value)) {
            // A plain --help is answered before the arguments are parsed.
            throw UsageError{std::string(name) + " takes no value"};
        }
        if (name == "--crlf") {
            settings.format.crlf = true;
            continue;
        }
        auto value = [&]() -> std::string_view {
            if (inline_value) {
                return *inline_value;
            }
            if (i + 1 >= argc) {
                throw UsageError{std::string(name) + " needs a value"};
            }
            return argv[++i];
        };
        SignalOptions& signal = settings.signal;
        if (name == "--kind") {
            const std::string_view kind = value();
            if (kind == "narrowband") {
                signal.kind = Kind::narrowband;
            } else if (kind == "broadband") {
                signal.kind = Kind::broadband;
            } else if (kind == "sine") {
                signal.kind = Kind::sine;
            } else {
                throw UsageError{"--kind must be narrowband, broadband or sine, not '" +
                                 std::string(kind) + "'"};
            }
        } else if (name == "--records") {
            signal.records = parse_integer<std::int64_t>(name, value(), 0, 1'000'000'000'000);
        } else if (name == "--rate") {
            signal.rate = parse_real(name, value(), 1e-6, 1e12);
        } else if (name == "--seed") {
            signal.seed = parse_integer<std::uint64_t>(name, value(), 0, UINT64_MAX);
        } else if (name == "--rms") {
            signal.rms = parse_real(name, value(), 0.0, LARGEST_LEVEL);
        } else if (name == "--offset") {
            signal.offset = parse_real(name, value(), -LARGEST_LEVEL, LARGEST_LEVEL);
        } else if (name == "--frequency") {
            signal.frequency = parse_real(name, value(), 0.0, 1e12);
            if (signal.frequency == 0.0) {
                throw UsageError{"--frequency must be above 0"};
            }
        } else if (name == "--q") {
            signal.q = parse_real(name, value(), 0.5, 10'000.0);
        } else if (name == "--noise") {
            signal.noise = parse_real(name, value(), 0.0, LARGEST_LEVEL);
        } else if (name == "--format") {
            const std::string_view style = value();
            if (style == "fixed") {
                settings.format.style = NumberStyle::fixed;
            } else if (style == "sci") {
                settings.format.style = NumberStyle::scientific;
            } else if (style == "general") {
                settings.format.style = NumberStyle::general;
            } else {
                throw UsageError{"--format must be fixed, sci or general, not '" +
                                 std::string(style) + "'"};
            }
        } else if (name == "--precision") {
            settings.precision = parse_integer<int>(name, value(), 0, MAX_PRECISION);
        } else if (name == "--time-decimals") {
            settings.format.time_decimals = parse_integer<int>(name, value(), 0, MAX_PRECISION);
        } else if (name == "--output") {
            settings.output = value();
            if (settings.output.empty()) {
                throw UsageError{"--output needs a file name"};
            }
        } else {
            throw UsageError{"unknown option '" + std::string(name) + "'"};
        }
    }

    FormatOptions& format = settings.format;
    if (settings.precision) {
        if (*settings.precision == 0 && format.style != NumberStyle::fixed) {
            throw UsageError{
                "--precision must be at least 1 significant digit for sci and general"};
        }
        format.precision = *settings.precision;
    } else {
        format.precision = format.style == NumberStyle::fixed        ? 6
                           : format.style == NumberStyle::scientific ? 7
                                                                     : 17;
    }
    const SignalOptions& signal = settings.signal;
    if (signal.kind != Kind::broadband && effective_frequency(signal) >= signal.rate / 2.0) {
        throw UsageError{"--frequency must be below half the --rate"};
    }
    return settings;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

int run(const Settings& settings) {
    const bool to_stdout = settings.output == "-";
    const std::string shown = to_stdout ? "standard output" : settings.output;
    int fd = STDOUT_FILENO;
    if (!to_stdout) {
        fd = ::open(settings.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            std::fprintf(stderr, "make_signal: cannot create %s: %s\n", shown.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    int error = 0;
    write_signal(settings.signal, settings.format, [&](std::string_view chunk) {
        if (!write_all(fd, chunk)) {
            error = errno;
            return false;
        }
        return true;
    });
    if (!to_stdout && ::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        std::fprintf(stderr, "make_signal: cannot write %s: %s\n", shown.c_str(),
                     std::strerror(error));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // --help answers whatever else the command line holds.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help") {
            std::fwrite(USAGE.data(), 1, USAGE.size(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    Settings settings;
    try {
        settings = parse_arguments(argc, argv);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "make_signal: %s\nTry 'make_signal --help' for the options.\n",
                     error.message.c_str());
        return 2;
    }
    return run(settings);
}
