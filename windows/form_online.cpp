#include "form_online.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "form_trend.h"
#include "modbus.h"
#include "window_services.h"

namespace {

const QColor kGreen(0, 128, 0);
const QColor kNavy(0, 0, 128);
const QColor kBlack(0, 0, 0);

// Sets the colour in every colour group, so that a disabled panel shows it too.
void SetColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  if (palette.color(QPalette::Active, role) == colour &&
      palette.color(QPalette::Inactive, role) == colour &&
      palette.color(QPalette::Disabled, role) == colour)
    return;
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

void SetText(QLineEdit* edit, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (edit->text() != value) edit->setText(value);
}

void SetPointSize(QLineEdit* edit, int points) {
  if (points <= 0) return;
  QFont font = edit->font();
  font.setPixelSize(nx480::PointsToPixels(points));
  edit->setFont(font);
}

// A stage panel: a raised bevel with a centred caption. The caption may run over the bevel
// rather than be cut off where the system font is wider than the design font ("U>>>").
class StagePanel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextDontClip, text());
  }
};

// A stage's caption in the panel's bold font, made smaller where the caption would not fit
// ("U>>>" in its 33-pixel panel).
void SetCaption(QLabel* panel, const QString& caption) {
  QFont font = SystemFont(11, true);
  while (font.pixelSize() > 7 &&
         QFontMetrics(font).horizontalAdvance(caption) > panel->contentsRect().width())
    font.setPixelSize(font.pixelSize() - 1);
  panel->setFont(font);
  panel->setText(caption);
}

// The window's pieces as the builders make them.
QLabel* NewLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  l->setFont(SystemFont(13, true));
  // Labels size themselves to their text: at least the design width, wider where the system
  // font needs it.
  geometry.setWidth(std::max(geometry.width(), l->sizeHint().width()));
  l->setGeometry(geometry);
  return l;
}

QLineEdit* NewEdit(QWidget* parent, const char* name, QRect geometry, const QFont& font,
                   const QColor& colour, bool readOnly) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setGeometry(geometry);
  e->setFont(font);
  e->setReadOnly(readOnly);
  SetColour(e, QPalette::Text, colour);
  return e;
}

QFrame* NewFrame(QWidget* parent, const char* name, QRect geometry, int bevels) {
  auto* f = new QFrame(parent);
  f->setObjectName(name);
  f->setGeometry(geometry);
  f->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  f->setLineWidth(bevels);
  f->setAutoFillBackground(true);
  SetColour(f, QPalette::Window, TFormOnLine::ButtonFace());
  return f;
}

QLabel* NewStagePanel(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* p = new StagePanel(parent);
  p->setObjectName(name);
  p->setGeometry(geometry);
  p->setFrameStyle(QFrame::Panel | QFrame::Raised);
  p->setLineWidth(1);
  p->setAlignment(Qt::AlignCenter);
  SetCaption(p, QString::fromUtf8(caption));
  p->setAutoFillBackground(true);
  SetColour(p, QPalette::Window, TFormOnLine::ButtonFace());
  SetColour(p, QPalette::WindowText, kBlack);
  p->setEnabled(false);
  return p;
}

}  // namespace

