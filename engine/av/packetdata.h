#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QByteArray>

// A packet's payload as bytes, and a new payload for it.
QByteArray PacketBytes(const AVPacket *packet);
// Gives the packet a payload of its own holding data (padded as decoders expect); false, with
// the packet unchanged, when out of memory.
bool ReplacePacketData(AVPacket *packet, const QByteArray &data);
