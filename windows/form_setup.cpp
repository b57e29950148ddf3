#include "form_setup.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>

#include "page_calibration.h"
#include "page_clock.h"
#include "page_parameters.h"
#include "page_upload.h"
#include "settings_record.h"
#include "setup_status.h"
#include "window_services.h"

TFormSetup::TFormSetup(bool serviceMode, QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormSetup");
  setWindowTitle(tr("Nastavení"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(456, 422);
  move(340, 272);
  setFont(SystemFont(11));

  Page1 = new QTabWidget(this);
  Page1->setObjectName("Page1");
  Page1->setGeometry(0, 0, 456, 369);

  LabelMsg = new QLabel(this);
  LabelMsg->setObjectName("LabelMsg");
  LabelMsg->setGeometry(8, 386, 352, 20);
  LabelMsg->setFont(SystemFont(15, true));

  ButtonKonec = new QPushButton(tr("Z&avři"), this);
  ButtonKonec->setObjectName("ButtonKonec");
  ButtonKonec->setGeometry(373, 384, 75, 25);
  ButtonKonec->setAutoDefault(false);

  TimerMsg = new QTimer(this);
  TimerMsg->setObjectName("TimerMsg");
  TimerMsg->setInterval(1000);

  parameters_ = AddPage<PageParameters>(tr("Parametry"));
  clock_ = AddPage<PageClock>(tr("Datum, čas"));
  if (serviceMode) calibration_ = AddPage<PageCalibration>(tr("Kalibrace"));
  upload_ = AddPage<PageUpload>(tr("Upload FW"));
  TabOchrana = parameters_;
  TabDatumCas = clock_;
  TabKalibrace = calibration_;
  TabFirmware = upload_;
  // The write back offered after an upload goes through the parameters page.
  upload_->WriteBackSettings = [this](std::span<const uint8_t> bytes,
                                      nx480::JournalText description) {
    Page1->setCurrentWidget(TabOchrana);
    parameters_->WriteBackup(bytes, std::move(description));
  };
  Page1->setCurrentWidget(parameters_);
  // The parameters page's controls come before the close button.
  QWidget::setTabOrder(parameters_->ButtonSave, ButtonKonec);

  connect(Page1, &QTabWidget::currentChanged, this, [this] { PageChange(); });
  connect(ButtonKonec, &QPushButton::clicked, this, [this] { close(); });
  connect(TimerMsg, &QTimer::timeout, this, [this] { TimerMsgTimer(); });
  TimerMsg->start();
}

template <typename Page>
Page* TFormSetup::AddPage(const QString& caption) {
  auto* page = new Page(*this);
  Page1->addTab(page, caption);
  pages_.push_back(page);
  return page;
}

std::vector<nx480::RequestDecl> TFormSetup::Requests() {
  std::vector<nx480::RequestDecl> all;
  for (SetupPage* page : pages_) {
    for (nx480::RequestDecl& decl : page->Requests()) all.push_back(std::move(decl));
  }
  return all;
}

// Each time the window is shown, and when the main window has a new relay version.
void TFormSetup::FormShow() {
  for (SetupPage* page : pages_) page->ApplyFeatures(Session());
  PageChange();
}

void TFormSetup::PageChange() {
  for (SetupPage* page : pages_) page->TabChanging();
  // The page on view shows its own verdict (none: an empty line), without a second beep.
  const auto* current = qobject_cast<const SetupPage*>(Page1->currentWidget());
  if (const auto kept = verdicts_.find(current); kept != verdicts_.end()) {
    ShowLine(*current, kept->second.text, kept->second.ok);
  } else {
    HideLine();
  }
  if (auto* page = qobject_cast<SetupPage*>(Page1->currentWidget())) page->Activated();
  UpdateCaption();
}

void TFormSetup::UpdateCaption() {
  const PageParameters& p = *parameters_;
  setWindowTitle(QString::fromStdString(nx480::SetupCaption(
      Page1->currentWidget() == parameters_, p.SettingsFileName.toStdString(), p.Modified)));
}

void TFormSetup::ShowStatus(const SetupPage& page, nx480::Outcome outcome) {
  ShowStatusText(page, StatusText(outcome), outcome == nx480::Outcome::Ok);
}

void TFormSetup::ShowDiffering(const SetupPage& page, const std::vector<std::string>& names) {
  QStringList items;
  for (const std::string& name : names) items << QString::fromStdString(name);
  //: The status line after a write read back otherwise; %1 lists the relay's parameter names.
  const auto withNames = [this](const QStringList& list) {
    return tr("Uloženo jinak: %1").arg(list.join(", "));
  };
  QString text = items.isEmpty() ? StatusLineText(kStatusDiffers) : withNames(items);
  // The names that do not fit give way to "…", from the last.
  const QFontMetrics metrics(LabelMsg->font());
  const int room = LabelMsg->contentsRect().width();
  for (qsizetype shown = items.size() - 1; shown >= 0 && metrics.horizontalAdvance(text) > room;
       --shown) {
    QStringList cut = items.first(shown);
    cut << QString::fromUtf8("…");
    text = withNames(cut);
  }
  ShowStatusText(page, text, false);
}

void TFormSetup::ShowNotConnected(const SetupPage& page) {
  ShowStatusText(page, StatusLineText(kStatusNotConnected), false);
}

void TFormSetup::ShowNotWritten(const SetupPage& page) {
  ShowStatusText(page, StatusLineText(kStatusNotWritten), false);
}

void TFormSetup::ShowNotSet(const SetupPage& page) {
  ShowStatusText(page, StatusLineText(kStatusNotSet), false);
}

void TFormSetup::ShowNotCleared(const SetupPage& page) {
  ShowStatusText(page, StatusLineText(kStatusNotCleared), false);
}

void TFormSetup::ShowStatusText(const SetupPage& page, const QString& text, bool ok) {
  ShowStatusText(page, text, ok, !ok);
}

void TFormSetup::ShowStatusText(const SetupPage& page, const QString& text, bool ok, bool beep) {
  verdicts_[&page] = {text, ok};
  ShowLine(page, text, ok);
  if (beep) AppDialogs().beep();
}

void TFormSetup::ClearStatus(const SetupPage& page) {
  verdicts_.erase(&page);
  // The line may show another page's verdict, which came while this one was on view: it stays
  // until an action on its own page or a tab change.
  if (lineOwner_ == &page) HideLine();
}

void TFormSetup::ShowLine(const SetupPage& page, const QString& text, bool ok) {
  // A verdict stays: the start's timer must not hide it.
  TimerMsg->stop();
  lineOwner_ = &page;
  LabelMsg->setText(text);
  QPalette palette = LabelMsg->palette();
  palette.setColor(QPalette::WindowText, ok ? Qt::black : Qt::red);
  LabelMsg->setPalette(palette);
  LabelMsg->setVisible(true);
}

void TFormSetup::HideLine() {
  lineOwner_ = nullptr;
  LabelMsg->setVisible(false);
  LabelMsg->clear();
  QPalette palette = LabelMsg->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  LabelMsg->setPalette(palette);
}

void TFormSetup::TimerMsgTimer() {
  TimerMsg->stop();
  HideLine();
}

void TFormSetup::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    ButtonKonec->click();  // the window's cancel button
    return;
  }
  RelayWindow::keyPressEvent(event);
}

void TFormSetup::closeEvent(QCloseEvent* event) {
  for (SetupPage* page : pages_) page->WindowClosing();
  // Closing ends every page's verdict; one that comes later (a write that ends after the
  // closing) is kept for its page and shown when the window is shown again.
  verdicts_.clear();
  HideLine();
  RelayWindow::closeEvent(event);  // only hides: the window lives as long as the program
}
