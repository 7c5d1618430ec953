#pragma once

#include "devicelimits.h"

#include <QList>
#include <QString>

#include <span>

// The output format catalogue: 138 entries under three submenus, in menu order. Constant data.
struct CatalogueEntry
{
    int Id; // menu command id, unique, 1028..1194
    const char *Symbol; // the id constant's name
    const char *Caption;
    int SubmenuId; // the submenu that holds the entry
    const char *FormatKey;
    bool AudioOnly;
    // Presets; nullptr where the entry has none. Width and Height come together.
    const char *Width;
    const char *Height;
    const char *FrameRate;
    const char *AudioBitrate;
    const char *Channels;

    QString caption() const { return QString::fromUtf8(Caption); }
    QString formatKey() const { return QString::fromLatin1(FormatKey); }
    bool hasSize() const { return Width && Height; }
};

// A submenu of the catalogue menu; device families sit under "Device".
struct CatalogueSubmenu
{
    int Id;
    const char *Caption;
    int ParentId; // 0 for the three top submenus
};

namespace Catalogue {

constexpr int MenuBarId = 1022;
constexpr int AudioSubmenuId = 1020;
constexpr int VideoSubmenuId = 1183;
constexpr int DeviceSubmenuId = 1021;
constexpr int DefaultEntryId = 1057; // "MP4 - H264 Video (*.mp4)"

// Every entry, in menu order (submenu by submenu, in the order the menu shows them).
std::span<const CatalogueEntry> entries();
// The submenus in menu order: the three top ones, then the device families.
std::span<const CatalogueSubmenu> submenus();
const CatalogueEntry *findById(int id);
const CatalogueSubmenu *findSubmenu(int id);

// "General Audio Format", "General Video Format" or "Device/<family>".
QString groupPath(const CatalogueEntry &entry);

// What the entry's device plays at most: none for the general formats, the discs (their
// target fixes frame and rate), and the HD and web presets (no device behind them).
DeviceLimits deviceLimits(const CatalogueEntry &entry);

} // namespace Catalogue

// The output file's extension for a format key: "mp4h264" -> "mp4"; "mpg2", "ntsc-dvd",
// "pal-dvd", "ntsc-vcd", "pal-vcd" -> "mpg"; every other key is its own extension.
QString ExtensionForKey(const QString &key);
