#include "workstation/runs/ui/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>

#include <cmath>
#include <filesystem>

#include "workstation/config/folder_file.h"
#include "workstation/runs/main_window_controls.h"
#include "workstation/runs/start_driver.h"
#include "workstation/runs/title_fade.h"
#include "workstation/common/ui/picture_box.h"
#include "workstation/runs/ui/qt_operator_dialogs.h"

namespace velmora::runs {
namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

// The five modes: one exclusive choice.
constexpr ControlName kModes[] = {"optInField", "optBatchExtract", "optBatchCompare", "optVcheck",
                                  "optTest"};
// Check boxes whose clicks the form handles.
constexpr ControlName kClickedChecks[] = {"chkStan", "chkComb", "chkMultiCore"};
// Controls whose losing the focus the form handles.
constexpr ControlName kLeftControls[] = {"optBatchCompare", "cmbSites",    "cmbLandscapes",
                                         "txtFoldersPath",  "txtDatabase", "txtNewpics"};

int scaled(int v, double s) {
  return static_cast<int>(std::lround(v * s));
}

// Watches every mouse press of the application while the title fades, so
// that a click on any part of the window ends the fade.
class FadeClickFilter : public QObject {
 public:
  FadeClickFilter(QWidget* window, MainForm* form) : window_(window), form_(form) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress && form_->fading()) {
      auto* w = qobject_cast<QWidget*>(watched);
      if (w && (w == window_ || window_->isAncestorOf(w))) form_->form_clicked();
    }
    return false;
  }

 private:
  QWidget* window_;
  MainForm* form_;
};

QWidget* make_widget(const ControlSpec& c, QWidget* parent) {
  switch (c.kind) {
    case ControlKind::kOption: {
      auto* w = new QRadioButton(q(c.caption), parent);
      w->setChecked(c.checked);
      return w;
    }
    case ControlKind::kCheck: {
      auto* w = new QCheckBox(q(c.caption), parent);
      w->setChecked(c.checked);
      return w;
    }
    case ControlKind::kText:
      return new QLineEdit(q(c.caption), parent);
    case ControlKind::kLabel:
      return new QLabel(q(c.caption), parent);
    case ControlKind::kButton:
      return new QPushButton(q(c.caption), parent);
    case ControlKind::kList:
      return new QComboBox(parent);
    case ControlKind::kFrame:
      return new QGroupBox(q(c.caption), parent);
    case ControlKind::kPicture:
      return new PictureBox(QSize(c.width, c.height), parent);
    case ControlKind::kHScroll:
      return new QScrollBar(Qt::Horizontal, parent);
    case ControlKind::kVScroll:
      return new QScrollBar(Qt::Vertical, parent);
    case ControlKind::kBar: {
      auto* w = new QFrame(parent);
      w->setFrameShape(QFrame::Box);
      return w;
    }
  }
  return new QWidget(parent);
}

}  // namespace

MainWindow::MainWindow(OperatorDialogs* dialogs, QWidget* parent) : QWidget(parent), panel_(this) {
  setObjectName("frmMain");
  setWindowTitle(kMainWindowCaption);
  if (!dialogs) {
    own_dialogs_ = std::make_unique<QtOperatorDialogs>(this);
    dialogs = own_dialogs_.get();
  }
  ctx_.panel = &panel_;
  ctx_.dialogs = dialogs;
  ctx_.folder_file_locations = config::default_folder_file_locations();
  std::error_code ec;
  ctx_.working_folder = std::filesystem::current_path(ec).string();
  form_ = std::make_unique<MainForm>(&ctx_);

  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(kBackgroundGrey, kBackgroundGrey, kBackgroundGrey));
  setPalette(pal);
  setAutoFillBackground(true);

  build_controls();
  connect_controls();
  choose_database_file = [this] {
    return QFileDialog::getOpenFileName(this, QString(), QDir::currentPath(),
                                        config::kDatabaseFileFilter)
        .toStdString();
  };
  title_timer_.setInterval(kTitleFadeIntervalMs);
  connect(&title_timer_, &QTimer::timeout, this, &MainWindow::title_tick);
}

MainWindow::~MainWindow() {
  if (fade_filter_) qApp->removeEventFilter(fade_filter_.get());
}

