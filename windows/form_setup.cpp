#include "form_setup.h"

TFormSetup::TFormSetup(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormSetup");
  setWindowTitle("Nastavení");
}

void TFormSetup::ButtonUploadClick() {
  if (UploadLength.load(std::memory_order_acquire) != 0) {
    UploadResultText = QStringLiteral("...Přerušeno");
    UploadAbort.store(true, std::memory_order_release);
  }
}
