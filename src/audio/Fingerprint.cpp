#include "audio/Fingerprint.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace rvw::Fingerprint {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEdgeStep = 0.05748848439048125; // ln(2000 / 300) / 33
constexpr double kEnergyFloor = 1e-12;
constexpr double kMaskFactor = 0.35;
// Below this power over half a second the pitch order is decided by rounding, not by music.
constexpr double kKeyEnergyFloor = 1e-6;
constexpr int kLog2Frame = 12;
constexpr int kPrecheckShortRun = 64;
constexpr int kPrecheckMinPairs = 32;
constexpr int kPrecheckShortList = 40;

std::array<int, kBands + 1> computeBandEdges()
{
    std::array<int, kBands + 1> edges{};
    for (int i = 0; i <= kBands; ++i) {
        long edge = std::lround(std::exp(i * kEdgeStep) * 300.0 * 4096.0 / 11025.0);
        edge = std::clamp(edge, 1L, 2047L);
        if (i > 0 && edge <= edges[i - 1])
            edge = edges[i - 1] + 1;
        edges[i] = static_cast<int>(edge);
    }
    return edges;
}

// Pitch class (0 = A) of each spectrum bin from 100 Hz to 2 kHz; -1 outside.
constexpr int kChromaFirstBin = 37;
constexpr int kChromaLastBin = 743;

const std::array<int, kChromaLastBin + 1> &pitchClasses()
{
    static const std::array<int, kChromaLastBin + 1> table = [] {
        std::array<int, kChromaLastBin + 1> t{};
        t.fill(-1);
        for (int k = kChromaFirstBin; k <= kChromaLastBin; ++k) {
            const double hz = k * double(kSampleRate) / kFrameSize;
            const long semitone = std::lround(12.0 * std::log2(hz / 440.0));
            t[size_t(k)] = int(((semitone % 12) + 12) % 12);
        }
        return t;
    }();
    return table;
}

// The four strongest pitch classes in order, as a base-12 number; ties go to the lower class.
quint32 rankKey(const std::array<double, 12> &chroma)
{
    std::array<int, 12> order;
    for (int i = 0; i < 12; ++i)
        order[size_t(i)] = i;
    std::partial_sort(order.begin(), order.begin() + 4, order.end(), [&chroma](int a, int b) {
        return chroma[size_t(a)] > chroma[size_t(b)] || (chroma[size_t(a)] == chroma[size_t(b)] && a < b);
    });
    quint32 key = 0;
    for (int i = 0; i < 4; ++i)
        key = key * 12 + quint32(order[size_t(i)]);
    return key;
}

const std::vector<float> &altSilence()
{
    static const std::vector<float> zeros(kAltDelay, 0.0f);
    return zeros;
}

// Pairs word i of a with word i + offset of b over the whole overlap.
int overlap(int sizeA, int sizeB, int offset)
{
    return std::min(sizeA, sizeB - offset) - std::max(0, -offset);
}

// Offsets outside this window have no overlap at all, so the search never needs them; this
// also keeps an absurd maxOffset from turning into billions of empty iterations.
void offsetRange(int sizeA, int sizeB, int maxOffset, int *first, int *last)
{
    *first = std::max(-maxOffset, -(sizeA - 1));
    *last = std::min(maxOffset, sizeB - 1);
}

int differingBits(const quint32 *a, const quint32 *b, int count)
{
    int bits = 0;
    for (int i = 0; i < count; ++i)
        bits += qPopulationCount(a[i] ^ b[i]);
    return bits;
}

double plainBitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int offset, int pairs)
{
    const int start = std::max(0, -offset);
    const int bits = differingBits(a.constData() + start, b.constData() + start + offset, pairs);
    return double(bits) / (32.0 * pairs);
}

