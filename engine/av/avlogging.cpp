#include "avlogging.h"

#include <QtGlobal>

extern "C" {
#include <libavutil/log.h>
}

void QuietLibavLogging()
{
    av_log_set_level(qEnvironmentVariableIsSet("SNIPORA_AVLOG") ? AV_LOG_WARNING : AV_LOG_QUIET);
}
