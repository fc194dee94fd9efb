// The user of the Qt window: QTest's mouse and key events on the real widgets,
// under Qt's offscreen platform unless the environment names another.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include "tests/ui_driver.h"
#include "ui/controls.h"

namespace {

QWidget* MainWindowWidget() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle() == QString::fromUtf8(kWindowTitle)) return w;
  }
  return nullptr;
}

// The widget that stands for a control (for the spin: its text box).
QWidget* Widget(int control) {
  QWidget* main = MainWindowWidget();
  if (main == nullptr) return nullptr;
  for (QWidget* w : main->findChildren<QWidget*>()) {
    if (w->property("quorlenControl").toInt() == control) return w;
  }
  return nullptr;
}

}  // namespace

void DriverStart(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int count = argc;
  new QApplication(count, argv);  // the backend takes this one
}

void UserClick(int control) {
  if (control == StopWhenMovedOption || control == ShowAllFadersOption) {  // chosen from the window's context menu
    const char* text = control == StopWhenMovedOption ? kStopWhenMovedText : kShowAllFadersText;
    for (QAction* action : MainWindowWidget()->actions()) {
      if (action->text() == QString::fromUtf8(text)) action->trigger();
    }
    return;
  }
  QTest::mouseClick(Widget(control), Qt::LeftButton);
}

void UserSelectEntry(int control, int index) {
  auto* list = static_cast<QListWidget*>(Widget(control));
  list->scrollToItem(list->item(index));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(index)).center());
}

// The move is sent as the toolkit delivers one with the button held: QTest's
// own mouseMove only moves the cursor, which the offscreen platform ignores.
void UserDragFromEntry(int control, int index, int dx, int dy) {
  auto* list = static_cast<QListWidget*>(Widget(control));
  QWidget* view = list->viewport();
  const QPoint from = list->visualItemRect(list->item(index)).center();
  const QPoint to = from + QPoint(dx, dy);
  QTest::mousePress(view, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(to), view->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

void UserSpinStep(int control, int delta) {
  QTest::keyClick(Widget(control), delta > 0 ? Qt::Key_Up : Qt::Key_Down);
}

void UserType(int control, const char* text) {
  auto* edit = static_cast<QLineEdit*>(Widget(control));
  edit->end(false);
  QTest::keyClicks(edit, QString::fromUtf8(text));
}

void UserCloseWindow() {
  MainWindowWidget()->close();
}

// QTest hands the key to the window's shortcuts first, as a real key press goes.
void UserPressEscape() {
  QApplication::setActiveWindow(MainWindowWidget());
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus != nullptr ? focus : MainWindowWidget(), Qt::Key_Escape);
}

void UserTab(int direction) {
  QWidget* focus = QApplication::focusWidget();
  QTest::keyClick(focus != nullptr ? focus : MainWindowWidget(), direction > 0 ? Qt::Key_Tab : Qt::Key_Backtab,
                  direction > 0 ? Qt::NoModifier : Qt::ShiftModifier);
}

int FocusedControl() {
  for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
    const QVariant number = w->property("quorlenControl");
    if (number.isValid()) return number.toInt();
  }
  return -1;
}

void FocusControl(int control) {
  QApplication::setActiveWindow(MainWindowWidget());
  Widget(control)->setFocus(Qt::MouseFocusReason);
}

int ControlEnabled(int control) {
  QWidget* w = Widget(control);
  return w != nullptr && w->isEnabled() ? 1 : 0;
}

std::string ListEntry(int control, int index) {
  const QListWidgetItem* item = static_cast<QListWidget*>(Widget(control))->item(index);
  return item != nullptr ? item->text().toStdString() : std::string();
}

std::vector<std::uint32_t> ShownPixels(int control, bool whole) {
  QWidget* main = MainWindowWidget();
  QWidget* widget = Widget(control);
  if (main == nullptr || widget == nullptr) return {};
  // The window's own pixels (the offscreen platform keeps them), or the
  // widget drawn whole into a picture of its own.
  const QPoint at = widget->mapTo(main, QPoint(0, 0));
  const QPixmap picture =
      whole ? widget->grab()
            : main->screen()->grabWindow(main->winId(), at.x(), at.y(), widget->width(), widget->height());
  const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
    pixels.insert(pixels.end(), row, row + image.width());
  }
  return pixels;
}
