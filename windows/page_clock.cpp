#include "page_clock.h"

#include <QButtonGroup>
#include <QDate>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTime>
#include <QTimer>

#include "date_time_text.h"
#include "form_setup.h"
#include "modbus.h"
#include "relay_time.h"
#include "window_services.h"

using namespace nx480;

namespace {

constexpr int kRelayTimerInterval = 4000;  // ms between two sends of a forced state
constexpr int kAutoItem = 0;

QString TimeText(double value) {
  const CalendarTime c = SplitDateTime(value);
  return DateTimeText(QDate(c.year, c.month, c.day),
                      QTime(c.hour, c.minute, c.second, c.millisecond));
}

}  // namespace

PageClock::PageClock(TFormSetup& frame) : SetupPage(frame, "TabDatumCas") {
  Build();
}

std::vector<RequestDecl> PageClock::Requests() {
  const auto failed = ReportFailure();
  return {{.slot = kReadClockRequest,
           .request = &ReadClockRequest,
           .transaction = [this](TModbus& link) { ReadClock(link, *this); },
           .onException = failed,
           .clearedOnConnect = true},
          {.slot = kWriteClockRequest,
           .request = &WriteClockRequest,
           .transaction = [this](TModbus& link) { WriteClock(link, *this); },
           .onException = failed,
           .clearedOnConnect = true},
          {.slot = kRelayCommand,
           .request = &RelayCommand,
           // A relay without the switch is never sent a mode (a forced state chosen for another
           // relay may still be pending when it is connected).
           .transaction =
               [this](TModbus& link) {
                 if (link.Session().firmware.relayMode) WriteRelay(link, RelayCommand);
               },
           .onException = {},  // the relay mode is never reported
           // A forced state belongs to the relay it was chosen for: ReturnToAuto() first.
           .clearedOnConnect = true}};
}

