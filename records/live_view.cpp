#include "live_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace nx480 {

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

}  // namespace

std::string WholeVolts(uint16_t x) {
  return Format("%3i", int{x});
}

std::string TenthsRoundedToVolts(uint16_t x) {
  return Format("%3i", (int{x} + 5) / 10);
}

std::string Tenths(uint16_t x) {
  return Format("%i,%i", x / 10, x % 10);
}

std::string FrequencyText(uint16_t first, uint16_t second) {
  const auto f = static_cast<uint16_t>((int{first} + int{second}) / 2);
  return Format("%i,%02i", f / 100, f % 100);
}

std::string ReconnectionText(uint16_t reg4, const FirmwareFeatures& firmware) {
  const auto t = static_cast<uint16_t>(int{reg4} * 10 / firmware.delayScale);  // -> tenths
  if (t == 0) return {};
  return Format("%i,%i", t / 10, t % 10);
}

std::string TemperatureText(uint16_t reg9) {
  // Tenths of a degree exactly; the same digits as "%3.1f" of reg9 * 0.1 - 272.1 without the
  // floating-point detour (no "-0,0" at 2721).
  const int tenths = int{reg9} - 2721;
  const int magnitude = std::abs(tenths);
  return Format("%s%i,%i", tenths < 0 ? "-" : "", magnitude / 10, magnitude % 10);
}

void StoreLive(LiveTexts& texts, const LiveImage& image, uint32_t stageFlags,
               const FirmwareFeatures& firmware, ResolutionBox box) {
  auto set3 = [&image](std::string& a, std::string& b, std::string& c, int first,
                       std::string (*format)(uint16_t)) {
    if (!image.Has(first + 2)) return;  // not delivered by this firmware
    a = format(image.Register(first));
    b = format(image.Register(first + 1));
    c = format(image.Register(first + 2));
  };

  // 1. Voltages.
  if (firmware.tenthsInMainRegisters) {
    auto* format = box.checked ? &Tenths : &TenthsRoundedToVolts;
    set3(texts.U1, texts.U2, texts.U3, 0, format);
    set3(texts.U10m1, texts.U10m2, texts.U10m3, 5, format);
  } else if (box.visible && box.checked) {
    set3(texts.U1, texts.U2, texts.U3, 10, &Tenths);
    if (firmware.resolutionBox && !firmware.tenMinuteTenths)
      set3(texts.U10m1, texts.U10m2, texts.U10m3, 5, &WholeVolts);
    else
      set3(texts.U10m1, texts.U10m2, texts.U10m3, 13, &Tenths);
  } else {
    set3(texts.U1, texts.U2, texts.U3, 0, &WholeVolts);
    set3(texts.U10m1, texts.U10m2, texts.U10m3, 5, &WholeVolts);
  }
  // 2. Frequency: the mean of the two readings.
  if (image.Has(3)) texts.F = FrequencyText(image.Register(3), image.SecondFrequency());
  // 3. Reconnection countdown.
  if (image.Has(4)) texts.tRel = ReconnectionText(image.Register(4), firmware);
  // 4. Temperature.
  if (image.Has(9)) texts.Temp = TemperatureText(image.Register(9));
  // 5. Stage flags and the position in the 10-minute window.
  texts.StageFlags = stageFlags;
  if (image.Has(8)) texts.Progress10m = image.Register(8);
}

void ClearLive(LiveTexts& texts) {
  texts.U1.clear();
  texts.U2.clear();
  texts.U3.clear();
  texts.F.clear();
  texts.tRel.clear();
  texts.StageFlags = 0;
}

std::string ShownReconnection(const LiveTexts& texts) {
  return (texts.StageFlags & 0xFF00u) != 0 ? std::string() : texts.tRel;
}

StageBits BitsOf(Stage stage) {
  switch (stage) {
    case Stage::Uu1:
      return {0, 8};
    case Stage::Uu2:
      return {1, 9};
    case Stage::Uo2:
      return {2, 10};
    case Stage::Uo3:
      return {3, 11};
    case Stage::Fu1:
      return {4, 12};
    case Stage::Fu2:
      return {5, 13};
    case Stage::Fo1:
      return {6, 14};
    case Stage::Uo1:
      return {7, 15};
    case Stage::Fo2:
      return {17, 16};
  }
  return {0, 8};
}

StageLook LookOf(Stage stage, uint32_t stageFlags) {
  const StageBits bits = BitsOf(stage);
  if (stageFlags >> bits.tripped & 1u) return {true, false};
  return {false, (stageFlags >> bits.pickedUp & 1u) != 0};
}

int ProgressPosition(uint16_t progress) {
  return std::min<int>(progress, kProgress10mMax);
}

bool TemperatureAppears(const FirmwareFeatures& firmware, const std::string& temperatureText) {
  return firmware.temperatureShowsItself && temperatureText != "25,0";
}

LiveLayout LayoutFor(const FirmwareFeatures& firmware, int designClientHeight,
                     bool hasTemperature) {
  LiveLayout layout{};
  layout.clientHeight =
      firmware.tenMinuteArea ? designClientHeight : designClientHeight * 250 / 401;
  layout.captionUo2 = firmware.uo1Stage ? "U>>" : "U>";
  layout.captionUo3 = firmware.uo1Stage ? "U>>>" : "U>>";
  layout.panelFo2Visible = firmware.fo2Stage;
  layout.checkBox01VVisible = firmware.resolutionBox;
  layout.temperatureVisible = hasTemperature;
  return layout;
}

ValueFontSizes FontSizesFor(const FirmwareFeatures& firmware, bool resolutionOn) {
  if (!resolutionOn) return {55, 55};
  return {42, firmware.tenMinuteTenths ? 42 : 0};
}

}  // namespace nx480
