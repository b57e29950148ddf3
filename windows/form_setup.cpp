#include "form_setup.h"

TFormSetup::TFormSetup(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormSetup");
  setWindowTitle("Nastavení");
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(456, 422);
  move(340, 272);
}

void TFormSetup::ButtonUploadClick() {
  if (UploadLength.load(std::memory_order_acquire) != 0) {
    UploadResultText = QStringLiteral("...Přerušeno");
    UploadAbort.store(true, std::memory_order_release);
  }
}
