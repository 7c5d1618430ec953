#include "packetdata.h"

#include <cstring>

QByteArray PacketBytes(const AVPacket *packet)
{
    return QByteArray(reinterpret_cast<const char *>(packet->data), packet->size);
}

bool ReplacePacketData(AVPacket *packet, const QByteArray &data)
{
    AVBufferRef *buffer = av_buffer_alloc(size_t(data.size()) + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!buffer)
        return false;
    memcpy(buffer->data, data.constData(), size_t(data.size()));
    memset(buffer->data + data.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    av_buffer_unref(&packet->buf);
    packet->buf = buffer;
    packet->data = buffer->data;
    packet->size = int(data.size());
    return true;
}
