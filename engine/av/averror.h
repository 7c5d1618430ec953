#pragma once

#include <QString>

// libav's sentence for an error code (AVERROR(...)), for the end of a message to the user.
QString AvErrorText(int code);
