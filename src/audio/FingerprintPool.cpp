#include "audio/FingerprintPool.h"

#include "audio/AudioDecode.h"
#include "audio/Chromaprint.h"
#include "audio/Fingerprint.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace rvw {

namespace {

constexpr int kMinLanes = 1;
constexpr int kMaxLanes = 16;
constexpr int kDefaultSeconds = 120;
constexpr int kQtFramesPerSecond = 48000;
constexpr unsigned long kLaneStopWaitMs = 5000;
constexpr int kCancelPollMs = 50;
// How far a decode may run past a rounded stream length: whole buffers, codec padding.
constexpr qint64 kLengthSlackMs = 500;

// Mixes one interleaved buffer to mono; false for a sample format the analyser cannot take.
template <typename T, typename Convert>
void mixDown(const QAudioBuffer &buffer, int channels, int frames, std::vector<float> &mono, Convert convert)
{
    const T *data = buffer.constData<T>();
    for (int f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c)
            sum += convert(data[qsizetype(f) * channels + c]);
        mono[size_t(f)] = sum / float(channels);
    }
}

bool toMono(const QAudioBuffer &buffer, std::vector<float> &mono)
{
    const int channels = buffer.format().channelCount();
    const int frames = int(buffer.frameCount());
    mono.resize(size_t(frames));
    switch (buffer.format().sampleFormat()) {
    case QAudioFormat::UInt8:
        mixDown<quint8>(buffer, channels, frames, mono,
                        [](quint8 x) { return (float(x) - 128.0f) * 0.0078125f; });
        return true;
    case QAudioFormat::Int16:
        mixDown<qint16>(buffer, channels, frames, mono, [](qint16 x) { return float(x) * 3.0517578125e-5f; });
        return true;
    case QAudioFormat::Int32:
        mixDown<qint32>(buffer, channels, frames, mono,
                        [](qint32 x) { return float(double(x) * 4.656612873077393e-10); });
        return true;
    case QAudioFormat::Float:
        mixDown<float>(buffer, channels, frames, mono, [](float x) { return x; });
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// FingerprintWorker

FingerprintWorker::FingerprintWorker(int seconds, bool useFpcalc, QObject *parent)
    : QObject(parent), seconds(seconds < 1 ? kDefaultSeconds : seconds), useFpcalc(useFpcalc)
{
}

void FingerprintWorker::process(int id, const QString &path)
{
    FingerprintResult result;
    if (useFpcalc && Chromaprint::available()) {
        const ChromaprintResult r = Chromaprint::fingerprint(path, seconds, cancel);
        result.fingerprint = r.fingerprint;
        result.durationMs = r.durationMs;
        result.error = r.error;
    } else {
        Fingerprint::Analyzer analyzer;
        qint64 duration = 0;
        QString decodeError;
        bool decoded = false;
        if (AudioDecode::ffmpegAvailable()) {
            std::vector<float> samples;
            decoded = AudioDecode::decodeWithFfmpeg(path, Fingerprint::kSampleRate, seconds, samples,
                                                    duration, decodeError, cancel);
            if (decoded) {
                analyzer.configure(Fingerprint::kSampleRate);
                analyzer.feed(samples.data(), int(samples.size()));
            }
        }
        if (!decoded && !cancelled())
            decodeWithQt(analyzer, path, duration, decodeError);

        result.fingerprint = analyzer.mainGenerator.finish();
        result.fingerprintMask = analyzer.mainGenerator.finishMask();
        result.fingerprintAlt = analyzer.altGenerator.finish();
        result.fingerprintAltMask = analyzer.altGenerator.finishMask();
        result.fingerprintKeys = analyzer.mainGenerator.finishKeys();
        result.durationMs = duration;
        if (result.fingerprint.isEmpty())
            result.error = decodeError;
    }
    if (result.fingerprint.isEmpty() && result.error.isEmpty())
        result.error = QObject::tr("No decodable audio found");
    emit completed(id, result);
}

void FingerprintWorker::decodeWithQt(Fingerprint::Analyzer &analyzer, const QString &path, qint64 &durationMs,
                                     QString &error)
{
    const qint64 budget = qint64(seconds) * kQtFramesPerSecond;
    qint64 decodedFrames = 0;
    qint64 decodedUs = 0;
    bool configured = false;
    bool ended = false;
    // Set only when the stream itself ran out, not when the budget, the timer or an error stopped it.
    bool reachedEnd = false;
    std::vector<float> mono;

    QAudioDecoder decoder;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(int(std::min<qint64>(qint64(std::max(seconds, 30)) * 1000, INT_MAX)));

    auto stopLoop = [&] {
        ended = true;
        loop.quit();
    };
    QObject::connect(&decoder, &QAudioDecoder::finished, &loop, [&] {
        if (!ended)
            reachedEnd = true;
        stopLoop();
    });
    QObject::connect(&decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), &loop,
                     [&](QAudioDecoder::Error) {
                         error = decoder.errorString();
                         reachedEnd = false;
                         stopLoop();
                     });
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (error.isEmpty() && analyzer.mainGenerator.wordCount() == 0)
            error = QObject::tr("Timed out decoding audio");
        ended = true;
        decoder.stop();
        stopLoop();
    });
    // Stopping the decoder early (frame budget, timer) also forgets the stream's length, so the
    // last length it announced is kept.
    qint64 announced = 0;
    QObject::connect(&decoder, &QAudioDecoder::durationChanged, &loop, [&](qint64 ms) {
        if (ms > 0)
            announced = ms;
    });
    QObject::connect(&decoder, &QAudioDecoder::bufferReady, &loop, [&] {
        while (!ended && decoder.bufferAvailable()) {
            const QAudioBuffer buffer = decoder.read();
            if (!buffer.isValid())
                continue;
            decodedUs += buffer.duration();
            if (!configured) {
                analyzer.configure(buffer.format().sampleRate());
                configured = true;
            }
            if (buffer.format().channelCount() < 1 || buffer.frameCount() < 1)
                continue;
            if (!toMono(buffer, mono))
                continue;
            analyzer.feed(mono.data(), int(mono.size()));
            decodedFrames += buffer.frameCount();
            if (decodedFrames >= budget) {
                ended = true;
                decoder.stop();
                stopLoop();
                return;
            }
        }
    });

    QTimer cancelWatch;
    QObject::connect(&cancelWatch, &QTimer::timeout, &loop, [&] {
        if (!cancelled())
            return;
        error = QStringLiteral("cancelled");
        ended = true;
        decoder.stop();
        stopLoop();
    });
    cancelWatch.start(kCancelPollMs);
    timer.start();
    decoder.setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    decoder.start();
    if (!ended)
        loop.exec();
    timer.stop();
    // A decode that ran to the end measured the stream. The decoder's own figure may be an
    // estimate (GStreamer guesses a stream without a length from its first packets), so one
    // shorter than what was decoded is no length at all.
    const qint64 decodedMs = decodedUs / 1000;
    const qint64 known = decoder.duration() > 0 ? decoder.duration() : announced;
    if (reachedEnd)
        durationMs = decodedMs;
    else if (known > 0 && known + kLengthSlackMs >= decodedMs)
        durationMs = known;
}

