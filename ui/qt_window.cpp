// The control layer's Qt 6 Widgets half, for the Linux program: the main
// window and its controls drawn from the shared table in logical pixels (Qt's
// high-DPI scaling does the rest), Qt's event processing on the program's one
// thread, message boxes and opening the maker's web page. The rules (creation
// order, option group, spin range, events) are the shared core's; every
// signal here only reports to it.
#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QGlyphRun>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRawFont>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "ui/control_core.h"
#include "ui/line_span.h"

namespace {

constexpr int kStatusBarHeight = 20;  // a drawing area of at least 18 pixels, as on Windows
constexpr int kStatusBarInset = 4;    // the bar's margins around its line
// The layout's rectangles were made for the Windows GUI font, 8 points (11
// pixels at 96 DPI). Linux desktops default to 10 points or more and to wider
// families, which don't fit the fixed rectangles. So the controls take the
// desktop's family at 8 points, made smaller, half a point at a time, until
// every caption fits its rectangle.
constexpr double kControlFontPoints = 8.0;
constexpr double kSmallestFontPoints = 6.0;
constexpr const char* kControlProperty = "quorlenControl";

// The status bar's line. A QLabel would show it, but a label repaints itself
// whole at every new text, ten times a second during a fade; this line draws
// only the glyphs that changed (ui/line_span.h), each where a drawing of the
// whole line puts it. A line with a character its font lacks is drawn whole
// by Qt's text layout instead, which takes the character from another font.
class StatusLine final : public QWidget {
 public:
  StatusLine(const QString& line, QWidget* parent) : QWidget(parent), line_(line) {
    setAttribute(Qt::WA_OpaquePaintEvent);  // paintEvent fills what it draws
    layout_ = LayOut(line_);
  }

  const QString& Line() const { return line_; }

  void SetLine(const QString& line) {
    if (line == line_) return;
    Layout next = LayOut(line);
    const LineSpan span = layout_.complete && next.complete ? ChangedLineSpan(layout_.Glyphs(), next.Glyphs(), width())
                                                            : LineSpan{0, width()};
    line_ = line;
    layout_ = std::move(next);
    // Heard by a screen reader as a label's new text is.
    QAccessibleEvent changed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
    if (span.from < span.to) repaint(span.from, 0, span.to - span.from, height());
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    painter.setPen(palette().windowText().color());
    if (!layout_.complete) {
      painter.drawText(rect(), Qt::AlignCenter, line_);
      return;
    }
    QList<QPointF> positions;
    positions.reserve(static_cast<qsizetype>(layout_.advances.size()));
    double x = CentredLineLeft(LineWidth(layout_.Glyphs()), width());
    const double baseline = std::round((height() + font_.ascent() - font_.descent()) / 2);
    for (const double advance : layout_.advances) {
      positions.append(QPointF(x, baseline));
      x += advance;
    }
    QGlyphRun run;
    run.setRawFont(font_);
    run.setGlyphIndexes(QList<quint32>(layout_.glyphs.begin(), layout_.glyphs.end()));
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, 0), run);
  }

  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::FontChange) {
      font_ = QRawFont();
      known_.clear();
      layout_ = LayOut(line_);
      update();
    }
    QWidget::changeEvent(event);
  }

 private:
  struct Layout {
    std::vector<std::uint32_t> glyphs;
    std::vector<double> advances;
    bool complete = false;  // every character has its glyph in the font
    LineGlyphs Glyphs() const { return {glyphs, advances}; }
  };

  // Each character's glyph and advance are asked of the font once.
  Layout LayOut(const QString& line) {
    if (!font_.isValid()) font_ = QRawFont::fromFont(font());
    Layout layout;
    layout.complete = font_.isValid();
    for (const QChar character : line) {
      auto known = known_.find(character.unicode());
      if (known == known_.end()) {
        quint32 glyph = 0;
        int count = 1;
        if (!font_.glyphIndexesForChars(&character, 1, &glyph, &count) || count != 1) glyph = 0;
        const QList<QPointF> advances = font_.advancesForGlyphIndexes(QList<quint32>{glyph});
        known = known_.emplace(character.unicode(), Glyph{glyph, advances.isEmpty() ? 0.0 : advances[0].x()}).first;
      }
      if (known->second.index == 0) layout.complete = false;
      layout.glyphs.push_back(known->second.index);
      layout.advances.push_back(known->second.advance);
    }
    return layout;
  }

  struct Glyph {
    quint32 index;
    double advance;
  };
  QString line_;
  Layout layout_;
  QRawFont font_;
  std::map<char16_t, Glyph> known_;
};

