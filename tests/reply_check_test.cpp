// The reply check against fixed frames: each row a request, what came back, and the verdict.
#include "reply_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frames.h"

using namespace nx480;

namespace {

// "01 03 10 ..." -> bytes; "+" at the end appends the frame's CRC, low byte first.
std::vector<uint8_t> Frame(std::string hex) {
  const bool crc = !hex.empty() && hex.back() == '+';
  if (crc) hex.pop_back();
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  if (crc) {
    const uint16_t sum = ModbusCrc(out.data(), out.size());
    out.push_back(static_cast<uint8_t>(sum & 0xFF));
    out.push_back(static_cast<uint8_t>(sum >> 8));
  }
  return out;
}

std::string Zeros(int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += " 00";
  return s;
}

}  // namespace

TEST(ReplyCheck, VerdictsForFramesThatComeBack) {
  const std::string calibration = "01 03 00 18 00 08";  // 21-byte reply
  const std::string coils16 = "01 01 00 00 00 10";      // 7-byte reply
  const std::string write = "01 10 00 00 00 08 10";     // 8-byte acknowledgement
  struct Case {
    const char* what;
    std::string request;
    std::string reply;
    size_t expected;
    LinkError error;
    uint8_t code;
  } cases[] = {
      {"good read", calibration, "01 03 10" + Zeros(16) + "+", 21, LinkError::None, 0},
      {"bad CRC", calibration, "01 03 10" + Zeros(16) + " 00 00", 21, LinkError::BadCrc, 0},
      {"nothing", calibration, "", 21, LinkError::NoReply, 0},
      {"one byte short", calibration, "01 03 10" + Zeros(15) + "+", 21, LinkError::WrongLength, 0},
      {"another slave", calibration, "02 03 10" + Zeros(16) + "+", 21, LinkError::WrongSlave, 0},
      {"byte count of another read", calibration, "01 03 0F" + Zeros(16) + "+", 21,
       LinkError::WrongByteCount, 0},
      // A frequency reply (function 0x04) has the coil reply's length: the function tells.
      {"same length, another function", coils16, "01 04 02 13 88+", 7, LinkError::WrongFunction, 0},
      {"good coils", coils16, "01 01 02 03 00+", 7, LinkError::None, 0},
      {"exception keeps its code", calibration, "01 83 02+", 21, LinkError::Exception, 2},
      {"exception to another function", calibration, "01 90 02+", 21, LinkError::WrongLength, 0},
      {"exception from another slave", calibration, "02 83 02+", 21, LinkError::WrongLength, 0},
      {"exception with a bad CRC", calibration, "01 83 02 00 00", 21, LinkError::WrongLength, 0},
      {"acknowledgement", write, "01 10 00 00 00 08+", 8, LinkError::None, 0},
      {"refused write", write, "01 90 03+", 8, LinkError::Exception, 3},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> request = Frame(c.request);
    const std::vector<uint8_t> reply = Frame(c.reply);
    const ReplyVerdict v = JudgeReply(request, reply, c.expected);
    EXPECT_EQ(v.error, c.error) << c.what << ": " << LinkErrorText(v.error);
    EXPECT_EQ(v.exceptionCode, c.code) << c.what;
  }
}

TEST(ReplyCheck, IdentificationAndEcho) {
  const std::vector<uint8_t> identify = Frame("01 11+");
  const std::string name = " 4E 58 34 38 30" + Zeros(11);
  EXPECT_EQ(JudgeIdentification(identify, Frame("01 11 18" + name + Zeros(8) + "+")).error,
            LinkError::None);  // 29 bytes
  EXPECT_EQ(JudgeIdentification(identify, Frame("01 11 18" + name + Zeros(7) + "+")).error,
            LinkError::WrongLength);  // 28 bytes
  EXPECT_EQ(JudgeIdentification(identify, Frame("01 03 18" + name + Zeros(9) + "+")).error,
            LinkError::WrongFunction);

  const std::vector<uint8_t> request = Frame("01 10 00 08 00 10 20");
  EXPECT_TRUE(EchoMatches(request, Frame("01 10 00 08 00 10+")));
  EXPECT_FALSE(EchoMatches(request, Frame("01 10 00 08 00 11+")));  // quantity
  EXPECT_FALSE(EchoMatches(request, Frame("01 10 00 09 00 10+")));  // first register
}

// The length a reply's first bytes tell, which ends the read as soon as the reply is whole.
TEST(ReplyCheck, FrameLengthFromTheFirstBytes) {
  struct Case {
    const char* what;
    std::string head;
    size_t exception, identification;
  } cases[] = {
      {"nothing yet", "", 0, 0},
      {"address only", "01", 0, 0},
      {"exception", "01 91", 5, 5},
      {"exception of a read", "01 83 02", 5, 5},
      {"identification, count not yet in", "01 11", 0, 0},
      {"29-byte identification", "01 11 18", 0, 29},
      {"30-byte identification", "01 11 19 4E", 0, 30},
      // A count too small for an identification is not trusted to end the read early.
      {"28 bytes claimed", "01 11 17", 0, 0},
      {"count 0", "01 11 00", 0, 0},
      // Longer than the read may take: the read's own limit stops it.
      {"count 255", "01 11 FF", 0, 260},
      {"a read reply", "01 03 10", 0, 0},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> head = Frame(c.head);
    EXPECT_EQ(ExceptionReplyLength(head.data(), head.size()), c.exception) << c.what;
    EXPECT_EQ(IdentificationReplyLength(head.data(), head.size()), c.identification) << c.what;
  }
}