TFormOnLine::TFormOnLine(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormOnLine");
  setWindowTitle(tr("Aktuální hodnoty"));
  // Fixed border without border icons: the window comes and goes with the connection.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(560, 401);
  move(426, 104);
  setFont(SystemFont(13));
  designClientHeight_ = height();

  // In this order: it is the order of the window's children, so of their stacking.
  BuildPresentValues();
  BuildStagePanel();
  BuildAveragePanel();
  BuildTemperatureAndNotice();
  BuildTrend();
  ChainTabOrder();

  // toggled, not clicked: a change made by the program (service mode checks the box) runs the
  // handler too, not only the user's click.
  connect(CheckBox01V, &QCheckBox::toggled, this, [this] { CheckBox01VClick(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(200);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TFormOnLine::BuildPresentValues() {
  LabelU1 = NewLabel(this, "LabelU1", "U1[V]", {80, 8, 40, 16});
  LabelU2 = NewLabel(this, "LabelU2", "U2[V]", {256, 8, 40, 16});
  LabelU3 = NewLabel(this, "LabelU3", "U3[V]", {448, 8, 40, 16});
  LabelF = NewLabel(this, "LabelF", "F[Hz]", {80, 128, 38, 16});
  LabeltRel = NewLabel(this, "LabeltRel", " tZap[s]", {200, 216, 54, 16});
  LabelStav = NewLabel(this, "LabelStav", tr("Stav ochrany"), {336, 128, 91, 16});
  LabelTemp = NewLabel(this, "LabelTemp", tr("Teplota[°C]"), {384, 216, 80, 16});
  LabelTemp->hide();

  CheckBox01V = new QCheckBox("0,1V", this);
  CheckBox01V->setObjectName("CheckBox01V");
  CheckBox01V->setGeometry(16, 8, 65, 17);
  CheckBox01V->hide();

  const QFont big = ArialFont(73, true);  // 55 pt
  EditU1 = NewEdit(this, "EditU1", {16, 32, 161, 94}, big, kGreen, true);
  EditU2 = NewEdit(this, "EditU2", {200, 32, 161, 94}, big, kGreen, true);
  EditU3 = NewEdit(this, "EditU3", {384, 32, 161, 94}, big, kGreen, true);
  EditF = NewEdit(this, "EditF", {16, 152, 161, 79}, ArialFont(61, true), kNavy, true);
  // Outside the client area: it holds the keyboard focus so that keys reach FormKeyDown.
  EditFocus = NewEdit(this, "EditFocus", {7120, 40, 9, 24}, font(), kBlack, false);
  EditFocus->installEventFilter(this);
  EdittRel = NewEdit(this, "EdittRel", {256, 208, 105, 30}, ArialFont(19, true), kBlack, false);
}

void TFormOnLine::BuildStagePanel() {
  PanelOchr = NewFrame(this, "PanelOchr", {200, 152, 345, 41}, 1);
  PanelUu1 = NewStagePanel(PanelOchr, "PanelUu1", "U<", {6, 6, 34, 28});
  PanelUu2 = NewStagePanel(PanelOchr, "PanelUu2", "U<<", {49, 6, 34, 28});
  PanelUo2 = NewStagePanel(PanelOchr, "PanelUo2", "U>>", {90, 6, 34, 28});
  PanelUo3 = NewStagePanel(PanelOchr, "PanelUo3", "U>>>", {134, 6, 33, 28});
  PanelFu1 = NewStagePanel(PanelOchr, "PanelFu1", "f<", {176, 6, 34, 28});
  PanelFu2 = NewStagePanel(PanelOchr, "PanelFu2", "f<<", {219, 6, 35, 28});
  PanelFo1 = NewStagePanel(PanelOchr, "PanelFo1", "f>", {262, 6, 34, 28});
  PanelFo2 = NewStagePanel(PanelOchr, "PanelFo2", "f>>", {302, 6, 34, 28});
}

void TFormOnLine::BuildAveragePanel() {
  const QFont big = ArialFont(73, true);  // 55 pt, as the present values
  Panel10m = NewFrame(this, "Panel10m", {0, 248, 561, 153}, 2);
  Label10min = NewLabel(Panel10m, "Label10min", tr("10minutové průměry"), {200, 30, 139, 16});
  Edit10mU1 = NewEdit(Panel10m, "Edit10mU1", {16, 50, 161, 94}, big, kGreen, true);
  Edit10mU2 = NewEdit(Panel10m, "Edit10mU2", {200, 50, 161, 94}, big, kGreen, true);
  Edit10mU3 = NewEdit(Panel10m, "Edit10mU3", {384, 50, 161, 94}, big, kGreen, true);
  ProgressBar10m = new QProgressBar(Panel10m);
  ProgressBar10m->setObjectName("ProgressBar10m");
  ProgressBar10m->setGeometry(0, 144, 561, 9);
  ProgressBar10m->setRange(0, nx480::kProgress10mMax);
  ProgressBar10m->setValue(0);
  ProgressBar10m->setTextVisible(false);
  PanelOchr2 = NewFrame(Panel10m, "PanelOchr2", {499, 3, 46, 41}, 1);
  PanelUo1 = NewStagePanel(PanelOchr2, "PanelUo1", "U>", {5, 6, 34, 28});
}

void TFormOnLine::BuildTemperatureAndNotice() {
  EditTemp = NewEdit(this, "EditTemp", {472, 208, 73, 30}, ArialFont(19, true), kBlack, false);
  EditTemp->hide();

  // In the free space between "F[Hz]" and "Stav ochrany".
  LabelRecording = new QLabel(this);
  LabelRecording->setObjectName("LabelRecording");
  LabelRecording->setGeometry(124, 128, 208, 16);
  LabelRecording->setFont(SystemFont(11));
  SetColour(LabelRecording, QPalette::WindowText, Red());
  LabelRecording->hide();
}

void TFormOnLine::BuildTrend() {
  // In the free space between "U2[V]" and "U3[V]" above the values.
  ButtonTrend = new QPushButton(tr("&Průběh"), this);
  ButtonTrend->setObjectName("ButtonTrend");
  ButtonTrend->setGeometry(328, 5, 96, 24);
  ButtonTrend->setFocusPolicy(Qt::NoFocus);  // keys stay with EditFocus
  connect(ButtonTrend, &QPushButton::clicked, this, [this] { ButtonTrendClick(); });
  trend_ = std::make_unique<TFormTrend>();
  // The trend reads the day files: what the recorder still buffers goes there first.
  trend_->FlushRecording = [this] {
    if (recorder_ && !recorder_->Stopped() && !recorder_->Flush())
      ShowRecordingNotice(nx480::RecordingStoppedText(recorder_->Error()));
  };
}

void TFormOnLine::ChainTabOrder() {
  setTabOrder(EditFocus, EditU1);
  setTabOrder(EditU1, EditU2);
  setTabOrder(EditU2, EditU3);
  setTabOrder(EditU3, EditF);
  setTabOrder(EditF, EdittRel);
  setTabOrder(EdittRel, Edit10mU1);
  setTabOrder(Edit10mU1, Edit10mU2);
  setTabOrder(Edit10mU2, Edit10mU3);
  setTabOrder(Edit10mU3, CheckBox01V);
  setTabOrder(CheckBox01V, EditTemp);
  EditFocus->setFocus();
}

TFormOnLine::~TFormOnLine() = default;

void TFormOnLine::ButtonTrendClick() {
  if (trend_->isVisible()) {
    trend_->FormShow();  // the range again up to now, the settings again
  } else {
    trend_->PlaceBeside(this);
    trend_->show();
  }
  trend_->raise();
  trend_->activateWindow();
}

QColor TFormOnLine::ButtonFace() {
  return QApplication::palette().color(QPalette::Button);
}

std::vector<nx480::RequestDecl> TFormOnLine::Requests() {
  return {{.slot = nx480::kLiveRequest,
           .request = &LiveRequest,
           .transaction = [this](nx480::TModbus& link) { nx480::ReadLiveValues(link, *this); },
           .onException =
               [this](nx480::TModbus& link) {
                 ClearLiveValues();
                 link.Synchronize([this] { ShowLiveValues(); });
               },
           .clearedOnConnect = false}};
}

QLabel* TFormOnLine::PanelOf(nx480::Stage stage) const {
  using nx480::Stage;
  switch (stage) {
    case Stage::Uu1:
      return PanelUu1;
    case Stage::Uu2:
      return PanelUu2;
    case Stage::Uo1:
      return PanelUo1;
    case Stage::Uo2:
      return PanelUo2;
    case Stage::Uo3:
      return PanelUo3;
    case Stage::Fu1:
      return PanelFu1;
    case Stage::Fu2:
      return PanelFu2;
    case Stage::Fo1:
      return PanelFo1;
    case Stage::Fo2:
      return PanelFo2;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Handlers (user-interface thread)

void TFormOnLine::FormShow() {
  const nx480::RelaySession& session = Session();
  const nx480::LiveLayout layout =
      nx480::LayoutFor(session.firmware, designClientHeight_, session.hasTemperature);
  setFixedSize(width(), layout.clientHeight);
  SetCaption(PanelUo2, QString::fromUtf8(layout.captionUo2));
  SetCaption(PanelUo3, QString::fromUtf8(layout.captionUo3));
  PanelFo2->setVisible(layout.panelFo2Visible);
  CheckBox01V->setVisible(layout.checkBox01VVisible);
  if (session.serviceMode) CheckBox01V->setChecked(true);
  CheckBox01VClick();
  LabelTemp->setVisible(layout.temperatureVisible);
  EditTemp->setVisible(layout.temperatureVisible);
  hasTemperature_.store(session.hasTemperature, std::memory_order_release);
  // A new recording for this connection.
  recorder_.reset();
  LabelRecording->hide();
  removedDays_ = 0;
  removedPaths_.clear();
  recordedSerial_ = session.serialNumber;
  if (const std::optional<std::string> root = nx480::RecordingRoot()) {
    const nx480::RecordingConfig config = nx480::ReadRecordingConfig();
    recorder_ = std::make_unique<nx480::RecordingWriter>(*root, config.capBytes);
    if (config.invalid)
      ShowRecordingNotice(
          tr("Chybný recording.conf, limit %1 MB").arg(nx480::kDefaultCapMb).toStdString());
    ShowRemovedDays();
  }
  Timer1->start();
}

void TFormOnLine::FormHide() {
  Timer1->stop();
  recorder_.reset();  // what is buffered goes to the file
}

void TFormOnLine::ShowRecordingNotice(const std::string& text) {
  LabelRecording->setText(QString::fromStdString(text));
  LabelRecording->setToolTip(recorder_ ? QString::fromStdString(recorder_->Path()) : QString());
  LabelRecording->show();
}

void TFormOnLine::ShowRemovedDays() {
  const std::vector<std::string> removed = recorder_->TakeRemoved();
  if (removed.empty()) return;
  removedDays_ += static_cast<int>(removed.size());
  for (const std::string& path : removed) removedPaths_ << QString::fromStdString(path);
  while (removedPaths_.size() > 20) removedPaths_.removeFirst();
  LabelRecording->setText(tr("Limit záznamu: smazáno dnů: %1").arg(removedDays_));
  LabelRecording->setToolTip(removedPaths_.join('\n'));
  LabelRecording->show();
}

void TFormOnLine::hideEvent(QHideEvent* event) {
  // Minimised, the window goes on refreshing: a restore is no new show that would start it.
  if (!event->spontaneous()) FormHide();
  RelayWindow::hideEvent(event);
}

void TFormOnLine::CloseWindow() {
  closing_ = true;
  close();
  closing_ = false;
}

void TFormOnLine::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    event->ignore();
    return;
  }
  RelayWindow::closeEvent(event);
}

void TFormOnLine::Timer1Timer() {
  LiveRequest.Set(1);
  if (recorder_ && !recorder_->Stopped()) {
    recorder_->FlushIfDue();
    if (recorder_->Stopped()) ShowRecordingNotice(nx480::RecordingStoppedText(recorder_->Error()));
  }
}

void TFormOnLine::MirrorCheckBox() {
  // The check box's own properties, not whether the window is on screen: a hidden window still
  // decodes the snapshot that was already requested.
  box01Visible_.store(!CheckBox01V->isHidden(), std::memory_order_release);
  box01Checked_.store(CheckBox01V->isChecked(), std::memory_order_release);
}

void TFormOnLine::CheckBox01VClick() {
  MirrorCheckBox();
  const bool on = !CheckBox01V->isHidden() && CheckBox01V->isChecked();
  const nx480::ValueFontSizes sizes = nx480::FontSizesFor(Session().firmware, on);
  for (QLineEdit* e : {EditU1, EditU2, EditU3}) SetPointSize(e, sizes.live);
  for (QLineEdit* e : {Edit10mU1, Edit10mU2, Edit10mU3}) SetPointSize(e, sizes.tenMinute);
}

void TFormOnLine::FormKeyDown(QKeyEvent* event) {
  RelayWindow::keyPressEvent(event);
}

bool TFormOnLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == EditFocus && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    // Tab keeps moving the focus; every other key goes to the main window's handler only.
    if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab) {
      FormKeyDown(key);
      key->accept();  // handled: not passed on to this window's own key handler as well
      return true;
    }
  }
  return RelayWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// The live values transaction's steps

void TFormOnLine::StoreLiveValues(const nx480::LiveImage& image, uint32_t stageFlags) {
  nx480::StoreLive(pending_, image, stageFlags, image.firmware,
                   {box01Visible_.load(std::memory_order_acquire),
                    box01Checked_.load(std::memory_order_acquire)});
  pendingSample_ =
      nx480::SampleOf(image, stageFlags, hasTemperature_.load(std::memory_order_acquire));
  nx480::StampNow(pendingSample_);
  pendingSampleGood_ = true;
}

void TFormOnLine::ClearLiveValues() {
  nx480::ClearLive(pending_);
  pendingSampleGood_ = false;
}

void TFormOnLine::ShowLiveValues() {
  if (pendingSampleGood_ && recorder_ && !recorder_->Stopped()) {
    pendingSampleGood_ = false;  // each snapshot once
    const bool appended = recorder_->Append(recordedSerial_, pendingSample_);
    ShowRemovedDays();
    if (!appended)
      ShowRecordingNotice(nx480::RecordingStoppedText(recorder_->Error()));
    else
      trend_->TakeRecordedSample(recordedSerial_, pendingSample_);  // the trend follows
  }
  SetText(EditU1, pending_.U1);
  SetText(EditU2, pending_.U2);
  SetText(EditU3, pending_.U3);
  SetText(EditF, pending_.F);
  const QColor frame = nx480::FrameRed(pending_) ? Red() : ButtonFace();
  SetColour(PanelOchr, QPalette::Window, frame);
  SetColour(PanelOchr2, QPalette::Window, frame);
  SetText(EdittRel, nx480::ShownReconnection(pending_));
  SetText(EditTemp, " " + pending_.Temp);
  // Keys keep going to FormKeyDown unless the user is working the check box. In a window that
  // is not active this only chooses the control that gets the focus when it becomes active.
  if (!CheckBox01V->hasFocus()) EditFocus->setFocus(Qt::OtherFocusReason);
  for (nx480::Stage stage : nx480::kStages) {
    const nx480::StageLook look = nx480::LookOf(stage, pending_.StageFlags);
    QLabel* panel = PanelOf(stage);
    SetColour(panel, QPalette::Window, look.redBackground ? Red() : ButtonFace());
    SetColour(panel, QPalette::WindowText, look.redCaption ? Red() : kBlack);
  }
  SetText(Edit10mU1, pending_.U10m1);
  SetText(Edit10mU2, pending_.U10m2);
  SetText(Edit10mU3, pending_.U10m3);
  ProgressBar10m->setValue(nx480::ProgressPosition(pending_.Progress10m));
  if (nx480::TemperatureAppears(Session().firmware, pending_.Temp)) {
    LabelTemp->show();
    EditTemp->show();
  }
}
