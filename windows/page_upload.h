// The settings window's "Upload FW" page: a firmware image loaded, checked and uploaded into
// the relay. Changing the tab, closing the window or the main window's connect button stops a
// running upload.
#pragma once

#include <QString>
#include <atomic>

#include "setup_page.h"

class PageUpload : public SetupPage {
  Q_OBJECT
 public:
  explicit PageUpload(TFormSetup& frame);

  // Non-zero while an upload runs: the image length in bytes.
  nx480::Request UploadLength;
  // Raised to stop a running upload; the transfer ends at its next block.
  std::atomic<bool> UploadAbort{false};
  QString UploadResultText;
  std::vector<nx480::RequestDecl> Requests() override;

  bool Uploading() const { return UploadLength.Pending(); }
  // Starts an upload or, while one runs, stops it.
  void ButtonUploadClick();

  void TabChanging() override;
  void WindowClosing() override;

 private:
  void Abort();
};
