// A deliberately plain second implementation of the analysis, for the fuzz targets to
// compare the program with: records read character by character as C's "%lf %lf \n" reads
// them, values converted by strtod, and then the statistics, peaks and density text computed
// step by step in the most literal way. The number text comes from C's "%.4g".
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis_run.hpp"

namespace morvel::fuzz::reference {

inline bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Where a text stands on its way to being a number; every state but reject can still be
// completed to a number.
enum class Prefix { empty, sign, digits, point, fraction, exp_mark, exp_sign, exp_digits, reject };

inline Prefix next(Prefix state, char c) {
    const bool sign = c == '+' || c == '-';
    const bool exp = c == 'e' || c == 'E';
    switch (state) {
        case Prefix::empty:
            if (sign) {
                return Prefix::sign;
            }
            [[fallthrough]];
        case Prefix::sign:
            if (is_digit(c)) {
                return Prefix::digits;
            }
            return c == '.' ? Prefix::point : Prefix::reject;
        case Prefix::digits:
            if (is_digit(c)) {
                return Prefix::digits;
            }
            if (c == '.') {
                return Prefix::fraction;
            }
            return exp ? Prefix::exp_mark : Prefix::reject;
        case Prefix::point:
            return is_digit(c) ? Prefix::fraction : Prefix::reject;
        case Prefix::fraction:
            if (is_digit(c)) {
                return Prefix::fraction;
            }
            return exp ? Prefix::exp_mark : Prefix::reject;
        case Prefix::exp_mark:
            if (sign) {
                return Prefix::exp_sign;
            }
            [[fallthrough]];
        case Prefix::exp_sign:
        case Prefix::exp_digits:
            return is_digit(c) ? Prefix::exp_digits : Prefix::reject;
        case Prefix::reject:
            break;
    }
    return Prefix::reject;
}

// One "%lf" conversion after its whitespace skip: consumes the longest run that is a number
// or the beginning of one, and converts it if it is a whole number.
inline bool read_number(const char*& p, const char* end, double& value) {
    Prefix state = Prefix::empty;
    const char* q = p;
    while (q < end && next(state, *q) != Prefix::reject) {
        state = next(state, *q);
        ++q;
    }
    const std::string text(p, q);
    p = q;
    if (state != Prefix::digits && state != Prefix::fraction && state != Prefix::exp_digits) {
        return false;
    }
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

inline void skip_space(const char*& p, const char* end) {
    while (p < end && is_c_space(*p)) {
        ++p;
    }
}

struct Analysis {
    std::vector<double> samples;  // as read; de-meaned by compute_statistics
    SignalStats stats;
    std::vector<double> peaks;  // in G, then in sigma after normalise_peaks
};

// fscanf(file, "%lf %lf \n", &time, &sample) until it returns less than 1 or the store is
// full; a record whose second conversion failed keeps its slot's 0.0.
inline void read_records(Analysis& a, const char* p, const char* end) {
    while (a.samples.size() < static_cast<std::size_t>(MAX_SAMPLES)) {
        double time = 0.0;
        skip_space(p, end);
        if (!read_number(p, end, time)) {
            break;
        }
        double sample = 0.0;
        skip_space(p, end);
        if (!read_number(p, end, sample)) {
            sample = 0.0;
        }
        skip_space(p, end);
        a.samples.push_back(sample);
        a.stats.sum += sample;
        a.stats.sum_of_squares += sample * sample;
    }
}

inline void compute_statistics(Analysis& a) {
    const double n = static_cast<double>(a.samples.size());
    a.stats.mean = a.stats.sum / n;
    const double variance = a.stats.sum_of_squares / n - a.stats.mean * a.stats.mean;
    a.stats.standard_deviation = std::sqrt(variance);
    a.stats.minimum = 0.0;
    a.stats.maximum = 0.0;
    for (double& s : a.samples) {
        s = s - a.stats.mean;
        if (s > a.stats.maximum) {
            a.stats.maximum = s;
        }
        if (s < a.stats.minimum) {
            a.stats.minimum = s;
        }
    }
    const double highest = std::fabs(a.stats.maximum) < std::fabs(a.stats.minimum)
                               ? std::fabs(a.stats.minimum)
                               : a.stats.maximum;
    a.stats.highest_sigma = highest / a.stats.standard_deviation;
}

inline void extract_peaks(Analysis& a) {
    a.peaks.clear();
    const std::vector<double>& s = a.samples;
    if (s.size() < 3) {
        return;
    }
    for (std::size_t i = 1; i <= s.size() - 2; ++i) {
        const bool crest = s[i] >= s[i - 1] && s[i] >= s[i + 1] && s[i] > 0.0;
        const bool trough = s[i] <= s[i - 1] && s[i] <= s[i + 1] && s[i] < 0.0;
        if (crest) {
            a.peaks.push_back(std::fabs(s[i]));
        } else if (trough) {
            a.peaks.push_back(std::fabs(s[i]));
        }
        if ((crest || trough) && a.peaks.size() == static_cast<std::size_t>(MAX_PEAKS)) {
            return;
        }
    }
}

inline void normalise_peaks(Analysis& a) {
    for (double& p : a.peaks) {
        p = p / a.stats.standard_deviation;
    }
}

inline std::int32_t count_above(const Analysis& a, double threshold) {
    std::int32_t count = 0;
    for (const double p : a.peaks) {
        if (p > threshold) {
            ++count;
        }
    }
    return count;
}

// "%12.4g" with a two-digit exponent widened to three digits ("e+06" -> "e+006"), and "nan"
// for every not-a-number.
inline std::string number_text(double value) {
    std::string text;
    if (std::isnan(value)) {
        text = "nan";
    } else {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.4g", value);
        text = buffer;
        const std::size_t mark = text.find('e');
        if (mark != std::string::npos && text.size() - mark == 4) {
            text = text.substr(0, mark + 2) + '0' + text.substr(mark + 2);
        }
    }
    return std::string(text.size() < 12 ? 12 - text.size() : 0, ' ') + text;
}

// Every peak compared with every bin (k/4, (k+1)/4], then the lines up to the centre 6.5.
inline std::string density_text(const Analysis& a) {
    double edges[55];
    for (int k = 0; k < 55; ++k) {
        edges[k] = k * 0.25;
    }
    std::int32_t counts[54] = {};
    for (const double p : a.peaks) {
        for (int k = 0; k < 54; ++k) {
            if (p > edges[k] && p <= edges[k + 1]) {
                counts[k] = counts[k] + 1;
            }
        }
    }
    std::string text = number_text(0.0) + " 0\n";
    const double m = static_cast<double>(a.peaks.size());
    for (int k = 0; k < 54; ++k) {
        const double centre = (edges[k + 1] + edges[k]) * 0.5;
        if (centre > 6.5) {
            break;
        }
        const double density = counts[k] / m * 4.0;
        text += number_text(centre) + " " + number_text(density) + "\n";
    }
    return text;
}

}  // namespace morvel::fuzz::reference
