// `nx480ctl upload IMAGE.bn6`: the image's checks and the upload's progress.
#pragma once

#include <cstdint>
#include <string>

#include "image_file.h"

namespace nx480::ctl {

// What is wrong with an image, for a message ("" for a good one).
std::string ImageFaultText(const ImageCheck& check, uint64_t bytes);

// The progress bar for a terminal: "[########                ]  33 %  8646/26200 bytes".
std::string ProgressBar(uint32_t bytes, uint32_t total, int width = 40);

// Off a terminal a line at every tenth: the tenth that `bytes` of `total` has reached (0-10).
int ProgressTenth(uint32_t bytes, uint32_t total);

}  // namespace nx480::ctl
