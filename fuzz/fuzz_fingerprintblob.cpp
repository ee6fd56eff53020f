// libFuzzer target: any bytes from the analysis cache must read back safely as words, survive
// a round trip, and be safe to compare.

#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray blob = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<quint32> words = rvw::Fingerprint::fromBlob(blob);
    if (words.size() != qsizetype(size / 4))
        std::abort();
    const QByteArray again = rvw::Fingerprint::toBlob(words);
    if (again != blob.left(qsizetype(size / 4) * 4))
        std::abort();

    // The first half as a fingerprint, the second as its mask, compared with the words shifted.
    const qsizetype half = words.size() / 2;
    const QList<quint32> a = words.mid(0, half);
    const QList<quint32> mask = words.mid(half, half);
    const QList<quint32> b = words.mid(1);
    const int maxOffset = size > 0 ? data[0] % 64 : 0;
    const int minOverlap = size > 1 ? data[1] % 16 : 1;
    const double plain = rvw::Fingerprint::bestBitErrorRate(a, b, maxOffset, minOverlap, nullptr);
    int offset = 0;
    const double masked =
        rvw::Fingerprint::bestBitErrorRate(a, mask, b, b, a, mask, maxOffset, minOverlap, &offset);
    const double chroma = rvw::Chromaprint::bitErrorRate(a, b, maxOffset, minOverlap);
    for (double ber : {plain, masked, chroma})
        if (!(ber >= 0.0 && ber <= 1.0))
            std::abort();
    if (offset < -maxOffset || offset > maxOffset)
        std::abort();
    rvw::Fingerprint::couldMatch(a, b, 0.25);
    rvw::Chromaprint::couldMatch(a, b, 0.12);
    return 0;
}
