#include "commissioning_record.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>

#include "calibration_record.h"
#include "history_view.h"
#include "journal_view.h"
#include "language.h"
#include "relay_time.h"
#include "settings_file.h"
#include "settings_table.h"
#include "shipped_files.h"
#include "text_codec.h"
#include "this_pc.h"
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
  std::string checkResult = translate("CommissioningRecord", "Výsledek kontroly");
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
  std::string eitherPhase = translate("CommissioningRecord", "jednofázový nebo třífázový");
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
  std::string signName = translate("CommissioningRecord", "Jméno");
  std::string signDate = translate("CommissioningRecord", "Datum");
  std::string signature = translate("CommissioningRecord", "Podpis");
  std::string stamp = translate("CommissioningRecord", "Razítko");
  // The running footer: the relay's serial number, the site, the record's date; the page.
  std::string footerRelay = translate("CommissioningRecord", "Relé NX480, výrobní číslo %1");
  std::string footerPage = translate("CommissioningRecord", "strana %1 z %2");
  // The verdict of the settings against the profile.
  std::string noProfile = translate("CommissioningRecord", "bez profilu");
  std::string complies = translate("CommissioningRecord", "Vyhovuje profilu %1");
  std::string compliesExcept =
      translate("CommissioningRecord", "Vyhovuje profilu %1 (mimo %2: firmware je nemá)");
  std::string failsOne =
      translate("CommissioningRecord", "Nevyhovuje: %1 z %2 kontrolované hodnoty (%3)");
  std::string fails =
      translate("CommissioningRecord", "Nevyhovuje: %1 z %2 kontrolovaných hodnot (%3)");
  std::string noneChecked =
      translate("CommissioningRecord", "Nelze posoudit: relé nemá žádnou hodnotu profilu %1");
};
// Made for each use: the language may have changed since the last record.
RecordTexts Texts() {
  return {};
}

