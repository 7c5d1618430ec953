#include "avlogging.h"

#include <QByteArray>
#include <QtGlobal>

extern "C" {
#include <libavutil/log.h>
}

void QuietLibavLogging()
{
    const bool verbose = qEnvironmentVariableIsSet("SNIPORA_AVLOG");
    av_log_set_level(verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
    // SVT-AV1 (an encoder of the exact copy's new frames) prints through its own logger, whose
    // level it reads from the environment when it first starts: errors only, unless asked.
    if (!qEnvironmentVariableIsSet("SVT_LOG"))
        qputenv("SVT_LOG", QByteArray(verbose ? "2" : "1"));
}
