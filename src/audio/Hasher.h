#pragma once

#include "audio/ByteRange.h"

#include <QAtomicInt>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace rvw {

// SHA-256 keys of a file's identity, as 64 lower-case hex digits; empty when none could be made.
namespace Hasher {

// Every byte of the file. A set `cancel` flag, looked at between blocks, ends the hash at once with
// an empty result and no error.
QString hashWholeFile(const QString &path, QString *error, const QAtomicInt *cancel = nullptr);
// `length` bytes from `offset`, read in blocks of at most 1 MiB; a file that ends sooner is hashed
// up to its end. An empty range gives an empty hash and leaves error alone.
QString hashRange(const QString &path, qint64 offset, qint64 length, QString *error);
// The bytes of the ranges, in file order (ranges in increasing order without overlap), as one
// stream: read in one forward pass, so framing between small pieces costs no extra reads. Empty
// when the ranges hold no byte.
QString hashRanges(const QString &path, const QList<ByteRange> &ranges, QString *error,
                   const QAtomicInt *cancel = nullptr);
struct Digests
{
    QString whole;   // every byte, when asked for
    QString payload; // the bytes of the ranges, when asked for and there are any
};
// The whole-file hash and the payload hash (the ranges, as for hashRanges) from one forward read
// of the file: only as far as the ranges reach when the whole is not wanted. A failure leaves
// both empty with the reason in error; a cancel leaves both empty without one.
Digests hashFile(const QString &path, const QList<ByteRange> &payload, bool wantWhole, QString *error,
                 const QAtomicInt *cancel = nullptr);

// The size as decimal text, the first 64 KiB and, for files over 128 KiB, the last 64 KiB.
QString quickSignature(const QString &path);

} // namespace Hasher

} // namespace rvw
