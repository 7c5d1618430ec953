#pragma once

#include "av1obus.h"
#include "copysource.h"
#include "cutplanner.h"
#include "edgeencoder.h"
#include "nalrewrite.h"
#include "videoscan.h"

#include <QStringList>

#include <optional>

// Parameter sets of an edge's encoder under ids of their own, and the id its slices use.
struct EdgeSets
{
    QList<QByteArray> units;
    int ppsId = -1;
};

// A head that leads into an H.264 open-GOP key frame (a recovery point, not an IDR): its
// slices follow the source's sequence parameter set, numbered so that the copied frame
// continues them.
struct Splice
{
    bool active = false;
    NalRewrite::H264Sps encoderSps;
    NalRewrite::H264Pps encoderPps;
    NalRewrite::H264Sps target;
    QByteArray targetUnit; // the source's SPS, as it stands in the output
    QByteArray raisedUnit; // that SPS declaring the head's higher level, when it needs one
    QByteArray pps; // the head's PPS under its id, on the source's SPS
    int ppsId = -1;
    int keyFrameNum = 0;
    int keyPocLsb = 0;
    int frames = 0; // in the head
    // The pictures the last head frame marks unused, so that the copied frames find the
    // references they expect (difference_of_pic_nums_minus1 of each).
    QList<int> unmark;
};

// The re-encoded edges of an exact copy, ready for the packet copy: the head's encoder open,
// the tail's options and the parameter sets its first opening gave (it is opened again when its
// frames come), and how the new frames' packets are rewritten for the output.
struct VideoEdges
{
    std::optional<EdgeEncoder> head;
    EdgeEncoder::Options tailOptions;
    QByteArray tailExtradata;
    Splice splice;
    EdgeSets headSets;
    EdgeSets tailSets;
    bool headDone = true;
    bool tailDone = true;
    bool raising = false; // in the copy, before its first IDR, with the splice's raised SPS
    qint64 delay = 0; // the source's decoding delay at the copy start
    // AV1: the source's sequence header and its fields, and those in which the new frames'
    // header differs from it (none: the source's header stands in for theirs).
    QByteArray av1Header;
    QList<Av1Obus::Field> av1Fields;
    QStringList av1Differences;

    // An encoded packet of an edge as it stands in the output (Annex B); empty when a slice
    // cannot be rewritten.
    QByteArray outputPacket(AVCodecID codec, bool configInStream, bool isHead, int index,
                            const QByteArray &data);

private:
    QByteArray av1Packet(const QByteArray &data);
};

// Opens the edges' encoders for a plan and gives the new frames parameter sets that stand
// beside the source's: H.264 ids the source does not use, HEVC sets renamed likewise, one
// decoder configuration listing both, the level the new frames need.
class EdgeSetup
{
public:
    EdgeSetup(const CopySource &source, const ScanResult &scan, const CutPlan &plan,
              const std::atomic<bool> &cancel, CopyNotes &notes)
        : m_source(source)
        , m_scan(scan)
        , m_plan(plan)
        , m_cancel(cancel)
        , m_notes(notes)
    {
    }

    enum class State {
        Ready, // the edges are set up
        SpliceRefused, // the head cannot lead into its open-GOP key frame: plan without it
    };
    // NotPossible when the new frames find no parameter set ids or cannot be encoded.
    Result<State> setUp(VideoEdges *edges, CutWriter::VideoOverride *video);

private:
    QList<int> usedParameterSetIds() const;
    QByteArray av1SourceHeader() const;
    double edgeBitRate(const CutPlan::Edge &edge) const;
    Outcome openEdges(VideoEdges *edges, std::optional<EdgeEncoder> *tail, bool splice);
    bool setUpSplice(const EdgeEncoder &head, Splice *splice) const;
    bool spliceReferences(const NalRewrite::H264Slice &key, const QList<NalRewrite::H264Sps> &spss,
                          const QList<NalRewrite::H264Pps> &ppss, Splice *splice) const;
    bool setUpHevcSets(const EdgeEncoder &edge, EdgeSets *sets, const EdgeSets *other) const;
    int noteLevel(const VideoEdges &edges, const std::optional<EdgeEncoder> &tail);
    QByteArray avcConfig(const VideoEdges &edges, const std::optional<EdgeEncoder> &tail,
                         int level) const;

    const CopySource &m_source;
    const ScanResult &m_scan;
    const CutPlan &m_plan;
    const std::atomic<bool> &m_cancel;
    CopyNotes &m_notes;
};
