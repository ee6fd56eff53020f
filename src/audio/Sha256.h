#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QtGlobal>

#include <array>

namespace rvw {

// Incremental SHA-256. On processors with the SHA instructions the blocks are compressed by
// them, which is several times faster than the framework's portable code and makes hashing a
// library limited by the disk rather than by the processor; elsewhere the framework's
// QCryptographicHash does the work. Both give the same digest.
class Sha256
{
public:
    enum class Engine
    {
        Fastest,
        Framework
    };

    explicit Sha256(Engine engine = Engine::Fastest);

    void addData(const char *data, qint64 length);
    // The 32-byte digest; the object is spent afterwards.
    QByteArray result();

    bool usesProcessorInstructions() const { return m_hardware; }
    static bool processorHasShaInstructions();

private:
    bool m_hardware = false;
    QCryptographicHash m_framework{QCryptographicHash::Sha256};
    std::array<quint32, 8> m_state{};
    std::array<unsigned char, 64> m_pending{};
    int m_pendingLength = 0;
    quint64 m_totalBytes = 0;
};

} // namespace rvw
