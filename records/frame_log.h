// The link's frame trace as a Qt logging category for raw frames, "nx480.link.frames": off by
// default, switched on by the usual logging rules, e.g.
//   QT_LOGGING_RULES="nx480.link.frames.debug=true" nx480-pc
#pragma once

#include <QLoggingCategory>
#include <QString>

#include "frame_trace.h"

Q_DECLARE_LOGGING_CATEGORY(lcFrames)

// One line per frame: direction, time since the request, the transaction, the frame, the
// verdict and the bytes in hex. E.g.
//   "<- +3.1 ms LiveRequest/live registers x16 good: 01 04 20 00 E6 ..."
QString FormatFrame(const nx480::FrameEvent& event);

// The hook for TModbus::SetTraceHook: formats and logs only while the category is enabled.
nx480::FrameTraceHook FrameLogHook();
