#include "firmware_features.h"

#include <gtest/gtest.h>

using namespace nx480;

namespace {

constexpr bool T = true;
constexpr bool F = false;

class FirmwareFeaturesTable : public testing::TestWithParam<FirmwareFeatures> {};

}  // namespace

TEST_P(FirmwareFeaturesTable, EveryFeatureOfTheFirmwareNumber) {
  const FirmwareFeatures& expected = GetParam();
  const FirmwareFeatures f = FirmwareFeaturesOf(expected.minor);
  EXPECT_EQ(f, expected) << "firmware " << expected.minor;
}

// minor, delay scale, U>1, log interval, log label, history clearing, f>>, 0,1 V box, relay mode,
// 10-minute area, live registers, live coils, tenths in 0-2, 10-minute tenths, temperature
// shows itself.
INSTANTIATE_TEST_SUITE_P(
    Firmware, FirmwareFeaturesTable,
    testing::Values(FirmwareFeatures{0, 10, F, F, F, F, F, F, F, F, 5, 16, F, F, F},
                    FirmwareFeatures{1, 10, F, F, F, F, F, F, F, F, 5, 16, F, F, F},
                    FirmwareFeatures{2, 10, F, F, F, F, F, F, F, F, 5, 16, F, F, F},
                    FirmwareFeatures{3, 10, F, F, F, F, F, F, F, F, 5, 16, F, F, F},
                    FirmwareFeatures{4, 10, F, F, F, F, F, F, F, F, 5, 16, F, F, F},
                    FirmwareFeatures{5, 20, T, T, F, T, F, F, F, T, 9, 16, F, F, F},
                    FirmwareFeatures{6, 20, T, T, T, T, F, F, F, T, 9, 16, F, F, F},
                    FirmwareFeatures{7, 20, T, T, T, T, F, F, F, T, 9, 16, F, F, F},
                    FirmwareFeatures{8, 20, T, T, T, T, F, F, F, T, 9, 16, F, F, F},
                    FirmwareFeatures{9, 20, T, T, T, T, T, F, F, T, 9, 24, F, F, F},
                    FirmwareFeatures{10, 20, T, T, T, T, T, F, F, T, 9, 24, F, F, F},
                    FirmwareFeatures{11, 20, T, T, T, T, T, T, F, T, 13, 24, F, F, F},
                    FirmwareFeatures{12, 20, T, T, T, T, T, T, F, T, 10, 24, T, T, T},
                    FirmwareFeatures{13, 20, T, T, T, T, T, T, F, T, 16, 24, F, T, F},
                    FirmwareFeatures{14, 20, T, T, T, T, T, T, T, T, 16, 24, F, T, T},
                    FirmwareFeatures{15, 20, T, T, T, T, T, T, T, T, 16, 24, F, T, T}),
    [](const testing::TestParamInfo<FirmwareFeatures>& info) {
      return "x" + std::to_string(info.param.minor);
    });
