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

PageClock::PageClock(SetupFrame& frame) : SetupPage(frame, "TabDatumCas") {
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
                 if (!link.Session().firmware.relayMode) return;
                 int32_t sent = 0;
                 const Outcome outcome = WriteRelay(link, RelayCommand, &sent);
                 // The journal hears of every send: the first of a choice closes its entry.
                 if (sent != 0) link.Synchronize([&] { RelaySent(sent, outcome); });
               },
           .onException = {},  // the relay mode is never reported
           // A forced state belongs to the relay it was chosen for: ReturnToAuto() first.
           .clearedOnConnect = true}};
}

void PageClock::Build() {
  GroupBox1 = new QGroupBox(tr("Datum, čas"), this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(8, 8, 296, 256);

  LabelDatumCas1 = MakeLabel(GroupBox1, "LabelDatumCas1",
                             tr("Datum a čas při vyčtení z přístroje nebo zápisu do přístroje"),
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
      MakeLabel(GroupBox1, "LabelDatumCasPristroj", tr("Přístroj:"), {16, 74, 58, 26});
  EditDatumCasPristroj = makeTimeBox("EditDatumCasPristroj", 74);
  LabelDatumCasPC = MakeLabel(GroupBox1, "LabelDatumCasPC", tr("PC:"), {16, 106, 58, 26});
  EditDatumCasPC = makeTimeBox("EditDatumCasPC", 106);
  LabelDatumCasPristroj->setBuddy(EditDatumCasPristroj);
  LabelDatumCasPC->setBuddy(EditDatumCasPC);

  LabelDatumCas2 =
      MakeLabel(GroupBox1, "LabelDatumCas2",
                tr("Tlačítko Zapiš vloží do přístroje aktuální čas PC bez ohledu na zobrazené "
                   "údaje"),
                {8, 144, 280, 40}, Qt::AlignCenter);
  LabelDatumCas2->setWordWrap(true);

  PanelNX480T = MakePanel(GroupBox1, "PanelNX480T", PanelGrey(), {41, 200, 214, 42});
  LabelNX480T = MakeLabel(PanelNX480T, "LabelNX480T", "NX480", {8, 8, 50, 25});
  ButtonReadC = MakeButton(PanelNX480T, "ButtonReadC", tr("&Vyčti"), {54, 8, 72, 25});
  ButtonWriteC = MakeButton(PanelNX480T, "ButtonWriteC", tr("&Zapiš"), {130, 8, 72, 25});

  RadioGroupRele = new QGroupBox(tr("Relé"), this);
  RadioGroupRele->setObjectName("RadioGroupRele");
  RadioGroupRele->setGeometry(316, 8, 128, 96);
  ReleButtons = new QButtonGroup(RadioGroupRele);
  //: The relay output's modes: automatic, forced on, forced off.
  const char* const items[] = {QT_TRANSLATE_NOOP("PageClock", "Auto"),
                               QT_TRANSLATE_NOOP("PageClock", "On"),
                               QT_TRANSLATE_NOOP("PageClock", "Off")};
  for (int i = 0; i < 3; ++i) {
    auto* item = new QRadioButton(tr(items[i]), RadioGroupRele);
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
  Frame().ShowStatus(*this, outcome);
}

double PageClock::PcNow() const {
  return LocalNow();
}

bool PageClock::JournalBefore(double relayTime, double pcTime) {
  JournalEntry entry = NewJournalEntry(Frame().Session(), ChangeKind::Clock, Keyed("clock-window"));
  entry.details = ClockDetails(relayTime, pcTime);
  if (clockEntry_.Open(Frame().DialogParent(), std::move(entry), tr("Nastavit bez zálohy?")))
    return true;
  Frame().ShowNotSet(*this);
  return false;
}

void PageClock::JournalAfter(Outcome outcome, std::optional<double> remainingSeconds) {
  std::vector<JournalText> details;
  if (outcome == Outcome::Ok) details.push_back(RemainingOffsetDetail(remainingSeconds));
  clockEntry_.Close(Frame().DialogParent(), outcome, std::move(details));
}

bool PageClock::KeepRelayChoice(int32_t command) {
  JournalEntry entry =
      NewJournalEntry(Frame().Session(), ChangeKind::RelayMode,
                      Keyed("relay-window", {std::string(RelayModeWord(command))}));
  entry.details.push_back(RelayModeDetail(command));
  RelayChoice choice{command, {}};
  QString reason;
  if (!choice.journal.TryOpen(std::move(entry), reason) && command != kAutoItem + 1) {
    if (!JournalEntryKeeper::AskWithout(Frame().DialogParent(), reason,
                                        tr("Nastavit bez zálohy?"))) {
      Frame().ShowNotSet(*this);
      return false;
    }
    // The question let the event loop run: the relay may have gone meanwhile.
    if (!Frame().Session().connected) {
      Frame().ShowNotConnected(*this);
      return false;
    }
  }
  relayChoices_.push_back(std::move(choice));
  return true;
}

void PageClock::RelaySent(int32_t command, Outcome outcome) {
  // Sends come in the order of the choices; a choice still waiting behind the latest one of
  // this mode was overtaken by a later choice before it went out. A repeat of the state in force
  // matches none.
  auto match = relayChoices_.end();
  for (auto it = relayChoices_.begin(); it != relayChoices_.end(); ++it)
    if (it->command == command) match = it;
  if (match != relayChoices_.end()) {
    for (auto it = relayChoices_.begin(); it != match; ++it)
      it->journal.Close(Frame().DialogParent(), JournalOutcome::NotSent, {Keyed("overtaken")});
    match->journal.Close(Frame().DialogParent(), outcome, {FirstSendDetail(outcome)});
    relayChoices_.erase(relayChoices_.begin(), match + 1);
  }
  if (command != kAutoItem + 1 || !autoReturn_) return;
  // The return to "Auto" as the connection ends: it has gone out, so its entry delays nothing.
  autoReturn_ = false;
  // The connection, or the program, is ending: nothing here may wait for the user.
  for (RelayChoice& waiting : relayChoices_)
    waiting.journal.Close(Frame().DialogParent(), JournalOutcome::NotSent,
                          {Keyed("not-sent-connection")}, {}, false);
  relayChoices_.clear();
  JournalEntry entry =
      NewJournalEntry(Frame().Session(), ChangeKind::RelayMode, Keyed("relay-disconnect"));
  entry.details = {RelayModeDetail(command), FirstSendDetail(outcome)};
  JournalEntryKeeper journal;
  QString reason;
  if (journal.TryOpen(std::move(entry), reason))
    journal.Close(Frame().DialogParent(), outcome, {}, false);
}

void PageClock::ApplyFeatures(const RelaySession& session) {
  RadioGroupRele->setVisible(session.firmware.relayMode);
}

void PageClock::Activated() {
  // Without a relay the worker is parked: a read asked for now would only go to whatever relay
  // is connected next (the connect button drops it anyway).
  if (!Frame().Session().connected) return;
  Frame().ClearStatus(*this);  // a read, as on "Vyčti"
  ReadClockRequest.Set(1);
}

void PageClock::ButtonReadCClick() {
  Frame().ClearStatus(*this);
  if (!Frame().Session().connected) {
    Frame().ShowNotConnected(*this);
    return;
  }
  ReadClockRequest.Set(1);
}

void PageClock::ButtonWriteCClick() {
  Frame().ClearStatus(*this);
  if (!Frame().Session().connected) {
    Frame().ShowNotConnected(*this);
    return;
  }
  WriteClockRequest.Set(1);
}

void PageClock::RadioGroupReleClick(int index) {
  Frame().ClearStatus(*this);
  // Without a relay a forced state would wait for whichever relay is connected next.
  if (!Frame().Session().connected) {
    ReleButtons->button(kAutoItem)->setChecked(true);
    Frame().ShowNotConnected(*this);
    return;
  }
  autoReturn_ = false;
  const int32_t command = index + 1;
  // The item in force clicked again is sent again, and no new choice for the journal.
  const bool chosen = index != relayItem_;
  if (chosen && index > kAutoItem && !KeepRelayChoice(command)) {
    ReleButtons->button(relayItem_)->setChecked(true);  // nothing forced: the group shows so
    return;
  }
  relayItem_ = index;
  RelayCommand.Set(command);
  // Back to "Auto" is the safe way: it is asked for before its entry is kept, whatever becomes
  // of that.
  if (chosen && index == kAutoItem) KeepRelayChoice(command);
  // A forced state goes out again every 4 s counted from the choice.
  TimerRele->start();
  if (ForcedChanged) ForcedChanged(index);
}

bool PageClock::Forced() const {
  return relayItem_ > kAutoItem;
}

void PageClock::ReturnToAuto() {
  if (!Forced()) return;
  relayItem_ = kAutoItem;
  ReleButtons->button(kAutoItem)->setChecked(true);
  RelayCommand.Set(kAutoItem + 1);
  // Its entry is kept once it has gone out (RelaySent): the journal never holds the return up.
  autoReturn_ = true;
  if (ForcedChanged) ForcedChanged(kAutoItem);
}

void PageClock::TimerReleTimer() {
  // The state in force, not an item clicked whose question is still open.
  if (relayItem_ > kAutoItem && Frame().Session().connected) RelayCommand.Set(relayItem_ + 1);
}

bool PageClock::eventFilter(QObject* watched, QEvent* event) {
  // F1 in the relay mode group is the group's and does not reach the main window.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1 &&
      ReleButtons->id(qobject_cast<QAbstractButton*>(watched)) >= 0)
    return true;
  return SetupPage::eventFilter(watched, event);
}