// The line, to a screen reader: a label whose name is the line.
class StatusLineAccessible final : public QAccessibleWidget {
 public:
  explicit StatusLineAccessible(StatusLine* line) : QAccessibleWidget(line, QAccessible::StaticText) {}
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name ? static_cast<StatusLine*>(widget())->Line() : QAccessibleWidget::text(t);
  }
};

// One control: the widget that stands for it, and the parts some kinds have.
struct QtControl {
  QWidget* widget = nullptr;
  QLabel* text = nullptr;      // a label's text
  StatusLine* line = nullptr;  // the status bar's line
  QListWidget* list = nullptr;
  QLineEdit* edit = nullptr;  // the spin's text box
  QWidget* arrows = nullptr;  // the spin's arrow pair
  QLineEdit* octets[4] = {};  // the address field's four fields
  QAction* action = nullptr;  // the check item of the window's context menu
  std::int64_t value = 0;     // the spin's value
};

std::map<int, QtControl> g_controls;
QWidget* g_main = nullptr;

QtControl* Find(int number) {
  auto found = g_controls.find(number);
  return found == g_controls.end() ? nullptr : &found->second;
}

void MoveTabFocus(int direction);

// The spin's text box, as a screen reader sees it: a spin button whose value
// and range are the core's. The value lives apart from the text (only the
// arrows and the program change it), so a QSpinBox, which ties the two, can't
// stand here. The value changes only by the arrows and by Up and Down in the
// text box, as for every user; a reader can't set it directly.
class SpinAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  SpinAccessible(QWidget* edit, int number) : QAccessibleWidget(edit, QAccessible::SpinBox), number_(number) {}
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QVariant currentValue() const override {
    const QtControl* c = Find(number_);
    return QVariant::fromValue(c != nullptr ? c->value : 0);
  }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return kSpinMaximum; }
  QVariant minimumValue() const override { return kSpinMinimum; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  int number_;
};

// Qt asks this before its own interfaces, once per object: the spin's text
// box carries its control's number from its construction on, before anything
// could ask. The address field's frame would be a "frame", which a reader
// takes for a window of its own; it is a group of four fields.
QAccessibleInterface* AccessibleFactory(const QString&, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (auto* line = dynamic_cast<StatusLine*>(widget)) return new StatusLineAccessible(line);
  const ControlRow* row = widget != nullptr ? FindControlRow(widget->property(kControlProperty).toInt()) : nullptr;
  if (row != nullptr && row->kind == ControlKind::Spin) return new SpinAccessible(widget, row->number);
  if (row != nullptr && row->kind == ControlKind::IpField) return new QAccessibleWidget(widget, QAccessible::Grouping);
  return nullptr;
}

// The window: a close request stays a request, and Tab walks the shared order.
class QuorlenWindow : public QWidget {
 public:
  QuorlenWindow()
      : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowCloseButtonHint) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();  // the window stays until the program ends
    InputCloseRequest();
  }
  bool focusNextPrevChild(bool next) override {
    MoveTabFocus(next ? 1 : -1);
    return true;
  }
};

// The input that Qt's widgets don't report as signals: the Up and Down keys in
// the spin's text box, and the list's right-button release and drag start.
class InputFilter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    for (auto& [number, control] : g_controls) {
      if (control.edit != nullptr && watched == control.edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
          InputSpinStep(number, key == Qt::Key_Up ? 1 : -1);
          return true;
        }
      }
      if (control.list != nullptr && watched == control.list->viewport()) OnListMouse(number, control.list, event);
    }
    return false;
  }

 private:
  void OnListMouse(int number, QListWidget* list, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick &&
        event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonRelease) {
      return;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    if ((event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        mouse->button() == Qt::LeftButton) {
      InputListPress(number, list->itemAt(at) != nullptr ? 1 : 0, at.x(), at.y());
    } else if (event->type() == QEvent::MouseMove) {
      // Qt gives a distance; the core's box is twice it on each axis.
      const int drag = 2 * QApplication::startDragDistance();
      InputListMove(number, (mouse->buttons() & Qt::LeftButton) ? 1 : 0, at.x(), at.y(), drag, drag);
    } else if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
      InputListRelease(number);
    } else if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::RightButton) {
      InputControlAction(number, kActionListRightButtonUp);
    }
  }
};

