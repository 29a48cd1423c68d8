// Plays the program's wave files with QSoundEffect. Missing files and machines without an audio device
// simply play nothing.
#pragma once

#include "common/Seams.h"

#include <QHash>
#include <QObject>

class QSoundEffect;

class WaveSoundPlayer : public QObject, public SoundPlayer {
public:
    explicit WaveSoundPlayer(QObject* parent = nullptr);
    bool PlayWaveFile(const QString& file, bool async) override;

private:
    QHash<QString, QSoundEffect*> effects;
};
