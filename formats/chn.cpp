// The binary ".Chn" spectrum, little-endian:
//
//   byte  0  int16   -1 (the mark of the format)
//         2  int16   MCA number
//         4  int16   segment number
//         6  char[2] seconds of the start time ("SS")
//         8  int32   real time in 20 ms ticks
//        12  int32   live time in 20 ms ticks
//        16  char[8] start date "DDMMMYY*" (* is '1' from the year 2000 on)
//        24  char[4] start time "HHMM"
//        28  int16   number of the first channel
//        30  int16   number of channels n
//        32  int32   n counts
//   then, when present, a trailer:
//         0  int16   -101 (linear energy calibration) or -102 (quadratic)
//         2  int16   reserved
//         4  float32 energy at channel 0 (keV), 8: keV per channel, 12: quadratic term (-102 only)
//       256  byte + char[63]  detector description, 320: byte + char[63] sample description
#include "detail.h"

#include <cmath>
#include <cstring>

namespace formats::detail {

namespace {

constexpr double kTick = 0.02;  // seconds
constexpr std::size_t kHeader = 32;
constexpr std::size_t kTrailer = 512;

std::int16_t int16At(std::string_view b, std::size_t at)
{
    const auto lo = static_cast<unsigned char>(b[at]), hi = static_cast<unsigned char>(b[at + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

std::uint32_t uint32At(std::string_view b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

float float32At(std::string_view b, std::size_t at)
{
    const std::uint32_t bits = uint32At(b, at);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

int twoDigits(std::string_view s)
{
    if (s.size() != 2) return -1;
    int v = 0;
    for (char c : s) {
        if (c == ' ') c = '0';
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "DDMMMYY*", "HHMM" and "SS" as ISO 8601.
std::optional<std::string> startOf(std::string_view date, std::string_view time, std::string_view seconds)
{
    static const char* const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                         "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    const int day = twoDigits(date.substr(0, 2));
    int month = 0;
    for (int m = 0; m < 12; ++m)
        if (equalsNoCase(date.substr(2, 3), months[m])) month = m + 1;
    const int yy = twoDigits(date.substr(5, 2));
    const int century = date[7] == '1' ? 2000 : 1900;
    const int hour = twoDigits(time.substr(0, 2)), minute = twoDigits(time.substr(2, 2));
    const int second = twoDigits(seconds);
    if (day < 0 || month == 0 || yy < 0 || hour < 0 || minute < 0 || second < 0) return std::nullopt;
    return isoTime(century + yy, month, day, hour, minute, second);
}

// A description of the trailer: a length byte and up to 63 characters.
std::string description(std::string_view b, std::size_t at)
{
    const auto n = static_cast<unsigned char>(b[at]);
    if (n == 0 || n > 63) return {};
    std::string_view text = b.substr(at + 1, n);
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    return textOf(trim(text));
}

} // namespace

std::vector<Spectrum> readChn(std::string_view b, const std::string& file)
{
    if (b.size() < kHeader)
        fail(file, byteWhere(b.size()), "the file ends inside the 32-byte header of a .Chn spectrum");
    if (int16At(b, 0) != -1)
        fail(file, byteWhere(0), "expected the .Chn mark -1, found " + std::to_string(int16At(b, 0)));
    const auto realTicks = static_cast<std::int32_t>(uint32At(b, 8));
    const auto liveTicks = static_cast<std::int32_t>(uint32At(b, 12));
    const auto firstChannel = static_cast<std::uint16_t>(int16At(b, 28));
    const auto channels = static_cast<std::uint16_t>(int16At(b, 30));
    checkChannelCount(channels, file, byteWhere(30));
    if (realTicks < 0) fail(file, byteWhere(8), "the real time is negative (" + std::to_string(realTicks) + " ticks)");
    if (liveTicks < 0) fail(file, byteWhere(12), "the live time is negative (" + std::to_string(liveTicks) + " ticks)");

    Spectrum s;
    s.realTimeS = realTicks * kTick;
    s.liveTimeS = liveTicks * kTick;
    checkTimes(s.liveTimeS, s.realTimeS, file, byteWhere(8));
    s.startTime = startOf(b.substr(16, 8), b.substr(24, 4), b.substr(6, 2));
    s.headerLines.push_back("MCA " + std::to_string(int16At(b, 2)) + " segment " + std::to_string(int16At(b, 4)));
    s.headerLines.push_back("Start " + textOf(b.substr(16, 8)) + " " + textOf(b.substr(24, 4)) + ":" +
                            textOf(b.substr(6, 2)));

    const std::size_t dataEnd = kHeader + 4 * std::size_t{channels};
    if (b.size() < dataEnd)
        fail(file, byteWhere(b.size()),
             "the file ends inside the channel data: the header announces " + std::to_string(channels) +
                 " channels (" + std::to_string(dataEnd) + " bytes with the header)");
    s.counts.resize(channels);
    for (std::size_t k = 0; k < channels; ++k) {
        const auto c = static_cast<std::int32_t>(uint32At(b, kHeader + 4 * k));
        if (c < 0)
            fail(file, byteWhere(kHeader + 4 * k),
                 "channel " + std::to_string(k) + ": the count " + std::to_string(c) + " is negative");
        s.counts[k] = static_cast<std::uint64_t>(c);
    }

    if (b.size() > dataEnd) {
        if (b.size() < dataEnd + 2)
            fail(file, byteWhere(dataEnd), "one byte after the channel data: expected the end of the file or a trailer");
        const std::int16_t tag = int16At(b, dataEnd);
        if (tag != -101 && tag != -102)
            fail(file, byteWhere(dataEnd),
                 "expected the end of the file or a trailer beginning -101 or -102, found " + std::to_string(tag) +
                     " (the header's channel count may be wrong)");
        if (b.size() < dataEnd + 16)
            fail(file, byteWhere(b.size()), "the trailer ends before its energy calibration");
        if (b.size() > dataEnd + kTrailer)
            fail(file, byteWhere(dataEnd + kTrailer),
                 std::to_string(b.size() - dataEnd - kTrailer) +
                     " bytes after the 512-byte trailer: expected the end of the file");
        std::vector<double> c = {float32At(b, dataEnd + 4), float32At(b, dataEnd + 8)};
        if (tag == -102) c.push_back(float32At(b, dataEnd + 12));
        bool calibrated = false;
        for (double v : c) {
            if (!std::isfinite(v)) fail(file, byteWhere(dataEnd + 4), "an energy calibration coefficient is not a finite number");
            calibrated = calibrated || v != 0;
        }
        if (b.size() >= dataEnd + 384) {
            const std::string detector = description(b, dataEnd + 256), sample = description(b, dataEnd + 320);
            if (!detector.empty()) s.headerLines.push_back("Detector: " + detector);
            if (!sample.empty()) {
                s.headerLines.push_back("Sample: " + sample);
                s.name = sample;
            }
        }
        // All zero: the spectrum was not calibrated.
        if (calibrated) {
            try {
                s.calibration = makeCalibration(shiftedPolynomial(c, firstChannel), ChannelPoint::Centre, channels,
                                                tag == -102 ? "trailer: quadratic energy calibration"
                                                            : "trailer: linear energy calibration");
            } catch (const std::invalid_argument& e) {
                fail(file, byteWhere(dataEnd + 4), e.what());
            }
        }
    }
    std::vector<Spectrum> out;
    out.push_back(std::move(s));
    return out;
}

} // namespace formats::detail
