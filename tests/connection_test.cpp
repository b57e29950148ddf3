// The connection's line settings and version line, and the Windows-1250 text of the relay and
// of exported files.
#include "connection.h"

#include <gtest/gtest.h>

#include <climits>

#include "text_codec.h"

using namespace nx480;

TEST(Connection, LineWordsAndTheRelayLine) {
  EXPECT_EQ(ParityFromText("Lichá"), Parity::Odd);
  EXPECT_EQ(ParityFromText("Sudá"), Parity::Even);
  EXPECT_EQ(ParityFromText("Nulová"), Parity::Mark);
  EXPECT_EQ(ParityFromText("Žádná"), Parity::None);
  EXPECT_EQ(ParityFromText(""), Parity::None);
  EXPECT_EQ(ParityFromText("lichá"), Parity::None);  // case-sensitive
  EXPECT_EQ(StopBitsFromText("1,5"), StopBits::OneAndHalf);
  EXPECT_EQ(StopBitsFromText("1.5"), StopBits::One);
  EXPECT_EQ(StopBitsFromText("2"), StopBits::Two);
  EXPECT_EQ(StopBitsFromText("1"), StopBits::One);

  const LineSettings line = RelayLine();
  EXPECT_EQ(line.baud, 115200);
  EXPECT_EQ(line.parity, Parity::None);
  EXPECT_EQ(line.stopBits, StopBits::One);
  EXPECT_EQ(line.timeouts.readConstant, 100);
  EXPECT_EQ(line.timeouts.readInterval, 22);
}

TEST(Connection, VersionLine) {
  EXPECT_EQ(VersionLine("NX480 -  1.14.d", 1234), "NX480 -  1.14.d,   s/n:001234");
  EXPECT_EQ(VersionLine("NX480 -  1.14.d", 1234567), "NX480 -  1.14.d,   s/n:1234567");
  EXPECT_EQ(VersionLine("NX480 -  1.14.d", 0), "NX480 -  1.14.d");
  EXPECT_EQ(VersionLine("NX480 -  1.14.d", -1), "NX480 -  1.14.d");
  EXPECT_EQ(VersionLine("NX480 -  1.14.d", INT32_MIN), "NX480 -  1.14.d,   s/n:2147483648");
}

TEST(TextCodec, Windows1250BothWays) {
  struct Case {
    const char* cp1250;
    const char* utf8;
  } cases[] = {
      {"NX480", "NX480"},
      {"\x8E\xE1\x64n\xE1", "Žádná"},
      {"P\xF8\x65ru\x9A\x65no", "Přerušeno"},
      {"\xFF\x80\xA0", "˙€\u00A0"},
      {"Na\xE8\xEDt\xE1m", "Načítám"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp1250ToUtf8(c.cp1250), c.utf8) << c.utf8;
    std::string bytes;
    EXPECT_TRUE(Utf8ToCp1250(c.utf8, bytes)) << c.utf8;
    EXPECT_EQ(bytes, c.cp1250) << c.utf8;
  }
  // A byte the code page leaves undefined; a character it does not have.
  EXPECT_EQ(Cp1250ToUtf8("a\x81z"), "a\uFFFDz");
  std::string bytes;
  EXPECT_FALSE(Utf8ToCp1250("a\u4E2Dz", bytes));
  EXPECT_EQ(bytes, "a?z");
}
