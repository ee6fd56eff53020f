#pragma once

#include <QtGlobal>

namespace rvw {

// `length` bytes of a file from `offset`.
struct ByteRange
{
    qint64 offset = 0;
    qint64 length = 0;
    bool operator==(const ByteRange &o) const { return offset == o.offset && length == o.length; }
};

} // namespace rvw
