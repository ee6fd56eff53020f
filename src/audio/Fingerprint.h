#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <vector>

// Built-in acoustic fingerprint: an energy-difference robust hash over 33 bands between
// 300 Hz and 2000 Hz of a 4096-point spectrum of mono audio at 11,025 Hz, one 32-bit word
// per 1365-sample hop, with a mask of strong bits and a second ("alt") fingerprint of the
// same audio delayed by half a hop.
//
// The words must come out the same bit for bit on every build, so this unit is compiled
// without floating-point contraction and every rounding step below is deliberate.
namespace rvw::Fingerprint {

constexpr int kSampleRate = 11025;
constexpr int kFrameSize = 4096;
constexpr int kHop = 1365;
constexpr int kBands = 33;
constexpr int kAltDelay = 682;
// Index keys: the order of the four strongest pitch classes (100 Hz to 2 kHz) over this many
// frames. A pitch profile over half a second outlasts codec noise and a start that moved by
// a fraction of a hop, which the energy-difference words do not; the keys only find
// candidates, the words still decide.
constexpr int kKeyFrames = 5;
// No key: digital silence, or too little audio to rank pitch classes.
constexpr quint32 kNoKey = 0xFFFFFFFFu;

class Generator;

// Anti-alias low-pass filter (windowed sinc, Blackman) and linear-interpolation resampler
// from the configured input rate to 11,025 Hz. Input at or below 11,025 Hz is only
// interpolated.
class Downsampler
{
public:
    // Forgets all state and designs the filter for inputRate (rates below 1 mean 1:1).
    void configure(int inputRate);
    // Filters and resamples n samples; the 11,025 Hz result goes to gen.append() and, when
    // out is given, is appended to *out as well. Nothing happens for n < 1.
    void feed(const float *in, int n, Generator &gen, std::vector<float> *out);
    // One sample through the filter alone (0 until the history is full).
    float filtered(float x);
    void reset();

    const std::vector<float> &filterTaps() const { return taps; }
    double resampleRatio() const { return ratio; }
    bool isFiltering() const { return filtering; }
    // Filtered samples held back for the next block's interpolation.
    int pendingCount() const { return static_cast<int>(pending.size()); }

private:
    std::vector<float> taps;
    std::vector<double> tapsWide; // the same taps, widened once for the inner loop
    std::vector<float> history;
    std::vector<float> pending;
    double ratio = 1.0;
    double consumed = 0.0;
    quint64 position = 0;
    bool filtering = false;
};

// Frames, windows and transforms 11,025 Hz samples and turns each frame after the first
// into one word and one mask word. Samples left over (fewer than 4096) are not analysed.
class Generator
{
public:
    Generator();

    void append(const float *samples, int n);
    QList<quint32> finish() const;
    QList<quint32> finishMask() const;
    // One index key per window of kKeyFrames frames, key j starting at frame j; word i is made
    // at frame i + 1, so offsets between two tracks' keys and words agree.
    QList<quint32> finishKeys() const;
    void reset();

    // Number of words produced so far.
    int wordCount() const { return static_cast<int>(words.size()); }
    // Log band energies of the most recent frame (all 0 before the first).
    const std::array<double, kBands> &lastEnergies() const { return previousEnergies; }
    // The spectrum of the most recent frame, bins 0..4095.
    const std::vector<double> &spectrumReal() const { return real; }
    const std::vector<double> &spectrumImag() const { return imag; }
    static const std::array<int, kBands + 1> &bandEdges();

private:
    void buildTables();
    void processFrame(const float *frame);

    std::vector<float> buffer;
    std::vector<float> window;
    std::vector<int> bitReverse;
    std::vector<double> twiddleCos;
    std::vector<double> twiddleSin;
    std::vector<double> real;
    std::vector<double> imag;
    std::array<double, kBands> previousEnergies{};
    bool hasPrevious = false;
    std::vector<quint32> words;
    std::vector<quint32> maskWords;
    std::vector<quint32> keys;
    std::array<std::array<double, 12>, kKeyFrames> chromaHistory{};
    int framesSeen = 0;
};

// One Downsampler feeding two generators: the main stream, and the alt stream that sees the
// same 11,025 Hz samples behind 682 samples of silence. Call configure() once with the input
// rate, feed() any number of mono blocks (nominally -1..1), then take finish()/finishMask()
// of both generators.
class Analyzer
{
public:
    void configure(int inputRate);
    void feed(const float *mono, int n);

    Downsampler downsampler;
    std::vector<float> scratch;
    Generator mainGenerator;
    Generator altGenerator;
    bool altPrimed = false;
};

// Comparisons. Word i of a is paired with word i + offset of b; a positive offset means the
// common audio lies that many frames later in b. Results are bit error rates in 0..1, 1.0
// standing for "no comparison possible". bestOffset may be null; it is set to 0 on entry and
// to the winning offset when there is one. The first qualifying offset (most negative) wins
// ties.
double bestBitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int maxOffset, int minOverlap,
                        int *bestOffset);
double bestBitErrorRate(const QList<quint32> &a, const QList<quint32> &aMask, const QList<quint32> &b,
                        const QList<quint32> &bMask, int maxOffset, int minOverlap, int *bestOffset);
double bestBitErrorRate(const QList<quint32> &a, const QList<quint32> &aMask, const QList<quint32> &b,
                        const QList<quint32> &bMask, const QList<quint32> &bAlt,
                        const QList<quint32> &bAltMask, int maxOffset, int minOverlap, int *bestOffset);

// Cheap pre-check before the full search: false only when a and b clearly differ.
bool couldMatch(const QList<quint32> &a, const QList<quint32> &b, double threshold);

// The pre-check shared by both fingerprint families: the first `window` words at offsets
// 0, -step, +step, -2 step, +2 step; when none of those is within `limit`, every offset up to
// +-2 step on a short run of words (a copy whose start moved by any other amount).
bool couldMatchWithin(const QList<quint32> &a, const QList<quint32> &b, int window, int step, double limit);

// Storage form: each word as 4 bytes little-endian, no header. Trailing 1-3 bytes are ignored.
QByteArray toBlob(const QList<quint32> &words);
QList<quint32> fromBlob(const QByteArray &blob);

} // namespace rvw::Fingerprint