InputFilter* g_inputFilter = nullptr;

void MoveTabFocus(int direction) {
  int from = -1;
  for (QWidget* w = QApplication::focusWidget(); w != nullptr && from < 0; w = w->parentWidget()) {
    const ControlRow* row = FindControlRow(w->property(kControlProperty).toInt());
    if (row != nullptr) from = ControlRowIndex(*row);
  }
  const ControlRow* next = NextTabStop(from, direction);
  QtControl* c = next != nullptr ? Find(next->number) : nullptr;
  if (c == nullptr) return;
  QWidget* target = c->edit != nullptr ? c->edit : c->octets[0] != nullptr ? c->octets[0] : c->widget;
  target->setFocus(Qt::TabFocusReason);
  if (c->edit != nullptr) c->edit->selectAll();
}

QRect Rect(const ControlRow& row) {
  return QRect(row.x, row.y, row.width, row.height);
}

void CreateSpin(const ControlRow& row, QtControl& c) {
  auto* edit = new QLineEdit(g_main);
  edit->setProperty(kControlProperty, row.number);  // before the text, which a reader may hear of
  edit->setText(QString::fromUtf8(row.text));
  edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edit->installEventFilter(g_inputFilter);
  // The text box reaches one pixel under the arrow pair, as the Windows one does.
  const int arrowLeft = row.x + row.width - SpinArrowWidth(row.height);
  edit->setGeometry(row.x, row.y, arrowLeft - row.x + 1, row.height);
  QObject::connect(edit, &QLineEdit::textEdited,
                   [number = row.number] { InputControlAction(number, kActionTextChanged); });

  auto* arrows = new QWidget(g_main);
  arrows->setGeometry(arrowLeft, row.y, row.x + row.width - arrowLeft, row.height);
  const int half = row.height / 2;
  for (int up = 1; up >= 0; --up) {
    auto* arrow = new QToolButton(arrows);
    arrow->setArrowType(up ? Qt::UpArrow : Qt::DownArrow);
    arrow->setAutoRepeat(true);  // held down, it repeats the step at the desktop's pace
    arrow->setFocusPolicy(Qt::NoFocus);
    arrow->setGeometry(0, up ? 0 : half, arrows->width(), up ? half : row.height - half);
    QObject::connect(arrow, &QToolButton::clicked, [number = row.number, up] { InputSpinStep(number, up ? 1 : -1); });
  }
  c.widget = edit;
  c.edit = edit;
  c.arrows = arrows;
}

void CreateAddressField(const ControlRow& row, QtControl& c) {
  auto* frame = new QFrame(g_main);
  frame->setProperty(kControlProperty, row.number);
  frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  frame->setAutoFillBackground(true);
  frame->setBackgroundRole(QPalette::Base);
  frame->setGeometry(Rect(row));
  const int dot = 6;
  const int width = (row.width - 4 - 3 * dot) / 4;
  for (int i = 0; i < 4; ++i) {
    auto* octet = new QLineEdit(frame);
    octet->setFrame(false);
    octet->setAlignment(Qt::AlignCenter);
    octet->setMaxLength(3);
    octet->setGeometry(2 + i * (width + dot), 2, width, row.height - 4);
    c.octets[i] = octet;
    if (i < 3) {
      auto* separator = new QLabel(".", frame);
      separator->setGeometry(2 + i * (width + dot) + width, 2, dot, row.height - 4);
      separator->setAlignment(Qt::AlignCenter);
    }
  }
  c.widget = frame;
}

void CreateList(const ControlRow& row, QtControl& c) {
  auto* list = new QListWidget(g_main);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setGeometry(Rect(row));
  list->viewport()->installEventFilter(g_inputFilter);
  const int number = row.number;
  QObject::connect(list, &QListWidget::currentRowChanged,
                   [number] { InputControlAction(number, kActionSelectionChanged); });
  QObject::connect(list, &QListWidget::itemDoubleClicked,
                   [number] { InputControlAction(number, kActionListDoubleClick); });
  // One entry stays selected: Ctrl+click can't clear the selection.
  QObject::connect(list, &QListWidget::itemSelectionChanged, [list] {
    if (list->selectedItems().isEmpty() && list->currentItem() != nullptr) {
      ProgramChange change;
      list->currentItem()->setSelected(true);
    }
  });
  c.widget = list;
  c.list = list;
}

