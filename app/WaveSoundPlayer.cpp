#include "app/WaveSoundPlayer.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

WaveSoundPlayer::WaveSoundPlayer(QObject* parent) : QObject(parent) {}

bool WaveSoundPlayer::PlayWaveFile(const QString& file, bool async)
{
    Q_UNUSED(async); // QSoundEffect always plays in the background; nothing here waits for a sound to end
    QFileInfo info(file);
    if (!info.isFile())
        return false; // no default sound for a missing file
    QSoundEffect*& effect = effects[info.absoluteFilePath()];
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    }
    effect->play();
    return true;
}
