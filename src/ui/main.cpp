// kiren-setup: the operator's window for the "Кирен-М1" reader.
//
// Options for demos and scripted screenshots (the window is fully usable without them):
//   --port NAME          select NAME in the port list (e.g. pts/3 of kiren-sim)
//   --connect            open the selected port at start
//   --screenshot FILE    save a picture of the window to FILE (PNG) after --quit-after
//   --quit-after MS      close the window MS milliseconds after start
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
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

TDemoOptions ParseOptions(const QApplication& AApp) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Настройка Кирен-М1"));
  parser.addHelpOption();
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

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kiren-setup"));
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