// The check item lives in the window's context menu (a right click on the
// window), so the client area and its controls stay exactly as they are.
void CreateMenuCheck(const ControlRow& row, QtControl& c) {
  auto* action = new QAction(QString::fromUtf8(row.text), g_main);
  action->setCheckable(true);
  QObject::connect(action, &QAction::triggered, [number = row.number] { InputControlAction(number, kActionClicked); });
  g_main->addAction(action);
  g_main->setContextMenuPolicy(Qt::ActionsContextMenu);
  c.action = action;
}

void CreateStatusBar(const ControlRow& row, QtControl& c) {
  auto* bar = new QStatusBar(g_main);
  bar->setFont(QApplication::font());  // the credits line keeps the desktop's own font
  bar->setSizeGripEnabled(false);
  auto* line = new StatusLine(QString::fromUtf8(row.text), bar);
  const int height = std::max(kStatusBarHeight, bar->sizeHint().height());
  // A size of its own: a line whose size may follow its text asks the bar
  // to lay itself out again at every new line, ten times a second during a
  // fade, and QStatusBar does that by building its layout anew.
  line->setFixedSize(kClientWidth - 2 * kStatusBarInset, height - kStatusBarInset);
  bar->addWidget(line, 1);
  bar->setGeometry(0, kClientHeight - height, kClientWidth, height);
  c.widget = bar;
  c.line = line;
}

// Shrinks the window's font (which every control shares) until the caption
// fits the control's width.
void FitCaption(QWidget* widget, int width) {
  QFont font = g_main->font();
  while (widget->sizeHint().width() > width && font.pointSizeF() > kSmallestFontPoints) {
    font.setPointSizeF(font.pointSizeF() - 0.5);
    g_main->setFont(font);
  }
}

}  // namespace

// ---- the platform half of the control layer --------------------------------

int PlatformCreateWindow(const char* title, int clientWidth, int clientHeight) {
  if (QApplication::instance() == nullptr) {
    // The program takes no command line; Qt gets a name and nothing else.
    static int argc = 1;
    static char name[] = "quorlen";
    static char* argv[] = {name, nullptr};
    // This makes Qt on X11 send each repaint's pixels down the X socket
    // instead of through shared memory. The one thing painted often is the status
    // line, ten times a second during a fade, and a shared-memory paint of
    // the same strip first waits on a round trip to the X server, which
    // still owns the strip's last copy. That made the fade's CPU per step
    // half as large again. Set here for Qt alone: the program reads none.
    qputenv("QT_XCB_NO_MITSHM", "1");
    new QApplication(argc, argv);  // lives as long as the process
  }
  if (g_inputFilter == nullptr) g_inputFilter = new InputFilter;
  QAccessible::installFactory(AccessibleFactory);
  g_main = new QuorlenWindow;
  // Escape anywhere in the window, whichever control has the focus.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), g_main);
  QObject::connect(escape, &QShortcut::activated, [] { InputEscapeKey(); });
  g_main->setWindowTitle(QString::fromUtf8(title));
  g_main->setWindowIcon(QIcon(":/quorlen.png"));
  QFont font = QApplication::font();
  if (font.pointSizeF() > kControlFontPoints) font.setPointSizeF(kControlFontPoints);
  g_main->setFont(font);
  g_main->setFixedSize(clientWidth, clientHeight);
  // Centred on the whole primary screen. Before the window is shown its frame
  // isn't known; a window manager that adds one places the window itself.
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QSize outer = g_main->frameGeometry().size();
  g_main->move(screen.x() + CentredPosition(outer.width(), screen.width()),
               screen.y() + CentredPosition(outer.height(), screen.height()));
  g_main->show();
  g_main->raise();
  g_main->activateWindow();
  return 1;
}

void PlatformDestroyWindow() {
  delete g_main;
  g_main = nullptr;
  g_controls.clear();
}

int PlatformWindowExists() {
  return g_main != nullptr ? 1 : 0;
}