void PageClock::Build() {
  GroupBox1 = new QGroupBox("Datum, čas", this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(8, 8, 296, 256);

  LabelDatumCas1 = MakeLabel(GroupBox1, "LabelDatumCas1",
                             "Datum a čas při vyčtení z přístroje nebo zápisu do přístroje",
                             {8, 22, 280, 40}, Qt::AlignCenter);
  LabelDatumCas1->setWordWrap(true);
  LabelDatumCas1->setFont(SystemFont(15));

  auto makeTimeBox = [this](const char* name, int y) {
    auto* edit = new QLineEdit(GroupBox1);
    edit->setObjectName(name);
    edit->setGeometry(76, y, 204, 26);
    edit->setReadOnly(true);
    edit->setFont(SystemFont(15, true));
    return edit;
  };
  LabelDatumCasPristroj =
      MakeLabel(GroupBox1, "LabelDatumCasPristroj", "Přístroj:", {16, 74, 58, 26});
  EditDatumCasPristroj = makeTimeBox("EditDatumCasPristroj", 74);
  LabelDatumCasPC = MakeLabel(GroupBox1, "LabelDatumCasPC", "PC:", {16, 106, 58, 26});
  EditDatumCasPC = makeTimeBox("EditDatumCasPC", 106);
  LabelDatumCasPristroj->setBuddy(EditDatumCasPristroj);
  LabelDatumCasPC->setBuddy(EditDatumCasPC);

  LabelDatumCas2 =
      MakeLabel(GroupBox1, "LabelDatumCas2",
                "Tlačítko Zapiš vloží do přístroje aktuální čas PC bez ohledu na zobrazené údaje",
                {8, 144, 280, 40}, Qt::AlignCenter);
  LabelDatumCas2->setWordWrap(true);

  PanelNX480T = MakePanel(GroupBox1, "PanelNX480T", PanelGrey(), {41, 200, 214, 42});
  LabelNX480T = MakeLabel(PanelNX480T, "LabelNX480T", "NX480", {8, 8, 50, 25});
  ButtonReadC = MakeButton(PanelNX480T, "ButtonReadC", "&Vyčti", {54, 8, 72, 25});
  ButtonWriteC = MakeButton(PanelNX480T, "ButtonWriteC", "&Zapiš", {130, 8, 72, 25});

  RadioGroupRele = new QGroupBox("Relé", this);
  RadioGroupRele->setObjectName("RadioGroupRele");
  RadioGroupRele->setGeometry(316, 8, 128, 96);
  ReleButtons = new QButtonGroup(RadioGroupRele);
  const char* const items[] = {"Auto", "On", "Off"};
  for (int i = 0; i < 3; ++i) {
    auto* item = new QRadioButton(items[i], RadioGroupRele);
    item->setObjectName(QString("RadioGroupRele%1").arg(i));
    item->setGeometry(12, 20 + 24 * i, 100, 20);
    ReleButtons->addButton(item, i);
    item->installEventFilter(this);
  }
  ReleButtons->button(kAutoItem)->setChecked(true);
  RadioGroupRele->setVisible(false);  // until a relay says it has the switch

  TimerRele = new QTimer(this);
  TimerRele->setObjectName("TimerRele");
  TimerRele->setInterval(kRelayTimerInterval);
  TimerRele->setTimerType(Qt::PreciseTimer);  // a coarse timer may run 5 % short

  connect(ButtonReadC, &QPushButton::clicked, this, [this] { ButtonReadCClick(); });
  connect(ButtonWriteC, &QPushButton::clicked, this, [this] { ButtonWriteCClick(); });
  connect(ReleButtons, &QButtonGroup::idClicked, this,
          [this](int index) { RadioGroupReleClick(index); });
  connect(TimerRele, &QTimer::timeout, this, [this] { TimerReleTimer(); });
  TimerRele->start();
}

void PageClock::ShowClock(double deviceTime, double pcTime) {
  DeviceTime = deviceTime;
  PcTime = pcTime;
  EditDatumCasPristroj->setText(TimeText(DeviceTime));
  EditDatumCasPC->setText(TimeText(PcTime));
}

void PageClock::ShowResult(Outcome outcome) {
  Frame().ShowStatus(outcome);
}

double PageClock::PcNow() const {
  return LocalNow();
}

void PageClock::ApplyFeatures(const RelaySession& session) {
  RadioGroupRele->setVisible(session.firmware.relayMode);
}

void PageClock::Activated() {
  // Without a relay the worker is parked: a read asked for now would only go to whatever relay
  // is connected next (the connect button drops it anyway).
  if (Frame().Session().connected) ReadClockRequest.Set(1);
}

void PageClock::ButtonReadCClick() {
  if (!Frame().Session().connected) {
    Frame().ShowNotConnected();
    return;
  }
  ReadClockRequest.Set(1);
}

void PageClock::ButtonWriteCClick() {
  if (!Frame().Session().connected) {
    Frame().ShowNotConnected();
    return;
  }
  WriteClockRequest.Set(1);
}

void PageClock::RadioGroupReleClick(int index) {
  // Without a relay a forced state would wait for whichever relay is connected next.
  if (!Frame().Session().connected) {
    ReleButtons->button(kAutoItem)->setChecked(true);
    Frame().ShowNotConnected();
    return;
  }
  RelayCommand.Set(index + 1);
  // A forced state goes out again every 4 s counted from the choice.
  TimerRele->start();
  if (ForcedChanged) ForcedChanged(index);
}

bool PageClock::Forced() const {
  return ReleButtons->checkedId() > kAutoItem;
}

void PageClock::ReturnToAuto() {
  if (!Forced()) return;
  ReleButtons->button(kAutoItem)->setChecked(true);
  RelayCommand.Set(kAutoItem + 1);
  if (ForcedChanged) ForcedChanged(kAutoItem);
}

void PageClock::TimerReleTimer() {
  const int index = ReleButtons->checkedId();
  if (index > kAutoItem && Frame().Session().connected) RelayCommand.Set(index + 1);
}

bool PageClock::eventFilter(QObject* watched, QEvent* event) {
  // F1 in the relay mode group is the group's and does not reach the main window.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
      ReleButtons->id(qobject_cast<QAbstractButton*>(watched)) >= 0)
    return true;
  return SetupPage::eventFilter(watched, event);
}
