// Modbus RTU frame helpers: CRC, byte-order conversion and the fixed request templates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace nx480 {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
// Appended to a frame low byte first; over a whole good frame, CRC included, it gives 0.
uint16_t ModbusCrc(const uint8_t* data, size_t length);

// Copies `words` 16-bit words from `src` to `dst`, exchanging the two bytes of each word.
// Host-order (little-endian) records become wire order (high byte first) and back.
void CopySwapped(void* dst, const void* src, size_t words);

// A request template: the fixed leading bytes of a request and the reply length read for it.
struct FrameTemplate {
  const char* name;
  std::array<uint8_t, 9> bytes;
  uint8_t length;       // leading bytes copied into the request buffer
  uint8_t sent;         // whole request on the wire, CRC included
  uint8_t replyLength;  // bytes read for the reply; 0 when no reply is read
};

// The relay's request templates. Sizes: reads 6 bytes, write-multiple requests 7 (their byte
// count included), the relay-mode command 8, the fixed upload commands 9, identification 2.
namespace templates {
inline constexpr FrameTemplate kLiveRegisters5{
    "live registers x5", {0x01, 0x04, 0x00, 0x00, 0x00, 0x05}, 6, 8, 15};
inline constexpr FrameTemplate kLiveRegisters9{
    "live registers x9", {0x01, 0x04, 0x00, 0x00, 0x00, 0x09}, 6, 8, 23};
inline constexpr FrameTemplate kLiveRegisters13{
    "live registers x13", {0x01, 0x04, 0x00, 0x00, 0x00, 0x0D}, 6, 8, 31};
inline constexpr FrameTemplate kLiveRegisters10{
    "live registers x10", {0x01, 0x04, 0x00, 0x00, 0x00, 0x0A}, 6, 8, 25};
inline constexpr FrameTemplate kLiveRegisters16{
    "live registers x16", {0x01, 0x04, 0x00, 0x00, 0x00, 0x10}, 6, 8, 37};
inline constexpr FrameTemplate kCoils16{
    "protection coils x16", {0x01, 0x01, 0x00, 0x00, 0x00, 0x10}, 6, 8, 7};
inline constexpr FrameTemplate kCoils24{
    "protection coils x24", {0x01, 0x01, 0x00, 0x00, 0x00, 0x18}, 6, 8, 8};
inline constexpr FrameTemplate kFrequencyAgain{
    "frequency again", {0x01, 0x04, 0x00, 0x03, 0x00, 0x01}, 6, 8, 7};
inline constexpr FrameTemplate kParamsReadLow{
    "parameters read, low", {0x01, 0x03, 0x00, 0x00, 0x00, 0x08}, 6, 8, 21};
inline constexpr FrameTemplate kParamsReadHigh{
    "parameters read, high", {0x01, 0x03, 0x00, 0x08, 0x00, 0x10}, 6, 8, 37};
inline constexpr FrameTemplate kParamsWriteLow{
    "parameters write, low", {0x01, 0x10, 0x00, 0x00, 0x00, 0x08, 0x10}, 7, 25, 8};
inline constexpr FrameTemplate kParamsWriteHigh{
    "parameters write, high", {0x01, 0x10, 0x00, 0x08, 0x00, 0x10, 0x20}, 7, 41, 8};
inline constexpr FrameTemplate kClockRead{
    "clock read", {0x01, 0x03, 0x00, 0x40, 0x00, 0x04}, 6, 8, 13};
inline constexpr FrameTemplate kClockWrite{
    "clock write", {0x01, 0x10, 0x00, 0x40, 0x00, 0x04, 0x08}, 7, 17, 8};
inline constexpr FrameTemplate kCalibrationRead{
    "calibration read", {0x01, 0x03, 0x00, 0x18, 0x00, 0x08}, 6, 8, 21};
inline constexpr FrameTemplate kCalibrationWrite{
    "calibration write", {0x01, 0x10, 0x00, 0x18, 0x00, 0x08, 0x10}, 7, 25, 8};
inline constexpr FrameTemplate kClearHistory{
    "clear-history command", {0x01, 0x10, 0x80, 0x01, 0x00, 0x01, 0x02}, 7, 11, 8};
inline constexpr FrameTemplate kRelayMode{
    "relay mode", {0x01, 0x0F, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00}, 8, 10, 8};
inline constexpr FrameTemplate kIdentification{"identification", {0x01, 0x11}, 2, 4, 30};
inline constexpr FrameTemplate kHistoryPointer{
    "history pointer", {0x01, 0x03, 0x00, 0x44, 0x00, 0x02}, 6, 8, 9};
inline constexpr FrameTemplate kHistoryRecord{
    "history record", {0x01, 0x03, 0x00, 0x00, 0x00, 0x08}, 6, 8, 21};
inline constexpr FrameTemplate kUploadStart{
    "upload start", {0x01, 0x10, 0x80, 0x00, 0x00, 0x01, 0x02, 0x00, 0x01}, 9, 11, 8};
inline constexpr FrameTemplate kUploadBlock{
    "upload block", {0x01, 0x10, 0x00, 0x00, 0x00, 0x10, 0x20}, 7, 41, 8};
inline constexpr FrameTemplate kUploadStatus{
    "upload status", {0x01, 0x03, 0x80, 0x00, 0x00, 0x01}, 6, 8, 7};
inline constexpr FrameTemplate kUploadRun{
    "upload run", {0x01, 0x10, 0x80, 0x00, 0x00, 0x01, 0x02, 0x00, 0x02}, 9, 11, 0};
inline constexpr FrameTemplate kUploadAbort{
    "upload abort", {0x01, 0x10, 0x80, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00}, 9, 11, 8};

inline constexpr std::array<const FrameTemplate*, 26> kAll{
    &kLiveRegisters5,   &kLiveRegisters9,  &kLiveRegisters13, &kLiveRegisters10, &kLiveRegisters16,
    &kCoils16,          &kCoils24,         &kFrequencyAgain,  &kParamsReadLow,   &kParamsReadHigh,
    &kParamsWriteLow,   &kParamsWriteHigh, &kClockRead,       &kClockWrite,      &kCalibrationRead,
    &kCalibrationWrite, &kClearHistory,    &kRelayMode,       &kIdentification,  &kHistoryPointer,
    &kHistoryRecord,    &kUploadStart,     &kUploadBlock,     &kUploadStatus,    &kUploadRun,
    &kUploadAbort};
}  // namespace templates

// What a transaction patches into or appends to its template.
struct RequestPatch {
  int address = -1;     // >= 0: overwrite the address bytes 2 (high) and 3 (low)
  int byteOffset = -1;  // >= 0: overwrite the byte at this offset with byteValue
  uint8_t byteValue = 0;
  const uint16_t* words = nullptr;  // host-order words placed from byte 7 on, high byte first
  size_t wordCount = 0;
};

// Builds the request in `buffer` (at least 64 bytes): template, patches, CRC low byte first.
// Returns the request length as sent; 0 if the request would not fit.
size_t BuildFrame(std::span<uint8_t> buffer, const FrameTemplate& tmpl,
                  const RequestPatch& patch = {});

// Regions of the worker's 256-byte reply buffer: the main reply, the second frequency reading
// and the coil reply of the live values transaction.
inline constexpr size_t kMainReply = 0;
inline constexpr size_t kFrequencyReply = 200;
inline constexpr size_t kCoilReply = 208;

// Big-endian 16-bit value at p.
inline uint16_t WireWord(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

}  // namespace nx480
