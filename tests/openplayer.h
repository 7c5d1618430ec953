#pragma once

#include "player.h"

#include <QSignalSpy>

// Opens the file and waits for the player's answer: whether it opened.
inline bool OpenAndWait(Player &player, const QString &path, int timeoutMs = 25000)
{
    QSignalSpy finished(&player, &Player::openFinished);
    player.open(path);
    if (!finished.wait(timeoutMs))
        return false;
    return finished.first().first().toBool();
}