namespace {

// A screen reader hears an option as a radio button only while it is
// auto-exclusive. Yet the core keeps the group, and the program deselects an
// option alone, which Qt refuses an auto-exclusive one. A button group takes
// the place of auto-exclusion: one per run of options, as the core's groups
// go, and not exclusive, so that Qt leaves the checking to the core.
void CreateOption(const ControlRow& row, QtControl& c) {
  static QButtonGroup* group = nullptr;
  const int index = ControlRowIndex(row);
  if (index == 0 || kControlRows[index - 1].kind != ControlKind::Option) {
    group = new QButtonGroup(g_main);
    group->setExclusive(false);
  }
  auto* option = new QRadioButton(QString::fromUtf8(row.text), g_main);
  group->addButton(option);
  QObject::connect(option, &QRadioButton::clicked, [number = row.number] { InputOptionClick(number); });
  c.widget = option;
}

void CreatePushButton(const ControlRow& row, QtControl& c) {
  auto* button = new QPushButton(QString::fromUtf8(row.text), g_main);
  button->setAutoDefault(false);  // none of them is a default button
  QObject::connect(button, &QPushButton::clicked,
                   [number = row.number] { InputControlAction(number, kActionClicked); });
  c.widget = button;
}

void CreateLabel(const ControlRow& row, QtControl& c) {
  auto* label = new QLabel(QString::fromUtf8(row.text), g_main);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  c.widget = label;
  c.text = label;
}

// A screen reader names a control by the label created right before it, as
// Win32 does by itself: the label's buddy is the control, and the control,
// with the address field's four fields, takes the label's text as its name.
void NameAfterLabel(const ControlRow& row, QtControl& c) {
  const ControlRow* label = LabelOfControl(row);
  QtControl* labelControl = label != nullptr ? Find(label->number) : nullptr;
  if (labelControl == nullptr) return;
  labelControl->text->setBuddy(c.widget);
  const QString name = QString::fromUtf8(label->text);
  c.widget->setAccessibleName(name);
  for (QLineEdit* octet : c.octets) {
    if (octet != nullptr) octet->setAccessibleName(name);
  }
}

// In ControlKind's order.
using CreateFunction = void (*)(const ControlRow&, QtControl&);
constexpr CreateFunction kCreateFunctions[] = {CreateOption,    CreatePushButton,   CreateLabel, CreateList,
                                               CreateStatusBar, CreateAddressField, CreateSpin,  CreateMenuCheck};
static_assert(std::size(kCreateFunctions) == static_cast<std::size_t>(ControlKind::MenuCheck) + 1);

}  // namespace

void PlatformCreateControl(const ControlRow& row) {
  QtControl c;
  kCreateFunctions[static_cast<int>(row.kind)](row, c);
  if (row.kind == ControlKind::MenuCheck) {  // an action of the menu: nothing to place or show
    g_controls[row.number] = c;
    return;
  }
  if (row.kind != ControlKind::Spin && row.kind != ControlKind::StatusBar) c.widget->setGeometry(Rect(row));
  c.widget->setProperty(kControlProperty, row.number);
  if (row.kind == ControlKind::Option || row.kind == ControlKind::PushButton || row.kind == ControlKind::Label) {
    FitCaption(c.widget, row.width);
  }
  if (!row.tabStop) c.widget->setFocusPolicy(Qt::NoFocus);
  NameAfterLabel(row, c);
  c.widget->show();
  if (c.arrows != nullptr) c.arrows->show();
  g_controls[row.number] = c;
}

int PlatformControlExists(const ControlRow& row) {
  return Find(row.number) != nullptr ? 1 : 0;
}

void PlatformSetText(const ControlRow& row, const char* text) {
  QtControl* c = Find(row.number);
  const QString value = QString::fromUtf8(text);
  if (c->action != nullptr) {
    c->action->setText(value);
  } else if (c->edit != nullptr) {
    c->edit->setText(value);
  } else if (c->line != nullptr) {
    // Painted at once: during a fade the line changes between a message and
    // the wait for the next, and a paint left to the next drain would hold
    // that message up.
    c->line->SetLine(value);
  } else if (c->text != nullptr) {
    c->text->setText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
    button->setText(value);
  }
}

std::string PlatformGetText(const ControlRow& row) {
  QtControl* c = Find(row.number);
  QString text;
  if (c->action != nullptr) {
    text = c->action->text();
  } else if (c->edit != nullptr) {
    text = c->edit->text();
  } else if (c->line != nullptr) {
    text = c->line->Line();
  } else if (c->text != nullptr) {
    text = c->text->text();
  } else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
    text = button->text();
  }
  return text.toStdString();
}

