#pragma once

#include "cutjob.h"
#include "result.h"

class Encoder;

// The one way a cut job is handed to an encoder. setUpCut() clears the encoder's jobs, adds the
// source (read from the range's start for a conversion; a copy reads the whole file and cuts
// it itself), tells the mode and the device limits, adds the output and gives the consent to
// replace; startCut() does the same and starts the run, whose outcome arrives as
// Encoder::encoderFinished().
//
// On failure nothing runs, the encoder holds no half-made job, and the error's code says which
// step refused:
//   SourceUnreadable  the source cannot be opened (the sentence is the encoder's reason)
//   OutputIsInput     the output path names the source itself
//   NotPossible       the output cannot be set up (the encoder's reason)
//   EncoderFailed     the run could not start (the encoder's reason)
Outcome setUpCut(Encoder &encoder, const CutJob &job);
Outcome startCut(Encoder &encoder, const CutJob &job);
