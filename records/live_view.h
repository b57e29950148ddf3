// What the live values window shows, worked out without widgets: the texts of one snapshot,
// the stage panel colours, and the layout for a firmware version. The window only copies these
// results into its controls. What differs between firmwares comes from FirmwareFeatures.
#pragma once

#include <cstdint>
#include <string>

#include "live_image.h"

namespace nx480 {

// ---- Number formats (decimal comma by integer arithmetic) ----

// "%3i" of x.
std::string WholeVolts(uint16_t x);
// "%3i" of (x + 5) / 10: tenths of a volt rounded to volts.
std::string TenthsRoundedToVolts(uint16_t x);
// "%i,%i" of x / 10 and x mod 10.
std::string Tenths(uint16_t x);
// "%i,%02i" of the mean of the two readings (hundredths of a hertz).
std::string FrequencyText(uint16_t first, uint16_t second);
// Reconnection countdown in seconds with one decimal; empty when it is 0. Register 4 counts
// steps of the firmware's delay scale (tenths or twentieths of a second).
std::string ReconnectionText(uint16_t reg4, const FirmwareFeatures& firmware);
// Register 9 is (degrees Celsius + 272.1) x 10; "%3.1f" with a decimal comma, e.g. 2971 -> 25,0.
std::string TemperatureText(uint16_t reg9);

// ---- The pending state: left by StoreLiveValues / ClearLiveValues for ShowLiveValues ----

struct LiveTexts {
  std::string U1, U2, U3, F, tRel, Temp, U10m1, U10m2, U10m3;
  uint32_t StageFlags = 0;
  uint16_t Progress10m = 0;
};

// The 0,1 V check box as the decoding sees it (its own visible and checked properties).
struct ResolutionBox {
  bool visible = false;
  bool checked = false;
};

// Formats one good snapshot. Voltages: tenthsInMainRegisters gives tenths of volts in registers
// 0-2 and 5-7 (shown as tenths when the box is checked, else rounded to volts); otherwise with
// the box visible and checked the live values are tenths from registers 10-12 and the 10-minute
// values tenths from 13-15 (whole volts from 5-7 for a firmware with the box but without
// 10-minute tenths); otherwise whole volts from 0-2 and 5-7. Texts and the progress whose
// registers this firmware does not deliver keep their values.
void StoreLive(LiveTexts& texts, const LiveImage& image, uint32_t stageFlags,
               const FirmwareFeatures& firmware, ResolutionBox box);
// A failed snapshot: live texts and the reconnection time empty, stage flags 0; the 10-minute
// texts, the temperature and the progress stay.
void ClearLive(LiveTexts& texts);

// ---- ShowLiveValues' decisions ----

// The stage frame (and the U> frame in the 10-minute area) is red while a countdown runs.
inline bool FrameRed(const LiveTexts& texts) {
  return !texts.tRel.empty();
}
// The countdown text is not shown while any of the tripped bits 8-15 is set.
std::string ShownReconnection(const LiveTexts& texts);

// The nine stage panels, in the order they are coloured.
enum class Stage { Uu1, Uu2, Uo1, Uo2, Uo3, Fu1, Fu2, Fo1, Fo2 };
inline constexpr Stage kStages[] = {Stage::Uu1, Stage::Uu2, Stage::Uo1, Stage::Uo2, Stage::Uo3,
                                    Stage::Fu1, Stage::Fu2, Stage::Fo1, Stage::Fo2};
struct StageBits {
  int pickedUp;
  int tripped;
};
// Picked-up and tripped bit of a stage; for f>> the tripped bit is the lower one (16, 17).
StageBits BitsOf(Stage stage);

// Tripped: red background, black caption. Otherwise button face, red caption when picked up.
struct StageLook {
  bool redBackground = false;
  bool redCaption = false;
  bool operator==(const StageLook&) const = default;
};
StageLook LookOf(Stage stage, uint32_t stageFlags);

// The progress bar position; a count above its maximum (600) shows as a full bar.
inline constexpr int kProgress10mMax = 600;
int ProgressPosition(uint16_t progress);

// temperatureShowsItself brings the temperature up unless it reads exactly "25,0".
bool TemperatureAppears(const FirmwareFeatures& firmware, const std::string& temperatureText);

// ---- The live window's layout by the firmware, applied by TFormOnLine::FormShow ----

struct LiveLayout {
  int clientHeight;         // cut off above the 10-minute area without it
  const char* captionUo2;   // "U>>" (without U>1: "U>")
  const char* captionUo3;   // "U>>>" (without U>1: "U>>")
  bool panelFo2Visible;     // f>>
  bool checkBox01VVisible;  // the 0,1 V box
  bool temperatureVisible;  // HasTemperature
};
LiveLayout LayoutFor(const FirmwareFeatures& firmware, int designClientHeight, bool hasTemperature);

// Font sizes in points of the live and the 10-minute voltage boxes; 0 leaves a size as it is.
struct ValueFontSizes {
  int live;
  int tenMinute;
  bool operator==(const ValueFontSizes&) const = default;
};
// 0,1 V mode (box visible and checked): live boxes 42 pt, the 10-minute boxes too with 10-minute
// tenths. Otherwise all six 55 pt.
ValueFontSizes FontSizesFor(const FirmwareFeatures& firmware, bool resolutionOn);
// Points to pixels at 96 dpi, rounded (55 pt -> 73 px, 42 pt -> 56 px).
inline int PointsToPixels(int points) {
  return (points * 96 + 36) / 72;
}

}  // namespace nx480