// ---------------------------------------------------------------------------------------------
// FingerprintPool

FingerprintPool::FingerprintPool(int threads, int seconds, bool useFpcalc, QObject *parent) : QObject(parent)
{
    qRegisterMetaType<rvw::FingerprintResult>("rvw::FingerprintResult");
    const int count = std::clamp(threads, kMinLanes, kMaxLanes);
    const int workerSeconds = seconds > 0 ? seconds : kDefaultSeconds;
    for (int i = 0; i < count; ++i) {
        Lane lane;
        lane.thread = new QThread(this);
        lane.thread->setObjectName(QStringLiteral("rvw-fingerprint-%1").arg(i));
        lane.worker = new FingerprintWorker(workerSeconds, useFpcalc);
        lane.worker->moveToThread(lane.thread);
        connect(lane.thread, &QThread::finished, lane.worker, &QObject::deleteLater);
        lane.thread->start();
        lanes.append(lane);
    }
}

FingerprintPool::~FingerprintPool()
{
    for (const Lane &lane : std::as_const(lanes)) {
        lane.thread->quit();
        if (!lane.thread->wait(kLaneStopWaitMs)) {
            // Destroying a running QThread aborts the process. A lane still busy with a long
            // decode is left to finish on its own and cleans up after itself.
            qWarning("Fingerprint lane %s still busy; leaving it to finish",
                     qPrintable(lane.thread->objectName()));
            lane.thread->setParent(nullptr);
            connect(lane.thread, &QThread::finished, lane.thread, &QObject::deleteLater);
        }
    }
}

QList<QThread *> FingerprintPool::laneThreads() const
{
    QList<QThread *> threads;
    for (const Lane &lane : lanes)
        threads.append(lane.thread);
    return threads;
}

void FingerprintPool::run(const QList<std::pair<int, QString>> &batch, const QAtomicInt *cancelFlag)
{
    if (batch.isEmpty() || (cancelFlag && cancelFlag->loadRelaxed()))
        return;
    jobs = batch;
    next = inFlight = done = 0;
    cancel = cancelFlag;
    for (const Lane &lane : std::as_const(lanes))
        lane.worker->setCancelFlag(cancelFlag);

    QList<QMetaObject::Connection> handlers;
    for (int i = 0; i < lanes.size(); ++i) {
        handlers.append(connect(
            lanes[i].worker, &FingerprintWorker::completed, this,
            [this, i](int id, const rvw::FingerprintResult &result) { onCompleted(i, id, result); },
            Qt::QueuedConnection));
    }
    for (int i = 0; i < lanes.size(); ++i)
        dispatchNext(i);

    QTimer cancelWatch;
    if (cancel) {
        connect(&cancelWatch, &QTimer::timeout, this, [this] {
            if (cancel->loadRelaxed())
                next = int(jobs.size()); // nothing more is handed out
        });
        cancelWatch.start(kCancelPollMs);
    }
    if (inFlight > 0) {
        QEventLoop local;
        loop = &local;
        local.exec();
        loop = nullptr;
    }
    cancelWatch.stop();
    cancel = nullptr;
    for (const QMetaObject::Connection &c : std::as_const(handlers))
        disconnect(c);
    jobs.clear();
}

void FingerprintPool::onCompleted(int lane, int id, const rvw::FingerprintResult &result)
{
    --inFlight;
    // A job cut short by the cancel has no result to report, not a failure.
    const bool cutShort = cancel && cancel->loadRelaxed() && result.fingerprint.isEmpty();
    if (!cutShort) {
        ++done;
        emit completed(id, result);
        emit progress(done, int(jobs.size()));
    }
    dispatchNext(lane);
    if (inFlight == 0 && loop)
        loop->quit();
}

void FingerprintPool::dispatchNext(int lane)
{
    if (cancel && cancel->loadRelaxed())
        next = int(jobs.size());
    if (next >= jobs.size())
        return;
    const std::pair<int, QString> job = jobs.at(next);
    ++next;
    ++inFlight;
    QMetaObject::invokeMethod(lanes[lane].worker, "process", Qt::QueuedConnection, Q_ARG(int, job.first),
                              Q_ARG(QString, job.second));
}

} // namespace rvw