// Every offset of the full search on a short run of words from the start of the overlap (and
// within the first `window` words of a, like the five-offset test).
double shortRunBest(const QList<quint32> &a, const QList<quint32> &b, int window, int maxOffset)
{
    double best = 1.0;
    for (int o = -maxOffset; o <= maxOffset; ++o) {
        const int start = std::max(0, -o);
        const int end = std::min({start + kPrecheckShortRun, window, int(b.size()) - o});
        const int count = end - start;
        if (count < kPrecheckMinPairs)
            continue;
        const int bits = differingBits(a.constData() + start, b.constData() + start + o, count);
        best = std::min(best, double(bits) / (32.0 * count));
    }
    return best;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Downsampler

void Downsampler::configure(int inputRate)
{
    taps.clear();
    tapsWide.clear();
    history.clear();
    pending.clear();
    consumed = 0.0;
    position = 0;
    filtering = false;

    if (inputRate < 1) {
        ratio = 1.0;
        return;
    }
    ratio = inputRate / 11025.0;
    if (ratio <= 1.0001)
        return;

    const double fc = 4961.25 / inputRate;
    long n = std::lround(ratio * 8.0) | 1L;
    n = std::clamp(n, 15L, 193L);
    const int count = static_cast<int>(n);
    const int m = count - 1;
    std::vector<double> design(count);
    double sum = 0.0;
    for (int i = 0; i < count; ++i) {
        const double w = 0.42 - 0.5 * std::cos(2.0 * kPi * i / m) + 0.08 * std::cos(4.0 * kPi * i / m);
        const double x = (i - m / 2.0) * (2.0 * fc);
        double tap;
        if (std::fabs(x) < 1e-9)
            tap = 2.0 * fc * w;
        else
            tap = 2.0 * fc * w * std::sin(kPi * x) / (kPi * x);
        design[i] = tap;
        sum += tap;
    }
    taps.resize(count);
    tapsWide.resize(count);
    for (int i = 0; i < count; ++i) {
        const double tap = sum != 0.0 ? design[i] / sum : design[i];
        taps[i] = static_cast<float>(tap);
        tapsWide[i] = taps[i];
    }
    history.assign(count - 1, 0.0f);
    filtering = true;
}

float Downsampler::filtered(float x)
{
    if (taps.empty())
        return x;
    history.push_back(x);
    const size_t count = taps.size();
    float result = 0.0f;
    if (history.size() >= count) {
        const float *h = history.data() + (history.size() - count);
        double acc = 0.0;
        for (size_t k = 0; k < count; ++k)
            acc += tapsWide[k] * double(h[k]);
        result = static_cast<float>(acc);
    }
    if (history.size() > count - 1)
        history.erase(history.begin(), history.end() - (count - 1));
    return result;
}

void Downsampler::reset()
{
    taps.clear();
    tapsWide.clear();
    history.clear();
    pending.clear();
    ratio = 1.0;
    consumed = 0.0;
    position = 0;
    filtering = false;
}

void Downsampler::feed(const float *in, int n, Generator &gen, std::vector<float> *out)
{
    if (n < 1 || in == nullptr)
        return;

    if (filtering) {
        const size_t count = taps.size();
        history.insert(history.end(), in, in + n);
        const size_t base = pending.size();
        pending.resize(base + size_t(n));
        float *dst = pending.data() + base;
        const float *h = history.data();
        const double *t = tapsWide.data();
        // Four outputs at a time with separate accumulators; each one still sums its taps in
        // order, so the result is the same as one output at a time.
        int j = 0;
        for (; j + 4 <= n; j += 4) {
            double acc0 = 0.0, acc1 = 0.0, acc2 = 0.0, acc3 = 0.0;
            const float *hj = h + j;
            for (size_t k = 0; k < count; ++k) {
                const double tap = t[k];
                acc0 += tap * double(hj[k]);
                acc1 += tap * double(hj[k + 1]);
                acc2 += tap * double(hj[k + 2]);
                acc3 += tap * double(hj[k + 3]);
            }
            dst[j] = static_cast<float>(acc0);
            dst[j + 1] = static_cast<float>(acc1);
            dst[j + 2] = static_cast<float>(acc2);
            dst[j + 3] = static_cast<float>(acc3);
        }
        for (; j < n; ++j) {
            double acc = 0.0;
            const float *hj = h + j;
            for (size_t k = 0; k < count; ++k)
                acc += t[k] * double(hj[k]);
            dst[j] = static_cast<float>(acc);
        }
        history.erase(history.begin(), history.end() - (count - 1));
    } else {
        pending.insert(pending.end(), in, in + n);
    }

    const size_t outStart = out ? out->size() : 0;
    std::vector<float> local;
    std::vector<float> &emitted = out ? *out : local;
    if (!out)
        local.reserve(size_t(double(n) / ratio) + 2);

    const size_t size = pending.size();
    double t = 0.0;
    for (;;) {
        t = double(position) * ratio - consumed;
        const double fi = std::floor(t);
        if (fi + 1.0 >= double(size))
            break;
        const size_t i = static_cast<size_t>(fi);
        const float f = static_cast<float>(t - fi);
        const float a = f * pending[i + 1];
        const float b = (1.0f - f) * pending[i];
        emitted.push_back(a + b);
        ++position;
    }
    const double c = std::floor(t);
    if (c >= 1.0 && c <= double(size)) {
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(c));
        consumed += c;
    }

    const size_t produced = emitted.size() - outStart;
    if (produced > 0)
        gen.append(emitted.data() + outStart, static_cast<int>(produced));
}

