#include "form_trend.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>

#include "modbus.h"
#include "recording.h"
#include "settings_transactions.h"
#include "window_services.h"

namespace {

constexpr int kPlotWidth = 760;
constexpr int kPlotHeight = 300;

QString Seconds(int64_t millis) {
  return DecimalText(static_cast<double>(millis) / 1000.0, 1);
}

QString CaptionOf(nx480::Stage stage) {
  const std::string_view caption = nx480::StageCaption(stage);
  return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
}

// The local time as a time in UTC: any offset, also one a PC clock set back left (ClockStepLine).
QDateTime LocalTime(int64_t millis, int utcOffsetMinutes) {
  return QDateTime::fromMSecsSinceEpoch(millis + int64_t{utcOffsetMinutes} * 60000, Qt::UTC);
}

QString TimeText(int64_t millis, int utcOffsetMinutes) {
  return LocalTime(millis, utcOffsetMinutes).toString("d.M. HH:mm:ss,zzz").chopped(2);  // tenths
}

QString LocalDay(int64_t millis) {
  return QDateTime::fromMSecsSinceEpoch(millis).toString("yyyy-MM-dd");
}

}  // namespace

TFormTrend::TFormTrend(QWidget* parent) : RelayWindow(parent) {
  setObjectName("FormTrend");
  setWindowTitle(tr("Průběh"));
  setFont(SystemFont(13));
  resize(kPlotWidth + 16, 8 + 24 + 8 + 16 + kPlotHeight + 8 + 16 + 8 + 16 + 130 + 8);

  auto button = [this](const char* name, const QString& text, int x, int width) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setGeometry(x, 8, width, 24);
    return b;
  };
  Button10Min = button("Button10Min", tr("&10 min"), 8, 72);
  ButtonHour = button("ButtonHour", tr("&hodina"), 84, 72);
  ButtonDay = button("ButtonDay", tr("&den"), 160, 72);
  ButtonFile = button("ButtonFile", tr("&Soubor…"), 236, 80);
  LabelSource = new QLabel(this);
  LabelSource->setObjectName("LabelSource");
  LabelSource->setGeometry(324, 12, kPlotWidth + 8 - 324, 16);

  LabelNote = new QLabel(this);
  LabelNote->setObjectName("LabelNote");
  LabelNote->setGeometry(8, 40, kPlotWidth, 16);
  QPalette red = LabelNote->palette();
  red.setColor(QPalette::WindowText, QColor(192, 0, 0));
  LabelNote->setPalette(red);

  Plot = new TrendPlot(this);
  Plot->setGeometry(8, 60, kPlotWidth, kPlotHeight);
  LabelCursor = new QLabel(this);
  LabelCursor->setObjectName("LabelCursor");
  LabelCursor->setGeometry(8, 60 + kPlotHeight + 4, kPlotWidth, 16);
  LabelCursor->setText(tr("Kolečko, +/-: zvětšení; šipky, tažení: posun"));

  LabelTrips = new QLabel(this);
  LabelTrips->setObjectName("LabelTrips");
  LabelTrips->setGeometry(8, 60 + kPlotHeight + 24, kPlotWidth, 16);
  TreeTrips = new QTreeWidget(this);
  TreeTrips->setObjectName("TreeTrips");
  TreeTrips->setGeometry(8, 60 + kPlotHeight + 44, kPlotWidth, 130);
  TreeTrips->setRootIsDecorated(false);
  TreeTrips->setHeaderLabels(
      {tr("Čas"), tr("Stupeň"), "U1 [V]", "U2 [V]", "U3 [V]", "f [Hz]", tr("Náběh → vypnutí")});
  TreeTrips->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

  connect(Button10Min, &QPushButton::clicked, this, [this] { ShowLast(600'000); });
  connect(ButtonHour, &QPushButton::clicked, this, [this] { ShowLast(3'600'000); });
  connect(ButtonDay, &QPushButton::clicked, this, [this] { ShowLast(86'400'000); });
  connect(ButtonFile, &QPushButton::clicked, this, [this] { ButtonFileClick(); });
  connect(Plot, &TrendPlot::CursorMoved, this, [this](int column) { ShowCursor(column); });
  connect(Plot, &TrendPlot::ViewChanged, this, [this] { ShowHeading(); });
  loadTimer_ = new QTimer(this);
  loadTimer_->setInterval(100);
  connect(loadTimer_, &QTimer::timeout, this, [this] { ShowLoading(); });
  ShowNote();
}

struct TFormTrend::FileLoad {
  std::string path;
  QString name;
  int32_t serial = -2;
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> done{0}, size{0};
  FileRead result;  // the thread's until it has handed the load back
};

TFormTrend::~TFormTrend() {
  StopFileLoad();
}

std::vector<nx480::RequestDecl> TFormTrend::Requests() {
  return {{.slot = nx480::kTrendSettingsRequest,
           .request = &TrendSettingsRequest,
           .transaction =
               [this](nx480::TModbus& link) {
                 if (nx480::ReadSettingsWords(link, pendingWords_) < nx480::kSettingsWords) {
                   link.DrainInput();  // no lines; the next show tries again
                   return;
                 }
                 link.Synchronize([this] { TakeSettings(pendingWords_); });
               },
           .onException = [](nx480::TModbus&) {},
           .clearedOnConnect = true}};
}

void TFormTrend::FormShow() {
  if (Session().connected) TrendSettingsRequest.Post();
  ShowLast(600'000);
}

void TFormTrend::SessionChanged() {
  if (isVisible() && Session().connected) TrendSettingsRequest.Post();
}

void TFormTrend::TakeSettings(const nx480::SettingsWords& words) {
  settings_ = words;
  settingsSerial_ = Session().serialNumber;
  ApplyThresholds();
}

void TFormTrend::ApplyThresholds() {
  const bool ours = settings_ && shownSerial_ == settingsSerial_;
  Plot->SetThresholds(ours ? nx480::ThresholdLines(*settings_, Session().firmware)
                           : std::vector<nx480::ThresholdLine>{});
  ShowNote();
}

void TFormTrend::ShowLast(int64_t millis) {
  if (FlushRecording) FlushRecording();
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  const int64_t t0 = now - millis;
  std::vector<std::string> paths;
  const std::optional<std::string> root = nx480::RecordingRoot();
  const std::string folder = nx480::RecordingFolderName(Session().serialNumber);
  if (root) {
    for (int64_t t = t0;; t += 86'400'000) {
      const std::string day = LocalDay(std::min(t, now)).toStdString();
      const std::string path = nx480::PathUnder(*root, folder + "/" + day + ".csv");
      if (paths.empty() || paths.back() != path) paths.push_back(path);
      if (t >= now) break;
    }
  }
  shownSerial_ = Session().serialNumber;
  following_ = true;
  const QString relay = tr("Relé %1").arg(QString::fromStdString(folder));
  const QString preset = millis <= 600'000     ? tr("%1, poslední 10 minut").arg(relay)
                         : millis <= 3'600'000 ? tr("%1, poslední hodina").arg(relay)
                                               : tr("%1, poslední den").arg(relay);
  Load(paths, t0, now, millis > 3'600'000, relay, preset);
}

void TFormTrend::ButtonFileClick() {
  const std::optional<std::string> root = nx480::RecordingRoot();
  const QString preset = root ? QString::fromStdString(nx480::PathUnder(
                                    *root, nx480::RecordingFolderName(Session().serialNumber)))
                              : QString();
  const QString path =
      AppDialogs().chooseOpenFile(this, {tr("Záznam (*.csv);;Vše (*)"), "csv"}, preset);
  if (path.isEmpty()) return;
  // A file in a relay's folder is that relay's: its thresholds apply.
  StopFileLoad();
  following_ = false;
  auto load = std::make_shared<FileLoad>();
  bool ok = false;
  // Relay folders are named by the unsigned serial number (2147483649 too).
  const auto serial = static_cast<int32_t>(QFileInfo(path).dir().dirName().toUInt(&ok));
  load->serial = ok ? serial : QFileInfo(path).dir().dirName() == "unknown" ? -1 : -2;
  load->path = path.toStdString();
  load->name = QFileInfo(path).fileName();
  fileLoad_ = load;
  loader_ = std::thread([this, load] {
    FileRead& r = load->result;
    r.ok = nx480::ReadRecording(load->path, r.read, r.error, [&load](uint64_t done, uint64_t size) {
      load->size.store(size, std::memory_order_relaxed);
      load->done.store(done, std::memory_order_relaxed);
      return !load->cancel.load(std::memory_order_relaxed);
    });
    // Its last act: the window waits for it before it goes (StopFileLoad).
    QMetaObject::invokeMethod(
        this, [this, load] { FileLoaded(load); }, Qt::QueuedConnection);
  });
  setCursor(Qt::BusyCursor);
  ShowLoading();
  loadTimer_->start();
}

void TFormTrend::ShowLoading() {
  if (!fileLoad_) return;
  const uint64_t size = fileLoad_->size.load(std::memory_order_relaxed);
  const uint64_t done = fileLoad_->done.load(std::memory_order_relaxed);
  //: a file being read: its name, how far
  LabelSource->setText(tr("Načítám %1… %2 %")
                           .arg(fileLoad_->name)
                           .arg(size > 0 ? static_cast<int>(done * 100 / size) : 0));
}

void TFormTrend::StopFileLoad() {
  if (fileLoad_) fileLoad_->cancel.store(true, std::memory_order_relaxed);
  if (loader_.joinable()) loader_.join();  // it stops after the piece it reads
  fileLoad_.reset();
  loadTimer_->stop();
  unsetCursor();
}

void TFormTrend::FileLoaded(const std::shared_ptr<FileLoad>& load) {
  if (load != fileLoad_) return;  // stopped meanwhile
  StopFileLoad();                 // the thread has ended but for its return
  shownSerial_ = load->serial;
  following_ = false;
  std::vector<FileRead> reads;
  reads.push_back(std::move(load->result));
  Show(std::move(reads), std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
       true, load->name, load->name);
}

void TFormTrend::Load(const std::vector<std::string>& paths, int64_t t0, int64_t t1, bool ownSpan,
                      const QString& source, const QString& preset) {
  StopFileLoad();
  std::vector<FileRead> reads(paths.size());
  for (size_t i = 0; i < paths.size(); ++i)
    reads[i].ok = nx480::ReadRecording(paths[i], reads[i].read, reads[i].error);
  Show(std::move(reads), t0, t1, ownSpan, source, preset);
}

void TFormTrend::Show(std::vector<FileRead> reads, int64_t t0, int64_t t1, bool ownSpan,
                      const QString& source, const QString& preset) {
  samples_.clear();
  clock_ = {};
  badLines_ = 0;
  readError_.clear();
  for (const FileRead& r : reads) {
    if (!r.ok) {
      if (r.error.systemError == EFBIG)  // named whenever it happens: a day file is never so large
        readError_ = tr("Soubor je příliš velký: %1 MB (záznam dne mívá do 50 MB)")
                         .arg(r.read.fileSize / 1'000'000);
      else if (reads.size() == 1)
        readError_ = tr("Soubor nelze číst");
      continue;
    }
    badLines_ += r.read.badLines;
    for (const nx480::RecordingSample& s : r.read.samples)
      if (s.pcMillis >= t0 && s.pcMillis <= t1) samples_.push_back(clock_.Place(s));
  }
  if (ownSpan && !samples_.empty()) {
    t0 = samples_.front().pcMillis;
    t1 = samples_.back().pcMillis + 1;
  } else if (t0 == std::numeric_limits<int64_t>::min()) {  // an empty file
    t0 = 0, t1 = 1;
  }
  events_ = {};
  events_.Extend(samples_);
  source_ = source;
  preset_ = preset;
  presetSpan_ = -1;
  ownSpan_ = ownSpan;
  Plot->SetData(&samples_, t0, t1, &events_, ownSpan);
  presetSpan_ = Plot->ViewEnd() - Plot->ViewStart();
  ShowHeading();
  TreeTrips->clear();
  tripRows_ = 0;
  AddTripRows();
  ShowTripsHeading(true);
  ApplyThresholds();
}

void TFormTrend::TakeRecordedSample(int32_t serial, const nx480::RecordingSample& sample) {
  if (!following_ || !isVisible() || serial != shownSerial_) return;
  const bool first = samples_.empty();
  const int steps = clock_.Steps();
  samples_.push_back(clock_.Place(sample));  // may move the samples: the plot takes them anew
  events_.Extend(samples_);
  Plot->Grow(sample.pcMillis + 1);  // the range ends after it
  TrimSamples();
  AddTripRows();
  // The poll interval from the first samples; a long series has it already.
  ShowTripsHeading(samples_.size() <= 1024);
  if (first || clock_.Steps() != steps) ShowNote();
}

void TFormTrend::TrimSamples() {
  // An hour's samples at a time, so that the cost is a small share of each sample's.
  const int64_t newest = samples_.back().pcMillis;
  if (samples_.front().pcMillis >= newest - kKeptMs - 3'600'000) return;
  const auto kept =
      std::lower_bound(samples_.begin(), samples_.end(), newest - kKeptMs,
                       [](const nx480::RecordingSample& s, int64_t t) { return s.pcMillis < t; });
  samples_.erase(samples_.begin(), kept);
  events_ = {};
  events_.Extend(samples_);
  Plot->Trim(samples_.front().pcMillis);
  TreeTrips->clear();
  tripRows_ = 0;
  AddTripRows();
  ShowTripsHeading(false);
}

void TFormTrend::AddTripRows() {
  const std::vector<nx480::Trip>& trips = events_.Trips();
  for (; tripRows_ < trips.size(); ++tripRows_) {
    const nx480::Trip& trip = trips[tripRows_];
    //: from pick-up to trip: as seen (lowest–highest possible)
    const QString delay =
        trip.delayMaxMs
            ? tr("%1 s (%2–%3 s)")
                  .arg(Seconds(trip.delaySeenMs), Seconds(trip.delayMinMs),
                       Seconds(*trip.delayMaxMs))
            : tr("%1 s (%2 s a víc)").arg(Seconds(trip.delaySeenMs), Seconds(trip.delayMinMs));
    new QTreeWidgetItem(
        TreeTrips, {TimeText(trip.pcMillis, trip.utcOffsetMinutes), CaptionOf(trip.stage),
                    DecimalText(trip.u[0], 1), DecimalText(trip.u[1], 1), DecimalText(trip.u[2], 1),
                    DecimalText(trip.f, 2), delay});
  }
}

void TFormTrend::ShowTripsHeading(bool poll) {
  if (poll) {
    // The poll interval: the median time between two samples.
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < samples_.size(); ++i)
      gaps.push_back(samples_[i].pcMillis - samples_[i - 1].pcMillis);
    pollText_.clear();
    if (!gaps.empty()) {
      std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
      pollText_ = DecimalText(gaps[gaps.size() / 2] / 1000.0, 2);
    }
  }
  const QString count = QString::number(events_.Trips().size());
  LabelTrips->setText(
      pollText_.isEmpty()
          ? tr("Vypnutí: %1").arg(count)
          : tr("Vypnutí: %1, vzorky po %2 s (náběh a vypnutí jsou známy jen s touto přesností)")
                .arg(count, pollText_));
}

void TFormTrend::ShowHeading() {
  const int64_t t0 = Plot->ViewStart(), t1 = Plot->ViewEnd();
  if (t1 == Plot->RangeEnd() &&
      (t1 - t0 == presetSpan_ || (ownSpan_ && t0 == Plot->RangeStart()))) {
    LabelSource->setText(preset_);
    return;
  }
  const auto local = [this](int64_t t) { return LocalTime(t, Plot->UtcOffsetAt(t)); };
  const QDateTime from = local(t0), to = local(t1);
  //: the source, the time shown from and to
  LabelSource->setText(
      tr("%1, %2 – %3")
          .arg(source_, from.toString("d.M. HH:mm:ss"),
               to.toString(from.date() == to.date() ? "HH:mm:ss" : "d.M. HH:mm:ss")));
}

void TFormTrend::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  RelayWindow::keyPressEvent(event);
}

void TFormTrend::PlaceBeside(const QWidget* anchor) {
  QScreen* screen = placed_ ? QGuiApplication::screenAt(frameGeometry().center()) : nullptr;
  if (!screen) screen = anchor->screen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  // The window system's frame, as the anchor has it (this window has none before it is shown).
  const QRect anchorFrame = anchor->frameGeometry(), anchorInner = anchor->geometry();
  const QSize size = this->size() + QSize(anchorFrame.width() - anchorInner.width(),
                                          anchorFrame.height() - anchorInner.height());
  std::vector<QPoint> places;
  if (placed_) {
    places.push_back(frameGeometry().topLeft());
  } else {
    places = {{anchorFrame.left(), anchorFrame.bottom() + 1},
              {anchorFrame.left(), anchorFrame.top() - size.height()},
              {anchorFrame.right() + 1, anchorFrame.top()},
              {anchorFrame.left() - size.width(), anchorFrame.top()}};
  }
  const auto inside = [&](QPoint at) { return available.contains(QRect(at, size)); };
  const auto fit = std::find_if(places.begin(), places.end(), inside);
  QPoint at = fit != places.end() ? *fit : places.front();
  // Moved onto the screen; one larger than it keeps its top left there.
  at.setX(std::max(available.left(), std::min(at.x(), available.right() + 1 - size.width())));
  at.setY(std::max(available.top(), std::min(at.y(), available.bottom() + 1 - size.height())));
  move(at);
  placed_ = true;
}

void TFormTrend::ShowNote() {
  QStringList notes;
  if (!readError_.isEmpty()) notes << readError_;
  if (samples_.empty() && readError_.isEmpty()) notes << tr("Žádný záznam");
  if (badLines_ > 0) notes << tr("Vynecháno řádků: %1").arg(badLines_);
  if (clock_.Steps() > 0) notes << tr("Hodiny PC vráceny zpět: %1×").arg(clock_.Steps());
  if (Plot->Thresholds().empty()) notes << tr("Bez nastavení relé: prahy nejsou");
  LabelNote->setText(notes.join(" · "));
}

void TFormTrend::ShowCursor(int column) {
  if (column < 0 || column >= static_cast<int>(Plot->Columns().size())) {
    LabelCursor->setText(tr("Kolečko, +/-: zvětšení; šipky, tažení: posun"));
    return;
  }
  const std::vector<nx480::TrendColumn>& columns = Plot->Columns();
  // The column's last sample; over a column without any, the nearest one the line joins.
  std::optional<size_t> at;
  if (columns[column].any)
    at = columns[column].last;
  else
    at = nx480::SampleNear(samples_, Plot->TimeAt(column));
  if (!at) {
    LabelCursor->setText("-");
    return;
  }
  const nx480::RecordingSample& s = samples_[*at];
  LabelCursor->setText(QString("%1   U1 %2 V   U2 %3 V   U3 %4 V   f %5 Hz")
                           .arg(TimeText(s.pcMillis, s.utcOffsetMinutes), DecimalText(s.u[0], 1),
                                DecimalText(s.u[1], 1), DecimalText(s.u[2], 1),
                                DecimalText(s.f, 2)));
}
