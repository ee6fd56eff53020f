#include "ui/WaveformLoader.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QList>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rvw {

void Envelope::levelsAt(qint64 ms, double &leftLevel, double &rightLevel) const
{
    leftLevel = 0.0;
    rightLevel = 0.0;
    if (left.isEmpty() || bucketMs <= 0)
        return;
    // Checked before dividing: the division rounds -39..-1 ms towards the first bucket.
    if (ms < 0)
        return;
    const qint64 index = ms / bucketMs;
    if (index >= left.size())
        return;
    leftLevel = left.at(index);
    rightLevel = index < right.size() ? right.at(index) : leftLevel;
}

namespace {

// Beyond this many buckets (40 minutes at 40 ms) neighbouring buckets are merged and the bucket
// length doubles, so a long file is still covered to its end at a bounded size.
constexpr qsizetype kMaxBuckets = 60000;
constexpr int kTimeoutMs = 60000;
constexpr float kNormalisedPeak = 0.98f;
constexpr int kRetrySampleRate = 44100;

template <typename T> T readSample(const uchar *p)
{
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

// Absolute value of one sample at p, full scale 1.
float sampleValue(QAudioFormat::SampleFormat format, const uchar *p)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return std::abs(int(*p) - 128) * (1.0f / 128.0f);
    case QAudioFormat::Int16:
        return float(std::abs(int(readSample<qint16>(p)))) * (1.0f / 32768.0f);
    case QAudioFormat::Int32:
        return float(std::abs(double(readSample<qint32>(p))) * (1.0 / 2147483648.0));
    case QAudioFormat::Float: {
        const float v = std::abs(readSample<float>(p));
        return std::isfinite(v) ? v : 0.0f;
    }
    default:
        return 0.0f;
    }
}

// Collects buckets of per-channel peaks from the decoder's buffers: 40 ms, or a multiple of
// that for a file too long to fit kMaxBuckets.
class EnvelopeBuilder
{
public:
    void add(const QAudioBuffer &buffer)
    {
        const QAudioFormat format = buffer.format();
        if (m_channels == 0) {
            m_channels = std::max(1, format.channelCount());
            const int rate = format.sampleRate();
            m_framesPerBucket = rate > 24 ? rate / 25 : 1;
        }
        const int stride = std::max(1, format.channelCount());
        const int bytesPerSample = std::max(0, format.bytesPerSample());
        const bool stereo = m_channels > 1 && stride > 1;
        // Never read past the bytes the buffer really holds, whatever it claims.
        qint64 frames = buffer.frameCount();
        if (bytesPerSample > 0)
            frames = std::min<qint64>(frames, buffer.byteCount() / (qint64(stride) * bytesPerSample));
        const auto *data = buffer.constData<uchar>();
        const QAudioFormat::SampleFormat sampleFormat =
            bytesPerSample > 0 ? format.sampleFormat() : QAudioFormat::Unknown;
        for (qint64 f = 0; f < frames; ++f) {
            const uchar *frame = data + f * stride * bytesPerSample;
            const float first = sampleValue(sampleFormat, frame);
            const float second = stereo ? sampleValue(sampleFormat, frame + bytesPerSample) : first;
            m_squares += double(first) * first + (stereo ? double(second) * second : 0.0);
            m_samples += stereo ? 2 : 1;
            m_leftPeak = std::max(m_leftPeak, first);
            m_rightPeak = std::max(m_rightPeak, second);
            if (++m_frames >= m_framesPerBucket) {
                closeBucket();
                if (m_envelope.peaks.size() >= kMaxBuckets)
                    coarsen();
            }
        }
    }