// ---------------------------------------------------------------------------------------------
// Generator

const std::array<int, kBands + 1> &Generator::bandEdges()
{
    static const std::array<int, kBands + 1> edges = computeBandEdges();
    return edges;
}

Generator::Generator()
{
    buildTables();
    buffer.reserve(2 * kFrameSize);
}

void Generator::buildTables()
{
    window.resize(kFrameSize);
    window[0] = 0.0f;
    for (int i = 1; i < kFrameSize; ++i)
        window[i] = static_cast<float>((1.0 - std::cos(2.0 * kPi * i / 4095.0)) / 2.0);

    bitReverse.resize(kFrameSize);
    for (int i = 0; i < kFrameSize; ++i) {
        int r = 0;
        for (int bit = 0; bit < kLog2Frame; ++bit)
            if (i & (1 << bit))
                r |= 1 << (kLog2Frame - 1 - bit);
        bitReverse[i] = r;
    }

    twiddleCos.clear();
    twiddleSin.clear();
    twiddleCos.reserve(kFrameSize - 1);
    twiddleSin.reserve(kFrameSize - 1);
    for (int len = 2; len <= kFrameSize; len *= 2) {
        for (int k = 0; k < len / 2; ++k) {
            const double angle = -2.0 * kPi * k / len;
            twiddleCos.push_back(std::cos(angle));
            twiddleSin.push_back(std::sin(angle));
        }
    }

    real.assign(kFrameSize, 0.0);
    imag.assign(kFrameSize, 0.0);
    bandEdges();
}

void Generator::append(const float *samples, int n)
{
    if (n < 1 || samples == nullptr)
        return;
    buffer.insert(buffer.end(), samples, samples + n);
    // Frames are taken from a moving start and the consumed head is dropped once, which is
    // the same as dropping one hop after every frame without moving the tail each time.
    size_t start = 0;
    while (buffer.size() - start >= size_t(kFrameSize)) {
        processFrame(buffer.data() + start);
        start += kHop;
    }
    if (start > 0)
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
}

void Generator::processFrame(const float *frame)
{
    double *re = real.data();
    double *im = imag.data();
    for (int i = 0; i < kFrameSize; ++i) {
        const int r = bitReverse[i];
        re[r] = double(frame[i]) * double(window[i]);
        im[r] = 0.0;
    }

    const double *tc = twiddleCos.data();
    const double *ts = twiddleSin.data();
    for (int len = 2; len <= kFrameSize; len *= 2) {
        const int half = len / 2;
        for (int block = 0; block < kFrameSize; block += len) {
            double *xr = re + block;
            double *xi = im + block;
            for (int k = 0; k < half; ++k) {
                const double c = tc[k];
                const double s = ts[k];
                const double vr = xr[k + half];
                const double vi = xi[k + half];
                const double tr = vr * c - vi * s;
                const double ti = vr * s + vi * c;
                xr[k + half] = xr[k] - tr;
                xi[k + half] = xi[k] - ti;
                xr[k] = xr[k] + tr;
                xi[k] = xi[k] + ti;
            }
        }
        tc += half;
        ts += half;
    }

    const std::array<int, kBands + 1> &edges = bandEdges();
    std::array<double, kBands> energies;
    for (int b = 0; b < kBands; ++b) {
        double sum = 0.0;
        for (int k = edges[b]; k < edges[b + 1]; ++k)
            sum += re[k] * re[k] + im[k] * im[k];
        energies[b] = std::log(sum + kEnergyFloor);
    }

    if (hasPrevious) {
        std::array<double, 32> d;
        double total = 0.0;
        for (int m = 0; m < 32; ++m) {
            d[m] = (energies[m] - energies[m + 1]) - (previousEnergies[m] - previousEnergies[m + 1]);
            total += std::fabs(d[m]);
        }
        const double limit = kMaskFactor * total / 32.0;
        quint32 word = 0;
        quint32 mask = 0;
        for (int m = 0; m < 32; ++m) {
            if (d[m] > 0.0)
                word |= quint32(1) << m;
            if (std::fabs(d[m]) > limit)
                mask |= quint32(1) << m;
        }
        words.push_back(word);
        maskWords.push_back(mask);
    }
    previousEnergies = energies;
    hasPrevious = true;

    std::array<double, 12> &chroma = chromaHistory[size_t(framesSeen % kKeyFrames)];
    chroma.fill(0.0);
    const std::array<int, kChromaLastBin + 1> &classes = pitchClasses();
    for (int k = kChromaFirstBin; k <= kChromaLastBin; ++k)
        chroma[size_t(classes[size_t(k)])] += re[k] * re[k] + im[k] * im[k];
    ++framesSeen;
    if (framesSeen >= kKeyFrames) {
        std::array<double, 12> sum{};
        double total = 0.0;
        for (const std::array<double, 12> &frameChroma : chromaHistory) {
            for (int c = 0; c < 12; ++c)
                sum[size_t(c)] += frameChroma[size_t(c)];
        }
        for (double v : sum)
            total += v;
        keys.push_back(total > kKeyEnergyFloor ? rankKey(sum) : kNoKey);
    }
}