QWidget* MainWindow::control(ControlName name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

void MainWindow::build_controls() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QSize size = screen->size();
    scale_ = layout_scale(size.width(), size.height());
  }
  resize(scaled(kDesignWidth, scale_), scaled(kDesignHeight, scale_));
  for (const ControlSpec& c : main_window_controls()) {
    const std::optional<ControlName> parent_name = c.parent_control();
    QWidget* parent = parent_name ? control(*parent_name) : this;
    QWidget* w = make_widget(c, parent ? parent : this);
    w->setObjectName(q(c.name));
    w->setGeometry(scaled(c.x, scale_), scaled(c.y, scale_), scaled(c.width, scale_),
                   scaled(c.height, scale_));
    w->setVisible(c.visible);
    controls_[c.control()] = w;
  }
  // The five modes are one exclusive choice: a second click on the chosen
  // mode keeps it (left to itself, a lone checked option could be cleared).
  auto* modes = new QButtonGroup(this);
  modes->setExclusive(true);
  for (ControlName name : kModes) {
    if (auto* b = qobject_cast<QAbstractButton*>(control(name))) modes->addButton(b);
  }
  if (auto* title = qobject_cast<QLabel*>(control("lblTitle"))) {
    QFont f = title->font();
    f.setPointSize(20);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    title->setWordWrap(true);
  }
  if (auto* bar = qobject_cast<QFrame*>(control("ProgressBar2"))) {
    bar->setFrameShape(QFrame::NoFrame);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 255));
    bar->setPalette(pal);
  }
  if (auto* which = qobject_cast<QLabel*>(control("lblWhichExtract"))) {
    QFont f = which->font();
    f.setPointSize(10);
    which->setFont(f);
  }
}

void MainWindow::connect_controls() {
  for (const ControlSpec& c : main_window_controls()) {
    const ControlName name = c.control();
    if (c.kind == ControlKind::kOption) {
      auto* b = qobject_cast<QRadioButton*>(control(name));
      connect(b, &QRadioButton::toggled, this, [this, name](bool on) {
        if (on) form_->option_chosen(name);
      });
    }
  }
  for (ControlName name : kClickedChecks) {
    auto* b = qobject_cast<QCheckBox*>(control(name));
    connect(b, &QCheckBox::clicked, this, [this, name] { form_->check_clicked(name); });
  }
  connect(qobject_cast<QComboBox*>(control("cmbAspect")), &QComboBox::activated, this,
          [this] { form_->list_chosen("cmbAspect"); });
  connect(qobject_cast<QLineEdit*>(control("txtNumPend")), &QLineEdit::textChanged, this,
          [this] { form_->text_changed("txtNumPend"); });
  connect(qobject_cast<QPushButton*>(control("cmdStart")), &QPushButton::clicked, this,
          [this] { start_clicked(); });
  connect(qobject_cast<QPushButton*>(control("cmdStop")), &QPushButton::clicked, this,
          [this] { panel_.request_stop(); });
  connect(qobject_cast<QPushButton*>(control("cmdBrowse")), &QPushButton::clicked, this,
          [this] { form_->database_chosen(choose_database_file ? choose_database_file() : ""); });
  control("lblWhichExtract")->installEventFilter(this);
  for (ControlName name : kLeftControls) control(name)->installEventFilter(this);
}

void MainWindow::title_tick() {
  if (form_->title_timer_tick()) {
    title_timer_.stop();
    if (fade_filter_) qApp->removeEventFilter(fade_filter_.get());
  }
}

void MainWindow::start() {
  form_->form_load();
  if (!fade_filter_) fade_filter_ = std::make_unique<FadeClickFilter>(this, form_.get());
  qApp->installEventFilter(fade_filter_.get());
  title_timer_.start();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && watched == control("lblWhichExtract")) {
    form_->label_clicked("lblWhichExtract");
  }
  if (event->type() == QEvent::FocusOut) {
    auto* focus = static_cast<QFocusEvent*>(event);
    // A list opening its own drop-down has not been left.
    if (focus->reason() != Qt::PopupFocusReason) {
      for (ControlName name : kLeftControls) {
        if (control(name) == watched) {
          form_->control_left(name);
          break;
        }
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::start_clicked() {
  if (running_) return;  // a press while the last one is still at work
  running_ = true;
  panel_.clear_stop();
  form_->cmdStart_clicked();
  running_ = false;
  if (close_after_run_) {
    close_after_run_ = false;
    close();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run goes on inside this event's caller; it cannot simply vanish
    // with the window, or the comparison and import would carry on unseen.
    const Answer a = ctx_.dialogs->message(kStopRunQuestion, Buttons::kYesNo, Icon::kQuestion);
    if (a == Answer::kYes) {
      panel_.request_stop();
      close_after_run_ = true;
    }
    event->ignore();
    return;
  }
  // The merge queue is applied before the window goes.
  form_->form_unload();
  event->accept();
}

}  // namespace velmora::runs
