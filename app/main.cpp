// Entry point: the application object and the five windows, created once each in this order.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>

#include "form_history.h"
#include "form_journal.h"
#include "form_main.h"
#include "form_online.h"
#include "form_record.h"
#include "form_setup.h"
#include "language.h"
#include "signal_close.h"
#include "window_services.h"

namespace {

// Shows an exception that reaches the event loop and lets the program go on.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
      ShowException(QString());
    }
    return false;
  }

 private:
  static void ShowException(const QString& message) {
    QMessageBox::critical(activeWindow(), kProgramTitle, message, QMessageBox::Ok);
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  // The version alone, without a display: for scripts and package checks.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("nx480-pc " NX480_VERSION_TEXT "\n");
    return 0;
  }
  Application app(argc, argv);  // takes its own options (-platform, ...) out of argv
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  // The windows' language: --lang cs|en, else the locale's (Czech for cs, sk and C).
  std::string languageError;
  const std::optional<nx480::Language> asked = nx480::TakeLanguageOption(arguments, languageError);
  if (!languageError.empty()) {
    std::fprintf(stderr, "nx480-pc: %s\n", languageError.c_str());
    return 2;
  }
  // Without the translation the texts stay Czech; said only where English was asked for.
  if (!nx480::UseLanguage(asked.value_or(nx480::LanguageOfLocale(QLocale::system()))) && asked)
    std::fprintf(stderr, "nx480-pc: the English translation could not be loaded\n");
  // No application display name: X11 would append it to every window title.
  app.setApplicationName("nx480-pc");
  app.setQuitOnLastWindowClosed(false);

  TFormMain formMain(arguments);
  TFormOnLine formOnLine;
  TFormSetup formSetup(formMain.Session().serviceMode);
  TFormHistory formHistory;
  JournalWindow formJournal;
  RecordForm formRecord;
  formMain.AttachWindows(&formOnLine, &formSetup, &formHistory, &formJournal, &formRecord);
  CloseOnSignals signalClose(formMain);
  formMain.show();

  // The loop ends when the main window closes; closing it has paused the worker and closed the
  // port already, so the windows may go before the worker thread is ended.
  app.exec();
  formMain.FormClose();
  return 0;
}
