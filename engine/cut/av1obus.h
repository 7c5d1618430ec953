#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// The open bitstream units of AV1 temporal units as MP4 and Matroska store them (each with
// its size field): their types, the stream's sequence header, and whether a temporal unit
// begins a sequence that decodes on its own.
namespace Av1Obus {

enum Type {
    SequenceHeader = 1,
    TemporalDelimiter = 2,
    FrameHeader = 3,
    Frame = 6,
};

struct Unit
{
    int type = 0;
    qsizetype offset = 0; // of its header
    qsizetype size = 0; // header, size field and payload
    qsizetype payload = 0; // where its payload begins
};

// The units of a temporal unit (or of an av1C record's configOBUs); empty when the data is not
// a run of whole units.
QList<Unit> split(const QByteArray &data);
// The first sequence header unit of the data, whole; empty when it has none.
QByteArray sequenceHeader(const QByteArray &data);
// The sequence header of a decoder configuration: an av1C record (MP4, Matroska) or bare
// units.
QByteArray configSequenceHeader(const QByteArray &extradata);
// True when the temporal unit's first frame is a key frame that is shown at once: every
// frame after it decodes without any before it.
bool startsShownKeyFrame(const QByteArray &data);
// The temporal unit with the sequence header in front of its first frame (after any temporal
// delimiter), unless it carries one already.
QByteArray withSequenceHeader(const QByteArray &data, const QByteArray &header);
// The data with its sequence header units replaced by the given one, whole.
QByteArray replaceSequenceHeader(const QByteArray &data, const QByteArray &header);

// One syntax element of a sequence header, named as the AV1 bitstream standard names it.
struct Field
{
    QByteArray name;
    quint32 value = 0;
};
// The syntax elements of a sequence header unit (whole, as sequenceHeader() gives it) in the
// order they are coded, those the header leaves out with the value they are inferred to have;
// empty when it is cut short or not a sequence header.
QList<Field> sequenceHeaderFields(const QByteArray &unit);
// The value of the named field; fallback when it is not there.
quint32 fieldValue(const QList<Field> &fields, const char *name, quint32 fallback = 0);
// The names of the fields that differ between two parsed headers (a decoder reads the two
// alike when there are none).
QStringList differingFields(const QList<Field> &a, const QList<Field> &b);

} // namespace Av1Obus
