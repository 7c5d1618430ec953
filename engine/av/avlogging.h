#pragma once

// libav's messages would only reach the terminal, where the user of a window never sees them
// and where snipora-cut prints its own. Each program (and each test or benchmark that runs
// libav in-process) calls this once, first thing: libav stays quiet, or prints its warnings
// and errors when SNIPORA_AVLOG is set (for finding out why a file fails). Library code never
// sets the level. SVT-AV1, which logs on its own, is told the same through SVT_LOG.
void QuietLibavLogging();