QList<quint32> Generator::finish() const
{
    return QList<quint32>(words.begin(), words.end());
}

QList<quint32> Generator::finishMask() const
{
    return QList<quint32>(maskWords.begin(), maskWords.end());
}

QList<quint32> Generator::finishKeys() const
{
    return QList<quint32>(keys.begin(), keys.end());
}

void Generator::reset()
{
    buffer.clear();
    words.clear();
    maskWords.clear();
    keys.clear();
    for (std::array<double, 12> &chroma : chromaHistory)
        chroma.fill(0.0);
    framesSeen = 0;
    previousEnergies.fill(0.0);
    hasPrevious = false;
}

// ---------------------------------------------------------------------------------------------
// Analyzer

void Analyzer::configure(int inputRate)
{
    downsampler.configure(inputRate);
    mainGenerator.reset();
    altGenerator.reset();
    altPrimed = false;
}

void Analyzer::feed(const float *mono, int n)
{
    if (n < 1 || mono == nullptr)
        return;
    scratch.clear();
    downsampler.feed(mono, n, mainGenerator, &scratch);
    if (!altPrimed) {
        altGenerator.append(altSilence().data(), kAltDelay);
        altPrimed = true;
    }
    if (!scratch.empty())
        altGenerator.append(scratch.data(), static_cast<int>(scratch.size()));
}

// ---------------------------------------------------------------------------------------------
// Comparison

namespace {

// Walks the offsets from -maxOffset to +maxOffset, skipping those whose overlap is below
// minOverlap; `rateAt(o, pairs, &ber)` says whether offset o qualifies and its rate. The
// first qualifying offset becomes the best, a later one replaces it only when strictly
// smaller. Returns false when no offset qualified.
template <typename RateAt>
bool searchOffsets(int sa, int sb, int maxOffset, int minOverlap, RateAt rateAt, double *best, int *winner)
{
    int first, last;
    offsetRange(sa, sb, maxOffset, &first, &last);
    bool found = false;
    for (int o = first; o <= last; ++o) {
        const int pairs = overlap(sa, sb, o);
        if (pairs < minOverlap)
            continue;
        double ber = 1.0;
        if (!rateAt(o, pairs, &ber))
            continue;
        if (!found || ber < *best) {
            found = true;
            *best = ber;
            *winner = o;
        }
    }
    return found;
}

} // namespace

double bestBitErrorRate(const QList<quint32> &a, const QList<quint32> &b, int maxOffset, int minOverlap,
                        int *bestOffset)
{
    if (bestOffset)
        *bestOffset = 0;
    if (a.isEmpty() || b.isEmpty() || maxOffset < 0)
        return 1.0;
    // An overlap of no words has no error rate; never divide by it.
    minOverlap = std::max(minOverlap, 1);
    double best = 1.0;
    int winner = 0;
    const auto plain = [&](int o, int pairs, double *ber) {
        *ber = plainBitErrorRate(a, b, o, pairs);
        return true;
    };
    if (!searchOffsets(int(a.size()), int(b.size()), maxOffset, minOverlap, plain, &best, &winner))
        return 1.0;
    if (bestOffset)
        *bestOffset = winner;
    return best;
}