    Envelope finish(qint64 decoderDurationMs)
    {
        if (m_frames > 0)
            closeBucket();
        Envelope result = m_envelope;
        if (result.peaks.isEmpty())
            return result;
        result.rms = m_samples > 0 ? std::sqrt(m_squares / double(m_samples)) : 0.0;
        result.durationMs =
            decoderDurationMs > 0 ? decoderDurationMs : qint64(result.peaks.size()) * result.bucketMs;
        float loudest = 0.0f;
        for (const float p : std::as_const(result.peaks))
            loudest = std::max(loudest, p);
        if (loudest > 0.0f && loudest < kNormalisedPeak) {
            const float gain = kNormalisedPeak / loudest;
            for (float &p : result.peaks)
                p *= gain;
        }
        return result;
    }

private:
    // Pairs of buckets become one of twice the length; only called right after a bucket
    // closed, so the one being filled starts on the new boundary.
    void coarsen()
    {
        QList<float> *lists[] = {&m_envelope.left, &m_envelope.right, &m_envelope.peaks};
        for (QList<float> *list : lists) {
            const qsizetype merged = (list->size() + 1) / 2;
            for (qsizetype i = 0; i < merged; ++i) {
                const qsizetype first = 2 * i;
                const float second = first + 1 < list->size() ? list->at(first + 1) : 0.0f;
                (*list)[i] = std::max(list->at(first), second);
            }
            list->resize(merged);
        }
        m_envelope.bucketMs *= 2;
        m_framesPerBucket *= 2;
    }

    void closeBucket()
    {
        m_envelope.left.append(m_leftPeak);
        m_envelope.right.append(m_rightPeak);
        m_envelope.peaks.append(std::max(m_leftPeak, m_rightPeak));
        m_leftPeak = m_rightPeak = 0.0f;
        m_frames = 0;
    }

    Envelope m_envelope;
    float m_leftPeak = 0.0f;
    float m_rightPeak = 0.0f;
    qint64 m_frames = 0;
    double m_squares = 0.0;
    qint64 m_samples = 0;
    int m_channels = 0;
    qint64 m_framesPerBucket = 1;
};

struct Request
{
    int deck;
    QString path;
    int generation;
};

class Worker : public QObject
{
    Q_OBJECT
public:
    explicit Worker(QSharedPointer<WaveformLoader::Generations> generations)
        : m_generations(std::move(generations))
    {
    }

    Q_INVOKABLE void analyse(int deck, const QString &path, int generation)
    {
        // The decoder runs in a nested event loop, which would also deliver the next queued
        // request; such a request waits here until the running one is over instead.
        m_pending.append(Request{deck, path, generation});
        if (m_running)
            return;
        m_running = true;
        while (!m_pending.isEmpty())
            run(m_pending.takeFirst());
        m_running = false;
    }

signals:
    void loaded(int deck, const rvw::Envelope &envelope, int generation);
    void failed(int deck, const QString &error, int generation);

private:
    bool isCurrent(const Request &request) const
    {
        return m_generations->deck[request.deck].loadAcquire() == request.generation;
    }

    struct Attempt
    {
        QString errorText;
        qint64 durationMs = 0;
        bool timedOut = false;
    };