void PlatformSetValue(const ControlRow& row, std::int64_t value) {
  QtControl* c = Find(row.number);
  switch (row.kind) {
    case ControlKind::Option:
      static_cast<QRadioButton*>(c->widget)->setChecked(value != 0);
      break;
    case ControlKind::MenuCheck:
      c->action->setChecked(value != 0);
      break;
    case ControlKind::List:
      c->list->setCurrentRow(static_cast<int>(value));
      break;
    case ControlKind::Spin:
      if (c->value != value) {
        c->value = value;
        QAccessibleValueChangeEvent changed(c->edit, QVariant::fromValue(value));
        QAccessible::updateAccessibility(&changed);
      }
      break;
    default:
      break;
  }
}

std::int64_t PlatformGetValue(const ControlRow& row) {
  QtControl* c = Find(row.number);
  switch (row.kind) {
    case ControlKind::Option:
      return static_cast<QRadioButton*>(c->widget)->isChecked() ? 1 : 0;
    case ControlKind::MenuCheck:
      return c->action->isChecked() ? 1 : 0;
    case ControlKind::List:
      return c->list->currentRow();
    case ControlKind::Spin:
      return c->value;
    default:
      return 0;
  }
}

void PlatformSetOctets(const ControlRow& row, const int octets[4]) {
  QtControl* c = Find(row.number);
  for (int i = 0; i < 4; ++i) c->octets[i]->setText(QString::number(octets[i]));
}

// The field is disabled throughout: what its four fields hold is what the
// program put there, or nothing yet.
int PlatformGetOctets(const ControlRow& row, int octets[4]) {
  QtControl* c = Find(row.number);
  for (int i = 0; i < 4; ++i) {
    if (c->octets[i]->text().isEmpty()) return 0;
    octets[i] = c->octets[i]->text().toInt();
  }
  return 1;
}

void PlatformEnable(const ControlRow& row, int enabled) {
  QtControl* c = Find(row.number);
  if (c->action != nullptr) {
    c->action->setEnabled(enabled != 0);
    return;
  }
  c->widget->setEnabled(enabled != 0);
  if (c->arrows != nullptr) c->arrows->setEnabled(enabled != 0);
}

int PlatformListCount(const ControlRow& row) {
  return Find(row.number)->list->count();
}

void PlatformInsertListEntry(const ControlRow& row, int position, const char* text) {
  Find(row.number)->list->insertItem(position, QString::fromUtf8(text));
}

void PlatformDeleteListEntry(const ControlRow& row, int position) {
  delete Find(row.number)->list->takeItem(position);
}

// Qt draws a list once, at the next paint, however many entries went in.
void PlatformListFilled(const ControlRow&) {}

int PlatformCanFocus(const ControlRow& row) {
  const QtControl* c = Find(row.number);
  return c != nullptr && c->widget != nullptr && c->widget->isEnabled() && c->widget->isVisible() ? 1 : 0;
}

// Qt can't hand out one input message at a time: whatever is pending is
// processed, and everything it reports is queued by the core.
int PlatformProcessInput(int wait) {
  QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
  if (dispatcher == nullptr) return 0;
  const QEventLoop::ProcessEventsFlags flags =
      wait ? QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents;
  return dispatcher->processEvents(flags) ? 1 : 0;
}

// Qt can't wait for input without processing it, so whatever arrives is
// processed here. The timer only ends the wait; it does nothing itself.
int PlatformWaitForEvent(std::intptr_t waitable, int timeoutMilliseconds) {
  QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
  if (dispatcher == nullptr) return 0;
  std::unique_ptr<QSocketNotifier> readable;
  if (waitable != -1) readable = std::make_unique<QSocketNotifier>(waitable, QSocketNotifier::Read);
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  if (timeoutMilliseconds >= 0) deadline.start(timeoutMilliseconds);
  return dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents) ? 1 : 0;
}

void PlatformWaitForInputOrReadable(std::intptr_t waitable, int timeoutMilliseconds) {
  PlatformWaitForEvent(waitable, timeoutMilliseconds);
}

void PlatformOpenWebPage(const char* address) {
  QDesktopServices::openUrl(QUrl(QString::fromUtf8(address)));
}

void PlatformShowMessageBox(const char* title, const char* text) {
  // The program's texts break lines with a lone CR, which Qt doesn't.
  QString lines = QString::fromUtf8(text);
  lines.replace("\r\n", "\n").replace('\r', '\n');
  QWidget* owner = g_main != nullptr && QApplication::activeWindow() == g_main ? g_main : nullptr;
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(title), lines, QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setIcon(QIcon());  // no icon anywhere in the box
  // Without an owner the box blocks the whole program all the same.
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}