// What each settings row is, as the settings window names its stages (the sign of the stage
// as the live values window shows it); the row's code follows in brackets.
struct RowCaption {
  std::string_view code;
  const char* caption;
};
constexpr RowCaption kRowCaptions[] = {
    {"Faze", QT_TRANSLATE_NOOP("CommissioningRecord", "Provoz")},
    {"Uu1", QT_TRANSLATE_NOOP("CommissioningRecord", "Podpětí 1. stupně U<")},
    {"tUu1", QT_TRANSLATE_NOOP("CommissioningRecord", "Podpětí 1. stupně U<, zpoždění")},
    {"Uu2", QT_TRANSLATE_NOOP("CommissioningRecord", "Podpětí 2. stupně U<<")},
    {"tUu2", QT_TRANSLATE_NOOP("CommissioningRecord", "Podpětí 2. stupně U<<, zpoždění")},
    {"Uo1", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadpětí 1. stupně U> (10min průměr)")},
    {"tUo1",
     QT_TRANSLATE_NOOP("CommissioningRecord", "Nadpětí 1. stupně U> (10min průměr), zpoždění")},
    {"Uo2", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadpětí 2. stupně U>>")},
    {"tUo2", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadpětí 2. stupně U>>, zpoždění")},
    {"Uo3", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadpětí 3. stupně U>>>")},
    {"tUo3", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadpětí 3. stupně U>>>, zpoždění")},
    {"Fu1", QT_TRANSLATE_NOOP("CommissioningRecord", "Podfrekvence 1. stupně f<")},
    {"tFu1", QT_TRANSLATE_NOOP("CommissioningRecord", "Podfrekvence 1. stupně f<, zpoždění")},
    {"Fu2", QT_TRANSLATE_NOOP("CommissioningRecord", "Podfrekvence 2. stupně f<<")},
    {"tFu2", QT_TRANSLATE_NOOP("CommissioningRecord", "Podfrekvence 2. stupně f<<, zpoždění")},
    {"Fo1", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadfrekvence 1. stupně f>")},
    {"tFo1", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadfrekvence 1. stupně f>, zpoždění")},
    {"Fo2", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadfrekvence 2. stupně f>>")},
    {"tFo2", QT_TRANSLATE_NOOP("CommissioningRecord", "Nadfrekvence 2. stupně f>>, zpoždění")},
    {"tRel", QT_TRANSLATE_NOOP("CommissioningRecord", "Čas znovupřipojení")},
    {"Log", QT_TRANSLATE_NOOP("CommissioningRecord", "Záznam na kartu")},
};

// The row's code as the record prints it: the table's name, but the phase choice's "Faze" is a
// Czech word, which an English record translates.
std::string RowCode(const SettingsParameter& p) {
  if (p.name == "Faze") return translate("CommissioningRecord", "Faze");
  return std::string(p.name);
}

std::string RowName(const SettingsParameter& p) {
  for (const RowCaption& c : kRowCaptions)
    if (c.code == p.name)
      return translate("CommissioningRecord", c.caption) + " (" + RowCode(p) + ")";
  return RowCode(p);
}

// The decimal separator of the record's language: a comma in Czech, a point in English.
char DecimalSeparator() {
  return CurrentLanguage() == Language::English ? '.' : ',';
}

// A number text ("47.5", "47,5") with the record's decimal separator.
std::string LocalNumber(std::string text) {
  for (char& c : text)
    if (c == '.' || c == ',') c = DecimalSeparator();
  return text;
}

std::string Number(double value, int decimals) {
  return LocalNumber(DecimalText(value, decimals));
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
  if (!HasSerialNumber(serial)) return Texts().unknown;
  return SerialNumberDigits(serial, 6);
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

// A profile row's range as the record prints it: "184 – 195 V", "47,5 Hz" for a single value,
// the phase choices in words.
std::string RangeText(const ProfileRow& row) {
  if (row.unit == ProfileUnit::Mode) {
    const RecordTexts texts = Texts();
    if (row.lowest != row.highest) return texts.eitherPhase;
    return ThreePhase(row.lowest) ? texts.threePhase : texts.singlePhase;
  }
  std::string unit = row.unit == ProfileUnit::Volts     ? "V"
                     : row.unit == ProfileUnit::Percent ? "%"
                     : row.unit == ProfileUnit::Hertz   ? "Hz"
                                                        : "s";
  if (row.lowest == row.highest) return LocalNumber(row.lowestText) + " " + unit;
  return LocalNumber(row.lowestText) + " – " + LocalNumber(row.highestText) + " " + unit;
}

QString Html(const std::string& utf8) {
  return QString::fromStdString(utf8).toHtmlEscaped();
}

// The anchors that mark what must stay on one page: the text of a group's first line carries
// kKeepFrom + its number, the text of its last line kKeepTo + the same number.
constexpr char kKeepFrom[] = "keep-from-";
constexpr char kKeepTo[] = "keep-to-";

class Page {
 public:
  // The next group that must stay on one page begins with the next text marked KeepFrom and
  // ends with the one marked KeepTo.
  QString KeepFrom(const QString& html) {
    return Anchor(kKeepFrom + QString::number(++groups_), html);
  }
  QString KeepTo(const QString& html) const {
    return Anchor(kKeepTo + QString::number(groups_), html);
  }

  void Heading(const std::string& text, bool keepFrom = false) {
    html_ += "<h3>" + (keepFrom ? KeepFrom(Html(text)) : Html(text)) + "</h3>";
  }
  void Line(const std::string& text, bool keepTo = false) {
    html_ += "<p>" + (keepTo ? KeepTo(Html(text)) : Html(text)) + "</p>";
  }
  void Line(const QString& text, bool keepTo = false) {
    html_ += "<p>" + (keepTo ? KeepTo(text.toHtmlEscaped()) : text.toHtmlEscaped()) + "</p>";
  }
  // A two-column table of label and value; the last pair ends a group.
  void Pairs(const std::vector<std::pair<std::string, std::string>>& pairs, bool keepTo = false) {
    html_ += "<table cellspacing='0' cellpadding='2'>";
    for (size_t i = 0; i < pairs.size(); ++i) {
      const QString label = Html(pairs[i].first) + ":";
      html_ += "<tr><td width='160'>" + (keepTo && i + 1 == pairs.size() ? KeepTo(label) : label) +
               "</td><td><b>" + Html(pairs[i].second) + "</b></td></tr>";
    }
    html_ += "</table>";
  }
  // A table whose title row is repeated on each page it runs over.
  void BeginTable(const std::vector<std::string>& titles) {
    html_ += "<table border='1' cellspacing='0' cellpadding='2' width='100%'><thead><tr>";
    for (const std::string& t : titles) html_ += "<th align='left'>" + Html(t) + "</th>";
    html_ += "</tr></thead>";
  }
  void Row(const std::vector<std::string>& cells, bool bold = false, bool keepTo = false) {
    html_ += "<tr>";
    for (size_t i = 0; i < cells.size(); ++i) {
      QString cell = bold ? "<b>" + Html(cells[i]) + "</b>" : Html(cells[i]);
      if (keepTo && i == 0) cell = KeepTo(cell);
      html_ += "<td>" + cell + "</td>";
    }
    html_ += "</tr>";
  }
  void EndTable() { html_ += "</table>"; }
  void Raw(const QString& html) { html_ += html; }
  QString Text() const { return html_; }

 private:
  static QString Anchor(const QString& name, const QString& html) {
    return "<a name='" + name + "'>" + html + "</a>";
  }
  QString html_;
  int groups_ = 0;
};

// The check result's line: bold, red when the settings fail the profile.
QString VerdictHtml(const CommissioningRecord& r) {
  const ProfileVerdict v = VerdictOf(r);
  const QString text = Html(VerdictText(r));
  return v.outside.empty() ? "<b>" + text + "</b>"
                           : "<b><span style='color:#c00000'>" + text + "</span></b>";
}

void SettingsSection(Page& page, const CommissioningRecord& r) {
  const FirmwareFeatures& firmware = r.session.firmware;
  const RecordTexts texts = Texts();
  // The heading, the table and the fingerprint that certifies it stay on one page.
  page.Heading(texts.settings, true);
  std::vector<RowCheck> checks;
  if (r.profile) {
    page.Line(
        QString::fromUtf8(texts.profile) + ": " + QString::fromStdString(r.profile->name) +
        (r.profile->source.empty() ? "" : " (" + QString::fromStdString(r.profile->source) + ")"));
    checks = CheckSettings(*r.profile, r.settings, firmware);
  }
  std::vector<std::string> titles{texts.parameter, texts.value, texts.percent};
  if (r.profile) {
    titles.push_back(texts.range);
    titles.push_back(texts.verdict);
  }
  page.BeginTable(titles);
  for (const SettingsParameter& p : SettingsParameters()) {
    const bool has = HasParameter(firmware, p);
    std::string range, verdict;
    bool failed = false;
    for (const RowCheck& c : checks) {
      if (c.row->parameter != &p) continue;
      range += (range.empty() ? "" : "; ") + RangeText(*c.row);
      const std::string v = c.verdict == RowVerdict::Inside    ? texts.inside
                            : c.verdict == RowVerdict::Outside ? texts.outside
                                                               : texts.notInFirmware;
      failed = failed || c.verdict == RowVerdict::Outside;
      if (verdict.find(v) == std::string::npos)
        verdict += (verdict.empty() ? "" : "; ") + std::string(v);
    }
    if (!has && range.empty()) continue;  // neither the relay nor the profile has it
    std::string value = "-", percent;
    if (has) {
      const double units = ParameterValue(r.settings, p, firmware);
      if (p.quantity == Quantity::Phases) {
        value = ThreePhase(units) ? texts.threePhase : texts.singlePhase;
      } else {
        value = Number(units, p.decimals) + " " + std::string(UnitSymbol(p.quantity));
        if (p.quantity == Quantity::Voltage) percent = Number(PercentOfNominal(units), 1) + " %";
      }
    }
    std::vector<std::string> cells{RowName(p), value, percent};
    if (r.profile) {
      cells.push_back(range.empty() ? texts.notInProfile : range);
      cells.push_back(range.empty() ? texts.notInProfile : verdict);
    }
    page.Row(cells, failed);
  }
  page.EndTable();
  // The shipped monospace font by name: a bare <tt> is the platform's (Courier New on Windows).
  page.Raw("<p>" + page.KeepTo(Html(texts.settingsHash) + ":") +
           " <span style=\"font-family: 'DejaVu Sans Mono'\">" +
           QString::fromStdString(SettingsImageSha256(r.settings)) + "</span></p>");
}

void CalibrationSection(Page& page, const CalibrationWords& words) {
  page.Heading(Texts().calibration, true);
  page.BeginTable({Texts().factor, Texts().value});
  CalibrationBoxes boxes;
  CalibrationToBoxes(words, boxes);
  for (int f = 0; f < kFactorCount; ++f)
    page.Row({kFactorNames[f], LocalNumber(boxes.factor[f])}, false, f + 1 == kFactorCount);
  page.EndTable();
}

void EventsSection(Page& page, const std::vector<HistoryRecord>& events) {
  const RecordTexts texts = Texts();
  // The heading stays with the count and the table's first rows.
  page.Heading(texts.events, true);
  if (events.empty()) {
    page.Line(texts.noEvents, true);
    return;
  }
  const size_t n = events.size();
  page.Line(n == 1 ? QString::fromUtf8(texts.lastEvent)
                   : QString::fromUtf8(n <= 4 ? texts.lastFewEvents : texts.lastEvents).arg(n));
  std::vector<HistoryRow> table = HistoryTable(events, StampText);
  page.BeginTable({table[0].begin(), table[0].end()});
  constexpr size_t kFrequency = 2;  // the column in hertz, written with a decimal comma
  for (size_t i = 1; i < table.size(); ++i) {
    table[i][kFrequency] = LocalNumber(table[i][kFrequency]);
    page.Row({table[i].begin(), table[i].end()}, false, i == std::min<size_t>(3, table.size() - 1));
  }
  page.EndTable();
}

void JournalSection(Page& page, const std::vector<JournalEntry>& journal) {
  page.Heading(Texts().journal, true);
  if (journal.empty()) {
    page.Line(Texts().noJournal, true);
    return;
  }
  page.BeginTable({Texts().journalTime, Texts().journalChange, Texts().journalDescription,
                   Texts().journalOutcome});
  // As the journal window lists them.
  for (size_t i = 0; i < journal.size(); ++i) {
    const JournalRow row = JournalRowOf(journal[i]);
    std::string when = "?";
    if (row.when) {
      const JournalStamp& t = *row.when;
      when = StampText({t.year, t.month, t.day, t.hour, t.minute, t.second});
    }
    page.Row({when, row.change, row.summary, row.outcome}, false, i == 0);
  }
  page.EndTable();
}

// The check's result, the heading and both signatures stay on one page: the technician's with
// the name, the operator's with a line for the name and room for the stamp.
void SignatureSection(Page& page, const CommissioningRecord& r) {
  const RecordTexts texts = Texts();
  page.Raw("<p>" + page.KeepFrom(Html(texts.checkResult) + ":") + " " + VerdictHtml(r) + "</p>");
  page.Heading(texts.signatures);
  const QString dots = "......................................";
  const auto line = [&](const std::string& label, const QString& value) {
    return Html(label) + ": " + value + "<br><br>";
  };
  const QString technician = r.technician.empty() ? dots : "<b>" + Html(r.technician) + "</b>";
  page.Raw(
      "<table width='100%' cellspacing='0' cellpadding='4'><tr>"
      "<td width='50%' valign='top'><b>" +
      Html(texts.signTechnician) + "</b><br><br>" + line(texts.signName, technician) +
      line(texts.signDate, dots) + "<br>" + line(texts.signature, dots) +
      "</td><td width='50%' valign='top'><b>" + Html(texts.signOperator) + "</b><br><br>" +
      line(texts.signName, dots) + line(texts.signDate, dots) + "<br>" +
      line(texts.signature, dots) +
      "<table border='1' cellspacing='0' cellpadding='6' width='90%'><tr><td>"
      "<font color='#808080'>" +
      Html(texts.stamp) + "<br><br><br><br><br><br>" + page.KeepTo("&nbsp;") +
      "</font></td></tr></table></td></tr></table>");
}

// The groups the page's anchors mark, as the blocks they begin and end in.
std::vector<std::pair<QTextBlock, QTextBlock>> KeptGroups(const QTextDocument& document) {
  std::map<int, QTextBlock> from, to;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      for (const QString& name : it.fragment().charFormat().anchorNames()) {
        if (name.startsWith(kKeepFrom)) from[name.mid(sizeof kKeepFrom - 1).toInt()] = block;
        if (name.startsWith(kKeepTo)) to[name.mid(sizeof kKeepTo - 1).toInt()] = block;
      }
    }
  }
  std::vector<std::pair<QTextBlock, QTextBlock>> groups;
  for (const auto& [number, first] : from)
    if (const auto last = to.find(number); last != to.end())
      groups.emplace_back(first, last->second);
  return groups;
}

// A group that runs over a page's end begins on the next page (unless it is taller than a
// page). In document order: a break moves only what follows it.
void KeepGroupsTogether(QTextDocument& document) {
  QAbstractTextDocumentLayout* layout = document.documentLayout();
  const double pageHeight = document.pageSize().height();
  const auto pageOf = [pageHeight](double y) {
    return static_cast<int>(std::floor(y / pageHeight));
  };
  for (const auto& [first, last] : KeptGroups(document)) {
    const double top = layout->blockBoundingRect(first).top();
    const double bottom = layout->blockBoundingRect(last).bottom();
    if (pageOf(top) == pageOf(bottom - 1) || bottom - top > pageHeight) continue;
    QTextCursor cursor(first);
    QTextBlockFormat format = cursor.blockFormat();
    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    cursor.setBlockFormat(format);
    // Laid out again whole: after a break the tables below it were found where they had been.
    document.markContentsDirty(0, document.characterCount());
  }
}

}  // namespace

ProfileVerdict VerdictOf(const CommissioningRecord& record) {
  ProfileVerdict verdict;
  if (!record.profile) return verdict;
  verdict.profile = true;
  for (const RowCheck& c :
       CheckSettings(*record.profile, record.settings, record.session.firmware)) {
    const std::string code = RowCode(*c.row->parameter);
    if (c.verdict == RowVerdict::NotInFirmware) {
      verdict.notInFirmware.push_back(code);
      continue;
    }
    ++verdict.checked;
    if (c.verdict == RowVerdict::Outside) verdict.outside.push_back(code);
  }
  return verdict;
}

std::string VerdictText(const CommissioningRecord& record) {
  const RecordTexts texts = Texts();
  const ProfileVerdict v = VerdictOf(record);
  if (!v.profile) return texts.noProfile;
  const std::string& name = record.profile->name;
  if (v.checked == 0) return Arg(texts.noneChecked, {name});
  if (!v.outside.empty())
    return Arg(v.checked == 1 ? texts.failsOne : texts.fails,
               {std::to_string(v.outside.size()), std::to_string(v.checked), Joined(v.outside)});
  if (!v.notInFirmware.empty()) return Arg(texts.compliesExcept, {name, Joined(v.notInFirmware)});
  return Arg(texts.complies, {name});
}

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
  const std::string host = ThisPcHost();
  record.host = host.empty() ? "?" : host;
  record.toolVersion = NX480_VERSION_TEXT;
  record.journal.clear();
  if (const std::optional<std::string> root = JournalRoot(env))
    record.journal = RecentJournal(*root, session.serialNumber,
                                   std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
}

std::string CommissioningHtml(const CommissioningRecord& r) {
  const RecordTexts texts = Texts();
  Page page;
  page.Raw("<h2>" + Html(texts.title) + "</h2>");
  page.Raw("<p style='font-size:11pt'>" + Html(texts.checkResult) + ": " + VerdictHtml(r) + "</p>");
  std::vector<std::pair<std::string, std::string>> who{{texts.site, r.site},
                                                       {texts.technician, r.technician}};
  if (r.profile)
    who.emplace_back(
        texts.profile,
        r.profile->name + (r.profile->source.empty() ? "" : " (" + r.profile->source + ")"));
  who.insert(who.end(),
             {{texts.madeAt, r.madeAt}, {texts.host, r.host}, {texts.toolVersion, r.toolVersion}});
  page.Pairs(who);

  const RelaySession& s = r.session;
  page.Heading(texts.relay, true);
  page.Pairs({{texts.identification, Cp1250ToUtf8(s.identText)},
              {texts.serialNumber, SerialText(s.serialNumber)},
              {texts.firmware, std::to_string(s.firmware.minor)},
              {texts.temperature, s.hasTemperature ? texts.yes : texts.no},
              {texts.port, s.port}},
             true);

  page.Heading(texts.clock, true);
  // Tenths of a second, rounded before the sign is chosen: no "-0,0 s".
  const double offsetTenths = std::round((r.relayTime - r.pcTime) * 864000.0);
  page.Pairs({{texts.relayTime, TimeText(r.relayTime)},
              {texts.pcTime, TimeText(r.pcTime)},
              {texts.offset, (offsetTenths > 0 ? "+" : "") + Number(offsetTenths / 10, 1) + " s"}},
             true);

  SettingsSection(page, r);
  if (r.calibration) CalibrationSection(page, *r.calibration);
  EventsSection(page, r.events);
  JournalSection(page, r.journal);
  SignatureSection(page, r);
  return ("<html><body>" + page.Text() + "</body></html>").toStdString();
}

std::vector<uint8_t> CommissioningPdf(const CommissioningRecord& record) {
  // DejaVu from beside the program where it ships so (Windows), the system's otherwise: the
  // same look everywhere.
  static const bool fontsLoaded = (LoadShippedFonts(QCoreApplication::applicationDirPath()), true);
  (void)fontsLoaded;
  const RecordTexts texts = Texts();
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(QString::fromUtf8(texts.title));
    writer.setCreator(QString::fromStdString("nx480-pc " + record.toolVersion));

    // The footer's band at the bottom of each page's printable area, the body above it.
    QFont footerFont("DejaVu Sans");
    footerFont.setPointSizeF(7.5);
    const double footerHeight = QFontMetricsF(footerFont, &writer).height() * 2.5;
    const QSizeF body(writer.width(), writer.height() - footerHeight);

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    QFont font("DejaVu Sans");
    font.setPointSizeF(9);
    document.setDefaultFont(font);
    document.setHtml(QString::fromStdString(CommissioningHtml(record)));
    QTextFrameFormat root = document.rootFrame()->frameFormat();
    root.setMargin(0);
    document.rootFrame()->setFrameFormat(root);
    document.setPageSize(body);
    KeepGroupsTogether(document);

    // Every page names its relay, where and when the record was made, and which page it is.
    std::string relay = Arg(texts.footerRelay, {SerialText(record.session.serialNumber)});
    if (!record.site.empty()) relay += " · " + record.site;
    if (!record.madeAt.empty()) relay += " · " + record.madeAt;
    const int pages = document.pageCount();
    QPainter painter(&writer);
    for (int i = 0; i < pages; ++i) {
      if (i > 0) writer.newPage();
      painter.save();
      painter.translate(0, -i * body.height());
      QAbstractTextDocumentLayout::PaintContext context;
      // Only what lies on the page is drawn: a text clipped away would still be read from it.
      context.clip = QRectF(0, i * body.height(), body.width(), body.height());
      painter.setClipRect(context.clip);
      document.documentLayout()->draw(&painter, context);
      painter.restore();

      const QRectF footer(0, writer.height() - footerHeight * 0.6, body.width(),
                          footerHeight * 0.6);
      painter.setPen(QPen(Qt::gray, 2));
      painter.drawLine(footer.topLeft(), footer.topRight());
      painter.setPen(Qt::black);
      painter.setFont(footerFont);
      const QString pageText = QString::fromStdString(
          Arg(texts.footerPage, {std::to_string(i + 1), std::to_string(pages)}));
      const QFontMetricsF metrics(footerFont, &writer);
      const double pageWidth = metrics.horizontalAdvance(pageText);
      painter.drawText(footer, Qt::AlignRight | Qt::AlignBottom, pageText);
      painter.drawText(footer.adjusted(0, 0, -pageWidth * 1.5, 0), Qt::AlignLeft | Qt::AlignBottom,
                       metrics.elidedText(QString::fromStdString(relay), Qt::ElideMiddle,
                                          footer.width() - pageWidth * 1.5));
    }
  }
  return {bytes.begin(), bytes.end()};
}

bool WriteCommissioningPdf(const std::string& path, const CommissioningRecord& record,
                           FileError& error) {
  const std::vector<uint8_t> pdf = CommissioningPdf(record);
  return WriteFileAtomically(path, pdf, error);
}

}  // namespace nx480
