#pragma once

#include <QAtomicInt>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class QThread;

namespace rvw {

// The waveform analysis of one file: per bucket the largest absolute sample of each channel
// (0..1, full scale 1) and the louder of the two, normalised for drawing. Bucket i covers
// i x bucketMs onwards; buckets are 40 ms long, longer for a file over 40 minutes.
struct Envelope
{
    QList<float> left;
    QList<float> right; // a copy of left for a mono file
    QList<float> peaks; // normalised so the loudest bucket reaches 0.98 (never scaled down)
    int bucketMs = 40;
    qint64 durationMs = 0;
    // Root mean square of every sample of every channel over the whole file (full scale 1):
    // how loud the file is, for matching two decks' levels.
    double rms = 0.0;

    // Both outputs are 0 for a time outside the envelope or an empty envelope.
    void levelsAt(qint64 ms, double &leftLevel, double &rightLevel) const;
};

// Decodes whole files on its own thread ("rvw-waveform") and reduces them to envelopes for
// the player's two decks (0 = A, 1 = B). A newer request for a deck, or a cancel, silences
// any analysis of that deck still under way or already waiting to be delivered.
class WaveformLoader : public QObject
{
    Q_OBJECT
public:
    explicit WaveformLoader(QObject *parent = nullptr);
    ~WaveformLoader() override;

    // Returns at once; ignored unless deck is 0 or 1.
    void load(int deck, const QString &path);
    // Silences every analysis under way or waiting.
    void cancel();
    // Silences only the given deck's analysis.
    void cancel(int deck);

    // Shared with the worker, which may outlive this object if its thread will not stop.
    struct Generations
    {
        QAtomicInt deck[2];
    };

signals:
    void loaded(int deck, const rvw::Envelope &envelope);
    void failed(int deck, const QString &error);

private:
    bool isCurrent(int deck, int generation) const;

    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr;
    QSharedPointer<Generations> m_generations;
};

} // namespace rvw

Q_DECLARE_METATYPE(rvw::Envelope)
