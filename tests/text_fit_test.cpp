// Every label's and button's text fits its widget, as laid out, in each language: measured with
// the widget's own font against the room its style leaves for the text. The windows are shown
// as the tool shows them (the settings window in service mode, so that every page is there).
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "form_trend.h"
#include "language.h"
#include "window_fixture.h"

namespace {

// The text as drawn: "&&" is one "&", a single "&" marks the mnemonic and takes no room.
QString Drawn(QString text) {
  static const QRegularExpression mnemonic("&(.)");
  return text.replace(mnemonic, "\\1");
}

int Widest(const QFontMetrics& metrics, const QString& text) {
  int widest = 0;
  for (const QString& line : text.split('\n'))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  return widest;
}

// Why the widget's text does not fit, empty when it does.
QString Cut(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->text().isEmpty() || label->textFormat() == Qt::RichText ||
        Qt::mightBeRichText(label->text()))
      return {};
    const int room =
        label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
    if (label->wordWrap())
      return label->heightForWidth(label->width()) > label->height()
                 ? QString("needs %1 px height, has %2")
                       .arg(label->heightForWidth(label->width()))
                       .arg(label->height())
                 : QString();
    const int needed = Widest(label->fontMetrics(), Drawn(label->text()));
    return needed > room ? QString("needs %1 px, has %2").arg(needed).arg(room) : QString();
  }
  if (auto* button = qobject_cast<QPushButton*>(w)) {
    if (button->text().isEmpty()) return {};
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const int room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width() -
        (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
    const int needed = Widest(button->fontMetrics(), Drawn(button->text()));
    return needed > room ? QString("needs %1 px, has %2").arg(needed).arg(room) : QString();
  }
  if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
    auto* button = static_cast<QAbstractButton*>(w);
    if (button->text().isEmpty()) return {};
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect contents = button->style()->subElementRect(
        qobject_cast<QCheckBox*>(w) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
        &option, button);
    const int room = std::min(contents.right(), button->width() - 1) - contents.left() + 1;
    const int needed = Widest(button->fontMetrics(), Drawn(button->text()));
    return needed > room ? QString("needs %1 px, has %2").arg(needed).arg(room) : QString();
  }
  if (auto* box = qobject_cast<QGroupBox*>(w)) {
    if (box->title().isEmpty()) return {};
    const int needed = Widest(box->fontMetrics(), Drawn(box->title())) + 16;
    return needed > box->width() ? QString("needs %1 px, has %2").arg(needed).arg(box->width())
                                 : QString();
  }
  return {};
}

// The cut texts of `window` and every widget in it, pages of tab widgets included.
QStringList CutTexts(QWidget* window) {
  QStringList cut;
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* w : widgets) {
    const QString why = Cut(w);
    if (!why.isEmpty())
      cut << QString("%1 %2 \"%3\": %4")
                 .arg(window->objectName(), w->objectName(),
                      qobject_cast<QAbstractButton*>(w) ? static_cast<QAbstractButton*>(w)->text()
                      : qobject_cast<QLabel*>(w)        ? static_cast<QLabel*>(w)->text()
                      : qobject_cast<QGroupBox*>(w)     ? static_cast<QGroupBox*>(w)->title()
                                                        : QString(),
                      why);
  }
  return cut;
}

// The texts a widget shows besides its caption: title, tooltip, placeholder, items, headers, tabs.
QStringList ShownTexts(QWidget* w) {
  QStringList texts{w->isWindow() ? w->windowTitle() : QString(), w->toolTip()};
  if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) texts << g->title();
  if (auto* e = qobject_cast<QLineEdit*>(w)) texts << e->placeholderText();
  if (auto* c = qobject_cast<QComboBox*>(w))
    for (int i = 0; i < c->count(); ++i) texts << c->itemText(i);
  if (auto* t = qobject_cast<QTabWidget*>(w))
    for (int i = 0; i < t->count(); ++i) texts << t->tabText(i);
  if (auto* t = qobject_cast<QTreeWidget*>(w))
    for (int i = 0; i < t->columnCount(); ++i) texts << t->headerItem()->text(i);
  if (auto* t = qobject_cast<QTableWidget*>(w))
    for (int i = 0; i < t->columnCount(); ++i)
      if (t->horizontalHeaderItem(i)) texts << t->horizontalHeaderItem(i)->text();
  return texts;
}

// Czech words left in an English window: a text with a letter only Czech has.
QStringList CzechTexts(QWidget* window) {
  static const QRegularExpression czech("[ěščřžýáíéůúťďňóĚŠČŘŽÝÁÍÉŮÚŤĎŇÓ]");
  QStringList found;
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets.prepend(window);
  for (QWidget* w : widgets)
    for (const QString& text : ShownTexts(w))
      if (text.contains(czech))
        found << QString("%1 %2 \"%3\"").arg(window->objectName(), w->objectName(), text);
  return found;
}

}  // namespace

