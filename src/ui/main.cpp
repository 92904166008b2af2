// kiren-setup: the operator's window for the "Кирен-М1" reader.
//
// Options for demos and scripted screenshots (the window is fully usable without them):
//   --port NAME          select NAME in the port list (e.g. pts/3 of kiren-sim)
//   --connect            open the selected port at start
//   --screenshot FILE    save a picture of the window to FILE (PNG) after --quit-after
//   --quit-after MS      close the window MS milliseconds after start
// --help and --version answer without a display (no window system is touched for them).
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstring>
#include <iostream>
#include <memory>

#include "base/message_sink.h"
#include "ui/main_window.h"
#include "ui/message_boxes.h"

namespace {

struct TDemoOptions {
  QString Port;
  bool Connect = false;
  QString Screenshot;
  int QuitAfterMs = -1;
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
  parser.addOptions({port, connect, screenshot, quitAfter});
  parser.process(AApp);
  TDemoOptions o;
  o.Port = parser.value(port);
  o.Connect = parser.isSet(connect);
  o.Screenshot = parser.value(screenshot);
  bool ok = false;
  const int ms = parser.value(quitAfter).toInt(&ok);
  if (parser.isSet(quitAfter))
    o.QuitAfterMs = ok && ms >= 0 ? ms : 0;
  return o;
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

  kiren::TfMain window;
  window.show();

  if (!demo.Port.isEmpty() && !window.SelectPort(demo.Port))
    std::cerr << "kiren-setup: port " << demo.Port.toStdString() << " is not listed\n";
  if (demo.Connect)
    QTimer::singleShot(0, &window, [&window] { window.Open(); });
  if (demo.QuitAfterMs >= 0) {
    QTimer::singleShot(demo.QuitAfterMs, &window, [&window, &demo] {
      if (!demo.Screenshot.isEmpty()) {
        if (window.grab().save(demo.Screenshot))
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
