// fade-floor's window in Qt 6: a shown top-level widget, and one pass of the
// thread's event dispatcher without waiting. Qt has no way to look at the
// window system's queue without processing what is in it, so one pass over
// an empty queue - the program's drain when nothing is pending - is the
// least a Qt program can do to see input.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QThread>
#include <QWidget>

#include "floor.h"

static QWidget* g_window = nullptr;

int OpenFloorWindow() {
  static int argc = 1;
  static char name[] = "fade-floor";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the process
  g_window = new QWidget;
  g_window->setWindowTitle("fade-floor");
  g_window->setFixedSize(580, 165);
  g_window->show();
  // What showing the window queued (expose, paint, activation) is taken now,
  // so the steps find the queue as a quiet fade does.
  for (int i = 0; i < 50; ++i) QApplication::processEvents();
  return 1;
}

void PeekFloorQueue() {
  QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
  if (dispatcher != nullptr) dispatcher->processEvents(QEventLoop::AllEvents);
}

void CloseFloorWindow() {
  delete g_window;
  g_window = nullptr;
}
