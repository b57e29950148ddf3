#include "commissioning_record.h"

#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QString>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "calibration_record.h"
#include "history_view.h"
#include "journal_view.h"
#include "relay_time.h"
#include "settings_file.h"
#include "settings_table.h"
#include "text_codec.h"
#include "translation.h"

namespace nx480 {

namespace {

// Every text the record prints, in one place, in the windows' language (translation.h).
struct RecordTexts {
  std::string title = translate("CommissioningRecord", "Protokol o uvedení do provozu");
  std::string site = translate("CommissioningRecord", "Místo");
  std::string technician = translate("CommissioningRecord", "Technik");
  std::string madeAt = translate("CommissioningRecord", "Datum a čas");
  std::string host = translate("CommissioningRecord", "Počítač");
  std::string toolVersion = translate("CommissioningRecord", "Verze programu");
  std::string relay = translate("CommissioningRecord", "Relé");
  std::string identification = translate("CommissioningRecord", "Identifikace");
  std::string serialNumber = translate("CommissioningRecord", "Výrobní číslo");
  std::string firmware = translate("CommissioningRecord", "Firmware");
  std::string temperature = translate("CommissioningRecord", "Teplotní varianta");
  std::string port = translate("CommissioningRecord", "Port");
  std::string yes = translate("CommissioningRecord", "ano");
  std::string no = translate("CommissioningRecord", "ne");
  std::string unknown = translate("CommissioningRecord", "neznámé");
  std::string clock = translate("CommissioningRecord", "Hodiny relé");
  std::string relayTime = translate("CommissioningRecord", "Čas relé");
  std::string pcTime = translate("CommissioningRecord", "Čas PC");
  std::string offset = translate("CommissioningRecord", "Rozdíl relé - PC");
  std::string settings = translate("CommissioningRecord", "Nastavení ochran");
  std::string profile = translate("CommissioningRecord", "Profil");
  std::string parameter = translate("CommissioningRecord", "Parametr");
  std::string value = translate("CommissioningRecord", "Hodnota");
  std::string percent = translate("CommissioningRecord", "% z 230 V");
  std::string range = translate("CommissioningRecord", "Rozsah profilu");
  std::string verdict = translate("CommissioningRecord", "Výsledek");
  std::string inside = translate("CommissioningRecord", "vyhovuje");
  std::string outside = translate("CommissioningRecord", "NEVYHOVUJE");
  std::string notInFirmware = translate("CommissioningRecord", "není ve firmwaru");
  std::string notInProfile = "-";
  std::string singlePhase = translate("CommissioningRecord", "jednofázový");
  std::string threePhase = translate("CommissioningRecord", "třífázový");
  std::string settingsHash =
      translate("CommissioningRecord", "Otisk nastavení (SHA-256 souboru .nx4)");
  std::string calibration = translate("CommissioningRecord", "Kalibrace");
  std::string factor = translate("CommissioningRecord", "Konstanta");
  std::string events = translate("CommissioningRecord", "Historie událostí (nejnovější první)");
  // The count's line by the Czech plural: 1, 2 to 4, any other number.
  std::string lastEvent = translate("CommissioningRecord", "Poslední událost.");
  std::string lastFewEvents = translate("CommissioningRecord", "Poslední %1 události.");
  std::string lastEvents = translate("CommissioningRecord", "Posledních %1 událostí.");
  std::string noEvents = translate("CommissioningRecord", "Žádné události.");
  std::string journal = translate("CommissioningRecord", "Deník změn (posledních 24 hodin)");
  std::string journalTime = translate("CommissioningRecord", "Čas");
  std::string journalChange = translate("CommissioningRecord", "Změna");
  std::string journalDescription = translate("CommissioningRecord", "Popis");
  std::string journalOutcome = translate("CommissioningRecord", "Výsledek");
  std::string noJournal = translate("CommissioningRecord", "Žádné změny.");
  std::string signatures = translate("CommissioningRecord", "Podpisy");
  std::string signTechnician = translate("CommissioningRecord", "Podpis technika");
  std::string signOperator = translate("CommissioningRecord", "Podpis provozovatele");
  std::string signDate = translate("CommissioningRecord", "Datum");
};
// Made for each use: the language may have changed since the last record.
RecordTexts Texts() {
  return {};
}

QString Html(const std::string& utf8) {
  return QString::fromStdString(utf8).toHtmlEscaped();
}

// A number with a decimal comma.
std::string Number(double value, int decimals) {
  std::string text = DecimalText(value, decimals);
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

std::string TimeText(double value) {
  const CalendarTime t = SplitDateTime(value);
  char text[40];
  std::snprintf(text, sizeof text, "%d.%d.%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return text;
}

std::string StampText(const EventStamp& s) {
  char text[40];
  std::snprintf(text, sizeof text, "%d.%d.%04d %02d:%02d:%02d", s.day, s.month, s.year, s.hour,
                s.minute, s.second);
  return text;
}

std::string SerialText(int32_t serial) {
  if (serial <= 0) return Texts().unknown;
  char text[16];
  std::snprintf(text, sizeof text, "%06d", int{serial});
  return text;
}

class Page {
 public:
  void Heading(const std::string& text) { html_ += "<h3>" + Html(text) + "</h3>"; }
  void Line(const std::string& text) { html_ += "<p>" + Html(text) + "</p>"; }
  void Line(const QString& text) { html_ += "<p>" + text.toHtmlEscaped() + "</p>"; }
  // A two-column table of label and value.
  void Pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
    html_ += "<table cellspacing='0' cellpadding='2'>";
    for (const auto& [label, value] : pairs)
      html_ +=
          "<tr><td width='160'>" + Html(label) + ":</td><td><b>" + Html(value) + "</b></td></tr>";
    html_ += "</table>";
  }
  void BeginTable(const std::vector<std::string>& titles) {
    html_ += "<table border='1' cellspacing='0' cellpadding='2' width='100%'><tr>";
    for (const std::string& t : titles) html_ += "<th align='left'>" + Html(t) + "</th>";
    html_ += "</tr>";
  }
  void Row(const std::vector<std::string>& cells, bool bold = false) {
    html_ += "<tr>";
    for (const std::string& c : cells)
      html_ += bold ? "<td><b>" + Html(c) + "</b></td>" : "<td>" + Html(c) + "</td>";
    html_ += "</tr>";
  }
  void EndTable() { html_ += "</table>"; }
  void Raw(const QString& html) { html_ += html; }
  QString Text() const { return html_; }

 private:
  QString html_;
};

void SettingsSection(Page& page, const CommissioningRecord& r) {
  const FirmwareFeatures& firmware = r.session.firmware;
  page.Heading(Texts().settings);
  std::vector<RowCheck> checks;
  if (r.profile) {
    page.Line(
        QString::fromUtf8(Texts().profile) + ": " + QString::fromStdString(r.profile->name) +
        (r.profile->source.empty() ? "" : " (" + QString::fromStdString(r.profile->source) + ")"));
    checks = CheckSettings(*r.profile, r.settings, firmware);
  }
  std::vector<std::string> titles{Texts().parameter, Texts().value, Texts().percent};
  if (r.profile) {
    titles.push_back(Texts().range);
    titles.push_back(Texts().verdict);
  }
  page.BeginTable(titles);
  for (const SettingsParameter& p : SettingsParameters()) {
    const bool has = HasParameter(firmware, p);
    std::string range, verdict;
    bool failed = false;
    for (const RowCheck& c : checks) {
      if (c.row->parameter != &p) continue;
      range += (range.empty() ? "" : "; ") + c.rangeText;
      const std::string v = c.verdict == RowVerdict::Inside    ? Texts().inside
                            : c.verdict == RowVerdict::Outside ? Texts().outside
                                                               : Texts().notInFirmware;
      failed = failed || c.verdict == RowVerdict::Outside;
      if (verdict.find(v) == std::string::npos)
        verdict += (verdict.empty() ? "" : "; ") + std::string(v);
    }
    if (!has && range.empty()) continue;  // neither the relay nor the profile has it
    std::string value = "-", percent;
    if (has) {
      const double units = ParameterValue(r.settings, p, firmware);
      if (p.quantity == Quantity::Phases) {
        value = ThreePhase(units) ? Texts().threePhase : Texts().singlePhase;
      } else {
        value = Number(units, p.decimals) + " " + std::string(UnitSymbol(p.quantity));
        if (p.quantity == Quantity::Voltage) percent = Number(PercentOfNominal(units), 1) + " %";
      }
    }
    std::vector<std::string> cells{std::string(p.name), value, percent};
    if (r.profile) {
      cells.push_back(range.empty() ? Texts().notInProfile : range);
      cells.push_back(range.empty() ? Texts().notInProfile : verdict);
    }
    page.Row(cells, failed);
  }
  page.EndTable();
  page.Raw("<p>" + Html(Texts().settingsHash) + ": <tt>" +
           QString::fromStdString(SettingsImageSha256(r.settings)) + "</tt></p>");
}

void CalibrationSection(Page& page, const CalibrationWords& words) {
  page.Heading(Texts().calibration);
  page.BeginTable({Texts().factor, Texts().value});
  CalibrationBoxes boxes;
  CalibrationToBoxes(words, boxes);
  for (int f = 0; f < kFactorCount; ++f) {
    std::string text = boxes.factor[f];
    std::replace(text.begin(), text.end(), '.', ',');
    page.Row({kFactorNames[f], text});
  }
  page.EndTable();
}

void EventsSection(Page& page, const std::vector<HistoryRecord>& events) {
  const RecordTexts texts = Texts();
  page.Heading(texts.events);
  if (events.empty()) {
    page.Line(texts.noEvents);
    return;
  }
  const size_t n = events.size();
  page.Line(n == 1 ? QString::fromUtf8(texts.lastEvent)
                   : QString::fromUtf8(n <= 4 ? texts.lastFewEvents : texts.lastEvents).arg(n));
  const std::vector<HistoryRow> table = HistoryTable(events, StampText);
  page.BeginTable({table[0].begin(), table[0].end()});
  for (size_t i = 1; i < table.size(); ++i) page.Row({table[i].begin(), table[i].end()});
  page.EndTable();
}

void JournalSection(Page& page, const std::vector<JournalEntry>& journal) {
  page.Heading(Texts().journal);
  if (journal.empty()) {
    page.Line(Texts().noJournal);
    return;
  }
  page.BeginTable({Texts().journalTime, Texts().journalChange, Texts().journalDescription,
                   Texts().journalOutcome});
  // As the journal window lists them.
  for (const JournalEntry& e : journal) {
    const JournalRow row = JournalRowOf(e);
    std::string when = "?";
    if (row.when) {
      const JournalStamp& t = *row.when;
      when = StampText({t.year, t.month, t.day, t.hour, t.minute, t.second});
    }
    page.Row({when, row.change, row.summary, row.outcome});
  }
  page.EndTable();
}

}  // namespace

std::string SettingsImageSha256(const SettingsWords& settings) {
  const SettingsFileImage image = SettingsFileBytes(settings);
  const QByteArray bytes(reinterpret_cast<const char*>(image.data()),
                         static_cast<qsizetype>(image.size()));
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::vector<JournalEntry> RecentJournal(const std::string& root, int32_t serialNumber,
                                        int64_t nowSeconds) {
  constexpr int64_t kDay = 24 * 60 * 60;
  std::vector<std::pair<int64_t, JournalEntry>> kept;
  for (JournalEntry& e : ListJournal(root, serialNumber)) {
    const std::optional<int64_t> when = JournalEntryTime(e);
    if (when && *when <= nowSeconds && *when > nowSeconds - kDay)
      kept.emplace_back(*when, std::move(e));
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<JournalEntry> out;
  for (auto& k : kept) out.push_back(std::move(k.second));
  return out;
}

void CompleteRecord(CommissioningRecord& record, const RelaySession& session,
                    const EnvironmentLookup& env) {
  record.session = session;
  record.madeAt =
      QDateTime::currentDateTime().toString(QStringLiteral("d.M.yyyy HH:mm:ss")).toStdString();
  char host[256] = {};
  record.host = gethostname(host, sizeof host - 1) == 0 ? host : "?";
  record.toolVersion = NX480_VERSION_TEXT;
  record.journal.clear();
  if (const std::optional<std::string> root = JournalRoot(env))
    record.journal = RecentJournal(*root, session.serialNumber,
                                   std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
}

std::string CommissioningHtml(const CommissioningRecord& r) {
  Page page;
  page.Raw("<h2>" + Html(Texts().title) + "</h2>");
  page.Pairs({{Texts().site, r.site},
              {Texts().technician, r.technician},
              {Texts().madeAt, r.madeAt},
              {Texts().host, r.host},
              {Texts().toolVersion, r.toolVersion}});

  const RelaySession& s = r.session;
  page.Heading(Texts().relay);
  page.Pairs({{Texts().identification, Cp1250ToUtf8(s.identText)},
              {Texts().serialNumber, SerialText(s.serialNumber)},
              {Texts().firmware, std::to_string(s.firmware.minor)},
              {Texts().temperature, s.hasTemperature ? Texts().yes : Texts().no},
              {Texts().port, s.port}});

  page.Heading(Texts().clock);
  // Tenths of a second, rounded before the sign is chosen: no "-0,0 s".
  const double offsetTenths = std::round((r.relayTime - r.pcTime) * 864000.0);
  page.Pairs(
      {{Texts().relayTime, TimeText(r.relayTime)},
       {Texts().pcTime, TimeText(r.pcTime)},
       {Texts().offset, (offsetTenths > 0 ? "+" : "") + Number(offsetTenths / 10, 1) + " s"}});

  SettingsSection(page, r);
  if (r.calibration) CalibrationSection(page, *r.calibration);
  EventsSection(page, r.events);
  JournalSection(page, r.journal);

  page.Heading(Texts().signatures);
  const QString line = "<td width='50%'><br><br>..............................................<br>";
  page.Raw("<table width='100%' cellpadding='4'><tr>" + line + Html(Texts().signTechnician) +
           (r.technician.empty() ? QString() : " (" + Html(r.technician) + ")") + "<br>" +
           Html(Texts().signDate) + ":</td>" + line + Html(Texts().signOperator) + "<br>" +
           Html(Texts().signDate) + ":</td></tr></table>");
  return ("<html><body>" + page.Text() + "</body></html>").toStdString();
}

std::vector<uint8_t> CommissioningPdf(const CommissioningRecord& record) {
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(QString::fromUtf8(Texts().title));
    writer.setCreator(QString::fromStdString("nx480-pc " + record.toolVersion));
    QTextDocument document;
    QFont font("DejaVu Sans");
    font.setPointSizeF(9);
    document.setDefaultFont(font);
    document.setHtml(QString::fromStdString(CommissioningHtml(record)));
    document.print(&writer);
  }
  return {bytes.begin(), bytes.end()};
}

bool WriteCommissioningPdf(const std::string& path, const CommissioningRecord& record,
                           FileError& error) {
  const std::vector<uint8_t> pdf = CommissioningPdf(record);
  return WriteFileAtomically(path, pdf, error);
}

}  // namespace nx480