class TextFitTest : public QObject {
  Q_OBJECT
 private slots:
  void everyTextFits_data() {
    QTest::addColumn<int>("language");
    QTest::newRow("cs") << static_cast<int>(nx480::Language::Czech);
    QTest::newRow("en") << static_cast<int>(nx480::Language::English);
  }
  void everyTextFits() {
    QFETCH(int, language);
    QVERIFY(nx480::UseLanguage(static_cast<nx480::Language>(language)));
    {
      AppFixture app({"/servis"});
      app.Pretend(14, true, true);
      QList<QWidget*> windows{&app.main,    &app.onLine, &app.setup,         &app.history,
                              &app.journal, &app.record, &app.onLine.Trend()};
      QStringList cut;
      for (QWidget* w : windows) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Each page of a tab widget shown in turn: a hidden page lays nothing out.
        for (QTabWidget* tabs : w->findChildren<QTabWidget*>())
          for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
            cut << CutTexts(tabs->widget(i));
          }
        cut << CutTexts(w);
      }
      cut.removeDuplicates();
      QVERIFY2(cut.isEmpty(), qPrintable("\n" + cut.join('\n')));
      if (language == static_cast<int>(nx480::Language::English)) {
        QStringList czech;
        for (QWidget* w : windows) czech << CzechTexts(w);
        czech.removeDuplicates();
        QVERIFY2(czech.isEmpty(), qPrintable("\n" + czech.join('\n')));
      }
    }
    nx480::UseLanguage(nx480::Language::Czech);
  }

  // Qt's own dialogs speak the interface's language: the file dialog that Alt+O ("&Otevři",
  // "&Open") of the settings window opens, as Qt draws it.
  void qtDialogsInTheLanguage_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("cs") << static_cast<int>(nx480::Language::Czech)
                        << QStringList{"&Otevřít", "Zrušit", "Hledat v:"};
    QTest::newRow("en") << static_cast<int>(nx480::Language::English)
                        << QStringList{"&Open", "Cancel", "Look in:"};
  }
  void qtDialogsInTheLanguage() {
    QFETCH(int, language);
    QFETCH(QStringList, texts);
    QVERIFY(nx480::UseLanguage(static_cast<nx480::Language>(language)));
    {
      AppFixture app;
      AppDialogs().chooseOpenFile = app.saved.chooseOpenFile;  // Qt's own file dialog
      app.setup.show();
      app.setup.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&app.setup));
      QStringList shown;
      QTimer look;
      connect(&look, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        look.stop();
        for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) shown << b->text();
        for (QLabel* l : dialog->findChildren<QLabel*>()) shown << l->text();
        QTest::keyClick(dialog, Qt::Key_Escape);
      });
      look.start(20);
      QWidget* focus = QApplication::focusWidget();
      QTest::keyClick(focus ? focus : &app.setup, Qt::Key_O, Qt::AltModifier);
      // The mnemonic's click comes a moment later; the dialog is looked at while it is open.
      QVERIFY(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 10000));
      for (const QString& text : texts) QVERIFY2(shown.contains(text), qPrintable(shown.join('|')));
    }
    nx480::UseLanguage(nx480::Language::Czech);
  }

  // In English the windows answer to the English mnemonics and the relay is read as in Czech.
  void englishByKeys() {
    QVERIFY(nx480::UseLanguage(nx480::Language::English));
    {
      nx480::sim::RelayConfig config;
      const std::unique_ptr<nx480::sim::PtyRelay> relay = StartRelay(config);
      AppFixture app;
      app.main.ListPorts = [&] { return std::vector<std::string>{relay->SlavePath()}; };
      app.main.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&app.main));
      QTest::keyClick(&app.main, Qt::Key_F1);
      QVERIFY(QTest::qWaitFor([&] { return app.main.Session().connected; }, 10000));
      QCOMPARE(app.main.ButtonConnect->text(), QString("Dis&connect F1"));
      app.main.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&app.main));
      QTest::keyClick(&app.main, Qt::Key_S, Qt::AltModifier);  // "&Settings"
      QVERIFY(QTest::qWaitFor([&] { return app.setup.isVisible(); }, 10000));
      QCOMPARE(app.setup.windowTitle(), QString("Settings"));
      app.setup.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&app.setup));
      QWidget* focus = QApplication::focusWidget();
      QTest::keyClick(focus ? focus : &app.setup, Qt::Key_R, Qt::AltModifier);  // "&Read"
      QVERIFY(QTest::qWaitFor([&] { return app.setup.LabelMsg->text() == "O.K."; }, 10000));
      QCOMPARE(app.params.Edit[nx480::kBoxUu1]->text(), QString("196"));
      QTest::keyClick(&app.main, Qt::Key_F1);  // disconnect
    }
    nx480::UseLanguage(nx480::Language::Czech);
  }
};

QTEST_MAIN(TextFitTest)
#include "text_fit_test.moc"