double bestBitErrorRate(const QList<quint32> &a, const QList<quint32> &aMask, const QList<quint32> &b,
                        const QList<quint32> &bMask, int maxOffset, int minOverlap, int *bestOffset)
{
    if (aMask.size() != a.size() || bMask.size() != b.size() || maxOffset < 0)
        return bestBitErrorRate(a, b, maxOffset, minOverlap, bestOffset);
    if (bestOffset)
        *bestOffset = 0;
    if (a.isEmpty() || b.isEmpty())
        return 1.0;
    minOverlap = std::max(minOverlap, 1);
    double best = 1.0;
    int winner = 0;
    const auto masked = [&](int o, int pairs, double *ber) {
        const int start = std::max(0, -o);
        const quint32 *pa = a.constData() + start;
        const quint32 *pma = aMask.constData() + start;
        const quint32 *pb = b.constData() + start + o;
        const quint32 *pmb = bMask.constData() + start + o;
        qint64 considered = 0;
        qint64 errors = 0;
        for (int i = 0; i < pairs; ++i) {
            const quint32 m = pma[i] & pmb[i];
            considered += qPopulationCount(m);
            errors += qPopulationCount((pa[i] ^ pb[i]) & m);
        }
        // on average at least four strong bits per word
        if (considered < 4 * qint64(pairs))
            return false;
        *ber = double(errors) / double(considered);
        return true;
    };
    if (!searchOffsets(int(a.size()), int(b.size()), maxOffset, minOverlap, masked, &best, &winner))
        return bestBitErrorRate(a, b, maxOffset, minOverlap, bestOffset);
    if (bestOffset)
        *bestOffset = winner;
    return best;
}

double bestBitErrorRate(const QList<quint32> &a, const QList<quint32> &aMask, const QList<quint32> &b,
                        const QList<quint32> &bMask, const QList<quint32> &bAlt,
                        const QList<quint32> &bAltMask, int maxOffset, int minOverlap, int *bestOffset)
{
    int mainOffset = 0;
    const double main = bestBitErrorRate(a, aMask, b, bMask, maxOffset, minOverlap, &mainOffset);
    if (!bAlt.isEmpty()) {
        int altOffset = 0;
        const double alt = bestBitErrorRate(a, aMask, bAlt, bAltMask, maxOffset, minOverlap, &altOffset);
        if (main > alt) {
            if (bestOffset)
                *bestOffset = altOffset;
            return alt;
        }
    }
    if (bestOffset)
        *bestOffset = mainOffset;
    return main;
}

bool couldMatchWithin(const QList<quint32> &a, const QList<quint32> &b, int window, int step, double limit)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    int n = int(std::min(a.size(), b.size()));
    if (n >= window)
        n = window;
    else if (n < kPrecheckShortList)
        return true;

    const int sb = int(b.size());
    const int offsets[5] = {0, -step, step, -2 * step, 2 * step};
    double best = 1.0;
    for (int o : offsets) {
        const int m = std::min(n, sb - o);
        const int start = std::max(0, -o);
        const int count = m - start;
        if (count < kPrecheckMinPairs)
            continue;
        const int bits = differingBits(a.constData() + start, b.constData() + start + o, count);
        best = std::min(best, double(bits) / (32.0 * count));
    }
    if (best <= limit)
        return true;
    // The five coarse offsets only catch copies whose start moved by a multiple of the step;
    // neighbouring words are nearly independent, so any other shift must be tried directly.
    return shortRunBest(a, b, n, 2 * step) <= limit;
}

bool couldMatch(const QList<quint32> &a, const QList<quint32> &b, double threshold)
{
    return couldMatchWithin(a, b, 200, 24, threshold + 0.18);
}

// ---------------------------------------------------------------------------------------------
// Blobs

QByteArray toBlob(const QList<quint32> &words)
{
    QByteArray blob(words.size() * 4, Qt::Uninitialized);
    uchar *dst = reinterpret_cast<uchar *>(blob.data());
    for (qsizetype i = 0; i < words.size(); ++i)
        qToLittleEndian<quint32>(words[i], dst + 4 * i);
    return blob;
}

QList<quint32> fromBlob(const QByteArray &blob)
{
    QList<quint32> words;
    const qsizetype count = blob.size() / 4;
    words.reserve(count);
    const uchar *src = reinterpret_cast<const uchar *>(blob.constData());
    for (qsizetype i = 0; i < count; ++i)
        words.append(qFromLittleEndian<quint32>(src + 4 * i));
    return words;
}

} // namespace rvw::Fingerprint
