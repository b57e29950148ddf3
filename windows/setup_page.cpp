#include "setup_page.h"

SetupPage::SetupPage(TFormSetup& frame, const char* objectName) : frame_(frame) {
  setObjectName(objectName);
}
