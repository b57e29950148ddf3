// `nx480ctl live`: the live values window's snapshot as a line of text or CSV.
#pragma once

#include <string>

#include "live_view.h"

namespace nx480::ctl {

// One snapshot as the window would show it.
struct LiveSnapshot {
  LiveTexts texts;
  bool good = false;  // false: the snapshot failed, the live values are empty
  FirmwareFeatures firmware = {};
  bool hasTemperature = false;
};

// "U1 230  U2 229  U3 231 V  F 50,00 Hz  tZap 12,5 s  10 min 230 230 231 V (270 s)  T 31,4 °C
// picked up: Uu1  tripped: Fo1", the parts the window would leave empty left out; "no reply"
// for a failed snapshot. Stages by the names of their settings (Uu1 ... Fo2).
std::string LiveTextLine(const LiveSnapshot& snapshot);

// live --csv writes the recording's header and lines (recording.h), so that a stream and a
// day file read alike; a failed snapshot is its time and empty cells:
std::string RecordingGapLine();

// live --csv-semicolon: the CSV title line and one line per snapshot (`time` first), the numbers
// as the window shows them, cells ended by ";", line end CR LF as the history export's.
std::string LiveCsvTitle();
std::string LiveCsvLine(const std::string& time, const LiveSnapshot& snapshot);

}  // namespace nx480::ctl
