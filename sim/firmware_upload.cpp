#include "firmware_upload.h"

namespace nx480::sim {

const char* UploadModeName(UploadMode mode) {
  switch (mode) {
    case UploadMode::kNormal:
      return "normal";
    case UploadMode::kReceiving:
      return "receiving";
    case UploadMode::kRestarting:
      return "restarting";
  }
  return "?";
}

void FirmwareUpload::Start() {
  mode_ = UploadMode::kReceiving;
  image_.assign(0x10000, 0);
  written_.assign(0x10000, false);
  first_frame_.reset();
  frames_ = 0;
  refused_left_ = 0;
}

void FirmwareUpload::Cancel() {
  if (mode_ == UploadMode::kReceiving) mode_ = UploadMode::kNormal;
  image_.clear();
  written_.clear();
  first_frame_.reset();
}

FirmwareUpload::Verdict FirmwareUpload::Data(std::uint16_t first,
                                             std::span<const std::uint16_t> values) {
  if (values.size() != kUploadFrameWords) return Verdict::kBadFrame;
  ++frames_;
  if (faults_.refuse_at > 0 && frames_ == faults_.refuse_at) {
    faults_.refuse_at = 0;
    refused_left_ = 2;
  }
  if (refused_left_ > 0) {
    --refused_left_;
    return Verdict::kRefused;
  }
  if (!first_frame_) first_frame_ = first;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::size_t at = (first + i) & 0xFFFFU;
    image_[at] = values[i];
    written_[at] = true;
  }
  if (faults_.lose_reply_at > 0 && frames_ == faults_.lose_reply_at) {
    faults_.lose_reply_at = 0;
    return Verdict::kLoseReply;
  }
  return Verdict::kAccepted;
}

std::uint16_t FirmwareUpload::Status() {
  if (faults_.busy_once) {
    faults_.busy_once = false;
    return kUploadBusy;
  }
  return kUploadReady;
}

bool FirmwareUpload::Run(Steady::time_point now, std::chrono::milliseconds restart_time) {
  if (mode_ != UploadMode::kReceiving) return false;
  mode_ = UploadMode::kRestarting;
  restart_end_ = now + restart_time;
  return true;
}

bool FirmwareUpload::Silent(Steady::time_point now) const {
  return mode_ == UploadMode::kRestarting && now < restart_end_;
}

std::optional<FirmwareUpload::Steady::time_point> FirmwareUpload::FinishRestart(
    Steady::time_point now) {
  if (mode_ != UploadMode::kRestarting || now < restart_end_) return std::nullopt;
  mode_ = UploadMode::kNormal;
  return restart_end_;
}

std::uint16_t FirmwareUpload::Word(std::uint16_t address) const {
  return address < image_.size() ? image_[address] : 0;
}

bool FirmwareUpload::Written(std::uint16_t address) const {
  return address < written_.size() && written_[address];
}

std::uint8_t FirmwareUpload::Byte(std::uint32_t address) const {
  const std::uint16_t word = Word(static_cast<std::uint16_t>(address / 2 & 0xFFFFU));
  return static_cast<std::uint8_t>(address % 2 == 0 ? word & 0xFF : word >> 8);
}

std::string FirmwareUpload::Text(std::uint32_t offset, std::uint32_t size) const {
  std::string text;
  if (!first_frame_) return text;
  const std::uint32_t start = 2U * *first_frame_ + offset;
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint8_t c = Byte(start + i);
    if (c == 0) break;
    text.push_back(static_cast<char>(c));
  }
  return text;
}

}  // namespace nx480::sim
