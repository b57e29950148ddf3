#include "page_upload.h"

using namespace nx480;

PageUpload::PageUpload(TFormSetup& frame) : SetupPage(frame, "TabFirmware") {}

std::vector<RequestDecl> PageUpload::Requests() {
  return {{.slot = kUploadLength, .request = &UploadLength, .clearedOnConnect = false}};
}

void PageUpload::ButtonUploadClick() {
  if (Uploading()) {
    UploadResultText = QStringLiteral("...Přerušeno");
    Abort();
  }
}

void PageUpload::TabChanging() {
  if (Uploading()) Abort();
}

void PageUpload::WindowClosing() {
  if (Uploading()) Abort();
}

void PageUpload::Abort() {
  UploadAbort.store(true, std::memory_order_release);
}
