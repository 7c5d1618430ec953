#include "startcut.h"

#include "encoder.h"
#include "timecode.h"

namespace {

// What the encoder refused with, for a job that was partly set up: the source goes again, so
// the encoder holds no half-made job.
Error refused(Encoder &encoder, int input, ErrorCode code, QString sentence = QString())
{
    encoder.removeInputFile(input);
    return Error { code, sentence.isEmpty() ? encoder.lastErrorText() : sentence };
}

// The set-up; the source's input index when it succeeded.
Result<int> setUp(Encoder &encoder, const CutJob &job)
{
    encoder.clearJobs();
    // A conversion reads from the start of the range; a copy finds its own start.
    const QString inputOptions
        = job.isCopy() ? QString() : QStringLiteral("-TimeStart ") + NumberText(job.startSeconds());
    const int input = encoder.addInputFile(job.source.path, inputOptions);
    if (input < 0)
        return Error { ErrorCode::SourceUnreadable, encoder.lastErrorText() };
    const QString path = job.outputPath();
    if (job.outputIsInput())
        return refused(encoder, input, ErrorCode::OutputIsInput,
                       QStringLiteral("The output file is the input file itself: %1\n"
                                      "Writing it would destroy the source. Choose another name "
                                      "or folder.")
                           .arg(path));
    encoder.setCutMode(job.mode);
    encoder.setRanges(job.ranges);
    encoder.setStreams(job.streams);
    encoder.setExactCopy(job.mode == CutMode::ExactCopy);
    encoder.setDeviceLimits(job.encode.device);
    if (encoder.addOutputFile(input, path, job.encode.options) < 0)
        return refused(encoder, input, ErrorCode::NotPossible);
    encoder.setReplaceAllowed(job.replaceAllowed);
    return input;
}

} // namespace

Outcome setUpCut(Encoder &encoder, const CutJob &job)
{
    const Result<int> input = setUp(encoder, job);
    if (!input)
        return input.error();
    return {};
}

Outcome startCut(Encoder &encoder, const CutJob &job)
{
    const Result<int> input = setUp(encoder, job);
    if (!input)
        return input.error();
    if (!encoder.startEncoding())
        return refused(encoder, input.value(), ErrorCode::EncoderFailed);
    return {};
}
