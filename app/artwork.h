#pragma once

#include <QIcon>
#include <QPixmap>

// The main window's own pictures, drawn in code so that they scale with the screen.
namespace Artwork {

QIcon appIcon();
QPixmap guidePicture(); // the first-start guide over the video area
QPixmap soundOnPicture(); // the mute toggle while sound is on
QPixmap mutedPicture(); // the mute toggle while muted
QIcon openIcon();
QIcon setStartIcon();
QIcon setEndIcon();
QIcon cutIcon();

} // namespace Artwork
