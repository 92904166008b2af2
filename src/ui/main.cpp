// kiren-setup: the operator's window for the "Кирен-М1" reader.
//
// Options for demos and scripted screenshots (the window is fully usable without them):
//   --port NAME          select NAME in the port list (e.g. pts/3 of kiren-sim)
//   --connect            open the selected port at start
//   --screenshot FILE    save a picture of the window to FILE (PNG) after --quit-after
//   --quit-after MS      close the window MS milliseconds after start
//   --click NAME         once a card is in the field, press the button or menu item NAME
//                        (its object name, e.g. bEmitCard)
//   --journal            open the journal window at start; --screenshot then saves that window
//   --journal-file FILE  keep the issuance journal in FILE instead of the usual place
//   --settings FILE      read and write the editors' settings in FILE instead of settings.ini
// --help and --version answer without a display (no window system is touched for them).
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QTabWidget>
#include <QTimer>
#include <cstring>
#include <iostream>
#include <memory>

#include "base/message_sink.h"
#include "ui/journal_dialog.h"
#include "ui/main_window.h"
#include "ui/message_boxes.h"

namespace {

struct TDemoOptions {
  QString Port;
  bool Connect = false;
  QString Screenshot;
  int QuitAfterMs = -1;
  QString Click;
  bool Journal = false;
  QString JournalFile;
  QString Settings;
};

TDemoOptions ParseOptions(const QCoreApplication& AApp) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Настройка Кирен-М1"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port to select."),
                                QStringLiteral("NAME"));
  const QCommandLineOption connect(QStringLiteral("connect"),
                                   QStringLiteral("Open the selected port at start."));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Save the window to FILE before quitting."),
                                      QStringLiteral("FILE"));
  const QCommandLineOption quitAfter(QStringLiteral("quit-after"),
                                     QStringLiteral("Close the window after MS milliseconds."),
                                     QStringLiteral("MS"));
  const QCommandLineOption click(
      QStringLiteral("click"),
      QStringLiteral("Once a card is in the field, press the button or menu item NAME."),
      QStringLiteral("NAME"));
  const QCommandLineOption journal(QStringLiteral("journal"),
                                   QStringLiteral("Open the journal window at start."));
  const QCommandLineOption journalFile(QStringLiteral("journal-file"),
                                       QStringLiteral("Keep the issuance journal in FILE."),
                                       QStringLiteral("FILE"));
  const QCommandLineOption settings(QStringLiteral("settings"),
                                    QStringLiteral("Keep the editors' settings in FILE."),
                                    QStringLiteral("FILE"));
  parser.addOptions({port, connect, screenshot, quitAfter, click, journal, journalFile, settings});
  parser.process(AApp);
  TDemoOptions o;
  o.Port = parser.value(port);
  o.Connect = parser.isSet(connect);
  o.Screenshot = parser.value(screenshot);
  o.Click = parser.value(click);
  o.Journal = parser.isSet(journal);
  o.JournalFile = parser.value(journalFile);
  o.Settings = parser.value(settings);
  bool ok = false;
  const int ms = parser.value(quitAfter).toInt(&ok);
  if (parser.isSet(quitAfter))
    o.QuitAfterMs = ok && ms >= 0 ? ms : 0;
  return o;
}

// Brings the tab that holds AWidget to the front.
void ShowTabOf(QWidget* AWidget) {
  for (QWidget* w = AWidget; w && w->parentWidget(); w = w->parentWidget())
    if (auto* tabs = qobject_cast<QTabWidget*>(w->parentWidget()->parentWidget());
        tabs && tabs->indexOf(w) >= 0)
      tabs->setCurrentWidget(w);
}

// Presses the control named AName as soon as a card is in the field.
void ClickWhenCardIsHere(kiren::TfMain& AWindow, const QString& AName) {
  auto* timer = new QTimer(&AWindow);
  QObject::connect(timer, &QTimer::timeout, &AWindow, [&AWindow, AName, timer] {
    if (!AWindow.CardIsHere())
      return;
    timer->stop();
    if (auto* button = AWindow.findChild<QAbstractButton*>(AName)) {
      ShowTabOf(button);
      button->click();
    } else if (auto* action = AWindow.findChild<QAction*>(AName))
      action->trigger();
    else
      std::cerr << "kiren-setup: no control named " << AName.toStdString() << "\n";
  });
  timer->start(100);
}

bool AsksForHelpOrVersion(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i)
    for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
      if (std::strcmp(argv[i], option) == 0)
        return true;
  return false;
}

void SetNames() {
  QCoreApplication::setApplicationName(QStringLiteral("kiren-setup"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KIREN_VERSION));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (AsksForHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);
    SetNames();
    ParseOptions(core);  // prints the text and ends the program
    return 0;
  }
  QApplication app(argc, argv);
  SetNames();
  const TDemoOptions demo = ParseOptions(app);

  // Message boxes of the core (also raised on the worker's thread) show on this thread.
  auto sink = std::make_shared<kiren::TQtMessageSink>();
  kiren::SetMessageSink(sink);

  kiren::TMainWindowOptions options;
  options.JournalPath = demo.JournalFile;
  options.SettingsPath = demo.Settings;
  kiren::TfMain window(options);
  window.show();

  if (!demo.Port.isEmpty() && !window.SelectPort(demo.Port))
    std::cerr << "kiren-setup: port " << demo.Port.toStdString() << " is not listed\n";
  if (demo.Connect)
    QTimer::singleShot(0, &window, [&window] { window.Open(); });
  if (!demo.Click.isEmpty())
    ClickWhenCardIsHere(window, demo.Click);
  QWidget* shown = &window;
  if (demo.Journal)
    shown = window.ShowJournalDialog();
  if (demo.QuitAfterMs >= 0) {
    QTimer::singleShot(demo.QuitAfterMs, &window, [&window, &demo, shown] {
      if (!demo.Screenshot.isEmpty()) {
        if (shown->grab().save(demo.Screenshot))
          std::cout << "screenshot: " << demo.Screenshot.toStdString() << std::endl;
        else
          std::cerr << "kiren-setup: cannot save " << demo.Screenshot.toStdString() << "\n";
      }
      window.close();
    });
  }
  const int rc = app.exec();
  kiren::SetMessageSink(nullptr);
  return rc;
}