    // One pass of the decoder over the file, in the given output format (an invalid format
    // leaves the decoder's own); the buckets go into builder.
    Attempt decode(const Request &request, const QAudioFormat &format, int timeoutMs,
                   EnvelopeBuilder &builder)
    {
        Attempt attempt;
        // Given no source at all the decoder neither starts nor reports an error: the request
        // would wait out the whole time limit before failing.
        if (request.path.isEmpty())
            return attempt;
        bool done = false;
        QAudioDecoder decoder;
        if (format.isValid())
            decoder.setAudioFormat(format);
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.setInterval(timeoutMs);

        // The decoder forgets the duration when it is stopped early, so keep what it said.
        const auto noteDuration = [&] {
            if (decoder.duration() > 0)
                attempt.durationMs = decoder.duration();
        };
        const auto finishEarly = [&] {
            done = true;
            noteDuration();
            decoder.stop();
            loop.quit();
        };
        QObject::connect(&decoder, &QAudioDecoder::bufferReady, &loop, [&] {
            while (!done && decoder.bufferAvailable()) {
                if (!isCurrent(request)) {
                    finishEarly();
                    return;
                }
                const QAudioBuffer buffer = decoder.read();
                if (!buffer.isValid())
                    continue;
                builder.add(buffer);
            }
        });
        QObject::connect(&decoder, &QAudioDecoder::durationChanged, &loop, noteDuration);
        QObject::connect(&decoder, &QAudioDecoder::finished, &loop, [&] {
            done = true;
            loop.quit();
        });
        QObject::connect(&decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), &loop, [&] {
            attempt.errorText = decoder.errorString();
            done = true;
            loop.quit();
        });
        QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
            attempt.timedOut = true;
            finishEarly();
        });

        timeout.start();
        // A relative path would not open.
        decoder.setSource(QUrl::fromLocalFile(QFileInfo(request.path).absoluteFilePath()));
        decoder.start();
        if (!done)
            loop.exec();
        timeout.stop();
        noteDuration();
        decoder.stop();
        return attempt;
    }

    void run(const Request &request)
    {
        if (!isCurrent(request))
            return;

        QElapsedTimer clock;
        clock.start();
        EnvelopeBuilder builder;
        const Attempt native = decode(request, QAudioFormat(), kTimeoutMs, builder);
        Envelope envelope = builder.finish(native.durationMs);
        QString errorText = native.errorText;

        // Samples wider than 16 bits (24-bit FLAC and WAV) come out of the platform decoder
        // in a layout it cannot hand over, so nothing arrives; asked for float samples, it
        // converts them. The second pass shares the time limit of the first.
        const qint64 timeLeft = kTimeoutMs - clock.elapsed();
        if (envelope.peaks.isEmpty() && !native.timedOut && timeLeft > 0 && isCurrent(request)) {
            QAudioFormat floatFormat;
            floatFormat.setSampleFormat(QAudioFormat::Float);
            floatFormat.setChannelCount(2);
            floatFormat.setSampleRate(kRetrySampleRate);
            EnvelopeBuilder retry;
            const Attempt converted = decode(request, floatFormat, int(timeLeft), retry);
            envelope = retry.finish(converted.durationMs);
            if (errorText.isEmpty())
                errorText = converted.errorText;
        }

        if (!isCurrent(request))
            return;
        if (envelope.peaks.isEmpty()) {
            emit failed(request.deck,
                        errorText.isEmpty() ? QObject::tr("This file could not be decoded for preview.")
                                            : errorText,
                        request.generation);
            return;
        }
        emit loaded(request.deck, envelope, request.generation);
    }

    QSharedPointer<WaveformLoader::Generations> m_generations;
    QList<Request> m_pending;
    bool m_running = false;
};

} // namespace

WaveformLoader::WaveformLoader(QObject *parent)
    : QObject(parent), m_generations(QSharedPointer<Generations>::create())
{
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("rvw-waveform"));
    auto *worker = new Worker(m_generations);
    worker->moveToThread(m_thread);
    m_worker = worker;
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    // A result may wait in this thread's queue while a newer request is made; it is
    // checked again on arrival.
    connect(worker, &Worker::loaded, this, [this](int deck, const rvw::Envelope &envelope, int generation) {
        if (isCurrent(deck, generation))
            emit loaded(deck, envelope);
    });
    connect(worker, &Worker::failed, this, [this](int deck, const QString &error, int generation) {
        if (isCurrent(deck, generation))
            emit failed(deck, error);
    });
    m_thread->start(QThread::InheritPriority);
}

WaveformLoader::~WaveformLoader()
{
    cancel();
    m_thread->quit();
    if (!m_thread->wait(5000)) {
        // A decoder that will not stop must not take the process down with it: the thread
        // is left to finish on its own and cleans up after itself.
        m_thread->setParent(nullptr);
        connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
    }
}

bool WaveformLoader::isCurrent(int deck, int generation) const
{
    return m_generations->deck[deck].loadAcquire() == generation;
}

void WaveformLoader::load(int deck, const QString &path)
{
    if (deck != 0 && deck != 1)
        return;
    const int generation = m_generations->deck[deck].fetchAndAddOrdered(1) + 1;
    auto *worker = static_cast<Worker *>(m_worker);
    QMetaObject::invokeMethod(
        worker, [worker, deck, path, generation] { worker->analyse(deck, path, generation); },
        Qt::QueuedConnection);
}

void WaveformLoader::cancel()
{
    cancel(0);
    cancel(1);
}

void WaveformLoader::cancel(int deck)
{
    if (deck != 0 && deck != 1)
        return;
    m_generations->deck[deck].fetchAndAddOrdered(1);
}

} // namespace rvw

#include "WaveformLoader.moc"
