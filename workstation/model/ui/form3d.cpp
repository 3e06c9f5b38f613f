#include "workstation/model/ui/form3d.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "workstation/common/number_text.h"
#include "workstation/common/ui/picture_box.h"
#include "workstation/config/folder_file.h"
#include "workstation/model/accept.h"
#include "workstation/model/blank_file.h"
#include "workstation/model/fit_file.h"
#include "workstation/model/retrieve.h"
#include "workstation/model/ui/form3d_markers.h"
#include "workstation/model/ui/photo_file.h"

namespace velmora::model {
namespace {

namespace fs = std::filesystem;

// Layout, in pixels. The pictures take the 3:2 box the screen allows; the
// label column and two columns of controls stand to their right.
constexpr int kMargin = 8;
constexpr int kPictureTop = 52;
constexpr int kDotSide = 28;     // disc radius 7
constexpr int kMarkerSide = 24;  // disc radius 6
constexpr int kLabelWidth = 110;
constexpr int kColumnA = 156;
constexpr int kColumnB = 264;
constexpr int kRow = 28;
constexpr int kPreviewSide = 260;
constexpr int kPreviewInset = 2;  // the 256 x 256 extract inside the 260 x 260 preview
constexpr int kVisibleDots = 8;   // dots for special points; dot 8 is the pick marker

const QColor kYellow(255, 255, 0);
const QColor kMagenta(255, 0, 255);
const QColor kEdgeBorder(120, 120, 120);

bool picks_surface_points(int adjust_extract) {
  return adjust_extract == -1 || adjust_extract == -2 || adjust_extract == -3;
}

std::string three_digits(double v) {
  const long n = std::lround(v);
  std::string digits = std::to_string(std::labs(n));
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return (n < 0 ? "-" : "") + digits;
}

}  // namespace

Form3D::Form3D(const Form3DSetup& setup, extract::SharedExtract* extract)
    : setup_(setup), extract_(extract), dialogs_(setup.dialogs) {}

Form3D::~Form3D() = default;

Status Form3D::open(const Form3DSetup& setup, extract::SharedExtract* extract,
                    std::unique_ptr<Form3D>* form) {
  if (!setup.photo || !setup.photo->valid())
    return Status::InvalidArgument("cell " + setup.session.cell +
                                   ": there is no photograph to fit");
  if (!setup.dialogs) return Status::InvalidArgument("the fitting window needs its dialogs");
  std::unique_ptr<Form3D> f(new Form3D(setup, extract));
  Status s = FitSession::open(setup.session, &f->session_);
  if (!s.ok()) return s;
  QSize screen = setup.screen;
  if (screen.isEmpty() && QGuiApplication::primaryScreen())
    screen = QGuiApplication::primaryScreen()->availableSize();
  f->work_size_ = work_picture_size(screen.width(), screen.height());
  f->build_controls();
  f->connect_controls();
  f->read_model_labels(true);

  // Retrieve is offered when OK kept a fit of this cell before.
  std::string fit_path;
  std::error_code ec;
  f->retrieve_->setEnabled(
      fit_file_path(config::normalise_folder(setup.session.data_folder.string()),
                    setup.session.cell, &fit_path)
          .ok() &&
      fs::is_regular_file(fit_path, ec));
  fs::remove(f->working_file("YsTheta.txt"), ec);
  extract->blank_retrieved = false;
  std::fill(extract->blank.begin(), extract->blank.end(), extract::kUsablePixel);
  *form = std::move(f);
  return Status::Ok();
}

void Form3D::build_controls() {
  setObjectName("Form3D");
  setWindowTitle(QString::fromStdString("Velmora - fitting " + setup_.session.cell));
  const int pw = work_size_.width, ph = work_size_.height;
  auto named = [](QWidget* w, const char* name) {
    w->setObjectName(name);
    return w;
  };

  instruct_ = new QLabel(this);
  named(instruct_, "LabInstruct");
  instruct_->setGeometry(kMargin, kMargin, pw + 40 + kLabelWidth, kPictureTop - 2 * kMargin);
  instruct_->setWordWrap(true);
  QFont bold = instruct_->font();
  bold.setBold(true);
  instruct_->setFont(bold);

  original_ = new PictureBox(QSize(setup_.photo->width, setup_.photo->height), this);
  named(original_, "PicBoxOriginal");
  original_->set_image(photo_to_image(*setup_.photo).convertToFormat(QImage::Format_RGB32));
  original_->hide();

  crop_ = new PictureBox(QSize(pw, ph), this);
  named(crop_, "PicBoxCrop");
  crop_->setGeometry(kMargin, kPictureTop, pw, ph);
  crop_base_ = original_->image().scaled(pw, ph, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  crop_->set_image(crop_base_);
  crop_->setCursor(Qt::CrossCursor);

  work_ = new PictureBox(QSize(pw, ph), this);
  named(work_, "Picture1");
  work_->setGeometry(kMargin, kPictureTop, pw, ph);
  work_->setCursor(Qt::CrossCursor);
  work_->hide();

  label1_ = new QLabel(this);
  named(label1_, "Label1");
  label1_->setGeometry(kMargin, kPictureTop + ph + 4, pw, 22);
  label1_->setText(
      QString::fromStdString(setup_.session.cell + ", ID: " + setup_.id + ", " + setup_.comments));

  const int labels_x = kMargin + pw + 26;
  labels_ = new LabelColumn(kVisibleDots, kLabelWidth, this);
  named(labels_, "SPlabels");
  labels_->move(labels_x, kPictureTop);
  labels_->hide();

  for (int i = 0; i < 9; ++i) {
    dots_[i] = new MarkerWidget(kDotSide, this);
    dots_[i]->setObjectName(QString("UserControl11(%1)").arg(i));
    dots_[i]->fillcolor(kYellow);
    dots_[i]->hide();
  }
  dots_[8]->draggable = false;
  dots_[8]->fillcolor(Qt::blue);
  dots_[8]->move_reference(QPoint(labels_x - 14, kPictureTop + LabelColumn::kRowHeight * 8 + 12));
  auto make_markers = [&](std::vector<MarkerWidget*>* list, int n, const char* name) {
    for (int i = 0; i < n; ++i) {
      auto* m = new MarkerWidget(kMarkerSide, this);
      m->setObjectName(QString("%1(%2)").arg(name).arg(i));
      m->hide();
      list->push_back(m);
    }
  };
  make_markers(&top_, kTopMarkers, "TopEdge");
  make_markers(&bottom_, kBottomMarkers, "BottomEdge");
  make_markers(&mid_, kMidlineMarkers, "Midline");
  for (MarkerWidget* m : top_) m->fillcolor(Qt::red);
  for (MarkerWidget* m : bottom_) m->fillcolor(Qt::blue);
  for (MarkerWidget* m : mid_) m->fillcolor(kMagenta);

  // Column A: the marking and fitting controls, top to bottom.
  const int ax = labels_x + kLabelWidth + 12;
  int row = 0;
  auto place = [&](QWidget* w, int height = 24, int width = kColumnA) {
    w->setGeometry(ax, kPictureTop + row * kRow, width, height);
    ++row;
    return w;
  };
  // A plain caption right of a narrow box, on the box's row; it shows and
  // hides with the box.
  auto caption = [&](QWidget* box, const char* text) {
    auto* l = new QLabel(text, this);
    const QRect g = box->geometry();
    l->setGeometry(g.right() + 6, g.top(), kColumnA - g.width() - 6, g.height());
    box->installEventFilter(this);
    captions_.push_back({box, l});
  };
  auto button = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, this);
    // Return typed in a box must not press whichever button had the focus.
    b->setAutoDefault(false);
    named(b, name);
    place(b);
    return b;
  };
  auto check = [&](const char* name, const char* caption) {
    auto* c = new QCheckBox(caption, this);
    named(c, name);
    place(c);
    return c;
  };
  auto option = [&](const char* name, const char* caption) {
    auto* o = new QRadioButton(caption, this);
    named(o, name);
    place(o);
    return o;
  };
  toggle_controls_ = button("CmdToggleControls", "Hide Dots");
  toggle_model_ = button("cmdToggleModel", "Hide Model");
  option_top_ = option("OptionTop", "Top");
  option_bot_ = option("OptionBot", "Bottom");
  opt_mid_ = option("optMid", "Midline");
  edge_group_ = new QButtonGroup(this);
  for (QRadioButton* o : {option_top_, option_bot_, opt_mid_}) edge_group_->addButton(o);
  auto_order_ = check("chkAutoOrder", "Auto order");
  // The fit closes the outline in the markers' left-to-right order unless
  // the operator wants the order of the clicks.
  auto_order_->setChecked(true);
  lock_roll_ = check("chkLockRoll", "Lock Roll");
  lock_yaw_ = check("chkLockYaw", "and Yaw");
  widths_ = new QLineEdit("100", this);
  named(widths_, "txtWidths");
  widths_->setToolTip("body width, percent of the model's");
  place(widths_, 24, 64);
  caption(widths_, "width %");
  init_fit_ = button("CmdInitFit", "Initial Fit");
  fit_ = button("CmdFit", "Fit");
  extract_button_ = button("cmdExtract", "Extract");
  blanking_label_ = new QLabel("Blanking", this);
  named(blanking_label_, "lblBlanking");
  place(blanking_label_, 18);
  brush_ = new QScrollBar(Qt::Horizontal, this);
  named(brush_, "HScroll2");
  brush_->setRange(3, 25);
  brush_->setValue(25);
  brush_->setToolTip(
      "half-side of the blanking square (right button on the picture); "
      "E here brings the cropped picture back");
  place(brush_, 18);
  ang_ = new QLineEdit("90", this);
  named(ang_, "txtAng");
  ang_->setToolTip("pelt seen more obliquely than this angle (degrees) is blanked");
  place(ang_, 24, 64);
  caption(ang_, "max. angle");
  tagged_ = check("chkTagged", "tag");
  opt_l_ = option("optL", "L");
  opt_r_ = option("optR", "R");
  side_group_ = new QButtonGroup(this);
  side_group_->addButton(opt_l_);
  side_group_->addButton(opt_r_);
  y_theta_ = new QLineEdit(this);
  named(y_theta_, "txtYtheta");
  y_theta_->setReadOnly(true);
  place(y_theta_);
  stiffness_ = new QScrollBar(Qt::Horizontal, this);
  named(stiffness_, "HScroll1");
  stiffness_->setRange(0, 1000);
  stiffness_->setValue(1000);
  stiffness_->setToolTip("stiffness of the body shape");
  auto* stiffness_label = new QLabel("stiffness", this);
  place(stiffness_label, 18);
  place(stiffness_, 18);
  const int column_a_bottom = kPictureTop + row * kRow;

  // Column B: the extract preview and the closing buttons.
  const int bx = ax + kColumnA + 8;
  cell_ = new PictureBox(QSize(kPreviewSide, kPreviewSide), this);
  named(cell_, "PictureCell");
  cell_->setGeometry(bx, kPictureTop, kPreviewSide, kPreviewSide);
  int by = kPictureTop + kPreviewSide + 10;
  for (auto [b, name, caption] :
       {std::tuple{&ok_, "cmdOK", "OK"}, std::tuple{&scrap_, "cmdScrap", "Scrap"},
        std::tuple{&retrieve_, "CmdRetrieve", "Retrieve"}}) {
    *b = new QPushButton(caption, this);
    (*b)->setAutoDefault(false);
    named(*b, name);
    (*b)->setGeometry(bx, by, kColumnB - 4, 28);
    by += 36;
  }

  // What the window offers when it opens: the crop, Scrap and Retrieve.
  for (QWidget* w : std::initializer_list<QWidget*>{
           toggle_controls_, toggle_model_, option_top_, option_bot_, opt_mid_, init_fit_, fit_,
           extract_button_, blanking_label_, brush_, tagged_, ok_, y_theta_})
    w->hide();
  widths_->hide();
  if (setup_.session.aspect_settings.no_order) {
    option_top_->setText("Left");
    option_bot_->setText("Right");
  }
  lock_roll_->setChecked(session_->lock_roll());
  lock_yaw_->setChecked(session_->lock_yaw());
  stiffness_->setValue(std::clamp(setup_.session.stiffness, 0, 1000));
  preview_ = QImage(kPreviewSide, kPreviewSide, QImage::Format_RGB32);
  preview_.fill(Qt::white);
  cell_->set_image(preview_);
  set_instruction(kInstructCrop);

  const int width = bx + kColumnB + kMargin;
  const int height = std::max({kPictureTop + ph + 30, column_a_bottom + kMargin, by + kMargin});
  setFixedSize(width, height);
}

void Form3D::connect_controls() {
  connect(toggle_controls_, &QPushButton::clicked, this, [this] { toggle_controls_clicked(); });
  connect(toggle_model_, &QPushButton::clicked, this, [this] { toggle_model_clicked(); });
  connect(init_fit_, &QPushButton::clicked, this, [this] { initial_fit_clicked(); });
  connect(fit_, &QPushButton::clicked, this, [this] { fit_clicked(); });
  connect(extract_button_, &QPushButton::clicked, this, [this] { extract_clicked(); });
  connect(ok_, &QPushButton::clicked, this, [this] { ok_clicked(); });
  connect(scrap_, &QPushButton::clicked, this, [this] { scrap_clicked(); });
  connect(retrieve_, &QPushButton::clicked, this, [this] { retrieve_clicked(); });
  connect(stiffness_, &QScrollBar::valueChanged, this,
          [this](int v) { session_->set_stiffness(v); });
  for (int i = 0; i < kVisibleDots; ++i) {
    dots_[i]->pressed = [this, i] { dot_pressed(i); };
    dots_[i]->released = [this] { dot_released(); };
    dots_[i]->dropped = [this, i](QPoint p) { dot_dropped(i, p); };
  }
  const std::pair<std::vector<MarkerWidget*>*, MarkList> lists[] = {
      {&top_, MarkList::kTop}, {&bottom_, MarkList::kBottom}, {&mid_, MarkList::kMidline}};
  for (const auto& [markers, list] : lists)
    for (int i = 0; i < static_cast<int>(markers->size()); ++i)
      (*markers)[i]->dropped = [this, list, i](QPoint p) { marker_dropped(list, i, p); };
  labels_->dropped = [this](QPoint p) { labels_dropped(p); };
  for (QObject* o : std::initializer_list<QObject*>{crop_, work_, cell_, option_top_, option_bot_,
                                                    opt_mid_, brush_, label1_})
    o->installEventFilter(this);
  label1_->setCursor(Qt::PointingHandCursor);
}

bool Form3D::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::Show || type == QEvent::Hide || type == QEvent::HideToParent ||
      type == QEvent::ShowToParent) {
    for (auto [box, label] : captions_)
      if (box == watched) label->setVisible(!box->isHidden());
  }
  if (type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
      type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
    auto* e = static_cast<QMouseEvent*>(event);
    const QPoint p = e->position().toPoint();
    if (watched == crop_ && type == QEvent::MouseButtonPress) {
      crop_pressed(e->button(), p);
      return true;
    }
    if (watched == work_) {
      if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
        work_pressed(e->button(), e->modifiers(), p);
      else if (type == QEvent::MouseMove)
        work_moved(e->buttons(), e->modifiers(), p);
      else
        work_released(e->button(), p);
      return true;
    }
    if (watched == cell_ && (type == QEvent::MouseButtonPress || type == QEvent::MouseMove)) {
      preview_pressed(type == QEvent::MouseMove ? e->buttons() : Qt::MouseButtons(e->button()), p);
      return true;
    }
    if (type == QEvent::MouseButtonDblClick) {
      if (watched == option_top_) option_double_clicked(MarkList::kTop);
      if (watched == option_bot_) option_double_clicked(MarkList::kBottom);
      if (watched == opt_mid_) option_double_clicked(MarkList::kMidline);
    }
    if (watched == label1_ && type == QEvent::MouseButtonPress) label1_->hide();
  }
  if (watched == brush_ && type == QEvent::KeyPress)
    brush_key(static_cast<QKeyEvent*>(event)->key());
  return QDialog::eventFilter(watched, event);
}

void Form3D::keyPressEvent(QKeyEvent* event) {
  // Escape would close the window as if the operator walked away from the
  // run; only OK, Scrap or closing the window itself end the photograph.
  if (event->key() == Qt::Key_Escape) return;
  window_key(event->key());
  QDialog::keyPressEvent(event);
}

void Form3D::done(int result) {
  if (outcome_ == Outcome::kOpen) {
    // Closed without OK or Scrap: an extract made meanwhile is not taken.
    extract_->extract_ready = false;
    extract_->image_scrapped = false;
  }
  QDialog::done(result);
}

void Form3D::closeEvent(QCloseEvent* event) {
  // Closing reaches done() only for a window on the screen; the flags must
  // say "neither" however the window goes.
  if (outcome_ == Outcome::kOpen) {
    extract_->extract_ready = false;
    extract_->image_scrapped = false;
  }
  QDialog::closeEvent(event);
}

QWidget* Form3D::control(const QString& name) const {
  return findChild<QWidget*>(name);
}

QImage Form3D::work_view() const {
  return work_->image();
}
QImage Form3D::crop_view() const {
  return crop_->image();
}
QImage Form3D::preview_view() const {
  return cell_->image();
}

QPoint Form3D::picture_to_form(QPoint p) const {
  return work_->pos() + p;
}

std::string Form3D::working_file(const char* name) const {
  return (setup_.session.working_folder / name).string();
}

bool Form3D::lateral() const {
  return session_->setup().aspect_settings.cell_type == "lateral";
}

void Form3D::set_instruction(const char* text) {
  instruct_->setText(text);
}

void Form3D::report(const Status& s) {
  if (!s.ok()) dialogs_->message(s.message(), Buttons::kOk, Icon::kExclamation);
}

Status Form3D::run_busy(const std::function<Status()>& work) {
  // The body model's calls may run on any thread; the window keeps painting
  // while the fit runs.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Disabled, the window paints but drops the clicks and keys that come
  // meanwhile, rather than carrying them out once the fit is over.
  setEnabled(false);
  std::atomic<bool> finished{false};
  Status result;
  std::thread worker([&] {
    result = work();
    finished = true;
  });
  while (!finished) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  worker.join();
  setEnabled(true);
  QApplication::restoreOverrideCursor();
  return result;
}

// ---- model file, labels and dots ----

void Form3D::read_model_labels(bool first_read) {
  labels_->setProperty("Title", "SpecialPoint");
  const int n = std::min(session_->special_count(), kVisibleDots);
  for (int i = 0; i < kVisibleDots; ++i) {
    dots_[i]->fillcolor(kYellow);
    labels_->set_backcolor(i, Qt::white);
    if (i >= n) {
      dots_[i]->hide();
      labels_->set_visible(i, false);
      continue;
    }
    dots_[i]->set_title(QString::fromStdString(session_->special_name(i)));
    labels_->set_caption(i, session_->special_label(i));
    if (first_read) dots_[i]->move_reference(waiting_place(i));
  }
}

QPoint Form3D::waiting_place(int i) const {
  return labels_->pos() + QPoint(-14, LabelColumn::kRowHeight * i + LabelColumn::kRowHeight / 2);
}

void Form3D::dot_pressed(int i) {
  for (int k = 0; k < labels_->count(); ++k) labels_->set_backcolor(k, Qt::white);
  for (int k = 0; k < labels_->count(); ++k)
    if (k < session_->special_count() &&
        QString::fromStdString(session_->special_name(k)) == dots_[i]->title())
      labels_->set_backcolor(k, kYellow);
}

void Form3D::dot_released() {
  for (int k = 0; k < labels_->count(); ++k) labels_->set_backcolor(k, Qt::white);
}

void Form3D::dot_dropped(int i, QPoint form_point) {
  if (i < 0 || i >= std::min(session_->special_count(), kVisibleDots)) return;
  if (!work_->isHidden() && work_->geometry().contains(form_point)) {
    place_dot(i, form_point - work_->pos());
  } else {
    // Back on the label column, or anywhere off the animal: the point is
    // taken back.
    return_dot(i);
  }
  redraw();
}

void Form3D::place_dot(int i, QPoint p) {
  Status s = session_->place_special_point(i, p.x(), p.y());
  if (!s.ok()) return report(s);
  dots_[i]->move_reference(picture_to_form(p));
  dots_[i]->show();
  if (session_->facing_known()) {
    base_pair_complete();
  }
}

void Form3D::return_dot(int i) {
  (void)session_->remove_special_point(i);  // i is a point of the model
  dots_[i]->move_reference(waiting_place(i));
}

void Form3D::base_pair_complete() {
  const int n = std::min(session_->special_count(), kVisibleDots);
  for (int k = 0; k < n; ++k) {
    labels_->set_caption(k, session_->special_label(k));
    labels_->set_visible(k, true);
    dots_[k]->show();
  }
  toggle_controls_->show();
  // Edge points can be clicked as soon as the animal's ends are known, even
  // when none of its other points shows.
  for (QRadioButton* o : {option_top_, option_bot_, opt_mid_}) o->show();
  if (init_fit_->isHidden()) set_instruction(kInstructMarking);
}

void Form3D::labels_dropped(QPoint form_point) {
  if (work_->isHidden() || !work_->geometry().contains(form_point)) return;
  const fennick::MarkedPoints& m = session_->marked_points();
  for (int i = 0; i < std::min(session_->special_count(), kVisibleDots); ++i)
    if (m.placed[i] != 1) dots_[i]->move_reference(waiting_place(i));
}

// ---- crop ----

void Form3D::crop_pressed(Qt::MouseButton button, QPoint p) {
  CropRequest request;
  if (button == Qt::RightButton) {
    request.whole = true;
  } else if (button == Qt::LeftButton) {
    clear_edge_options();
    QImage marked = crop_->image();
    QPainter painter(&marked);
    painter.setPen(Qt::red);
    painter.drawEllipse(p, 1, 1);
    painter.end();
    crop_->set_image(marked);
    if (!have_corner_) {
      have_corner_ = true;
      corner1_ = p;
      return;
    }
    have_corner_ = false;
    const double sx = static_cast<double>(setup_.photo->width) / work_size_.width;
    const double sy = static_cast<double>(setup_.photo->height) / work_size_.height;
    request.x1 = static_cast<int>(std::lround(corner1_.x() * sx));
    request.y1 = static_cast<int>(std::lround(corner1_.y() * sy));
    request.x2 = static_cast<int>(std::lround(p.x() * sx));
    request.y2 = static_cast<int>(std::lround(p.y() * sy));
  } else {
    return;
  }
  Status s = session_->crop(*setup_.photo, request, work_size_.width, work_size_.height);
  if (!s.ok()) {
    crop_->set_image(crop_base_);
    return report(s);
  }
  after_crop();
}

void Form3D::after_crop() {
  refresh_base();
  save_erase_store();
  crop_->hide();
  work_->show();
  labels_->show();
  for (int i = 0; i < std::min(2, session_->special_count()); ++i) {
    dots_[i]->show();
    dots_[i]->raise();
    labels_->set_visible(i, true);
  }
  set_instruction(kInstructBasePoints);
  redraw();
}

void Form3D::save_erase_store() {
  const std::string path = working_file(kEraseStoreFile);
  if (!photo_to_image(session_->work_picture()).save(QString::fromStdString(path), "BMP"))
    report(Status::IOError(path + " could not be written: the brush's \"E\" cannot bring the "
                                  "cropped picture back"));
}

// ---- edge points ----

MarkerWidget* Form3D::marker(MarkList list, int index) const {
  const std::vector<MarkerWidget*>& v = list == MarkList::kTop      ? top_
                                        : list == MarkList::kBottom ? bottom_
                                                                    : mid_;
  return index >= 0 && index < static_cast<int>(v.size()) ? v[index] : nullptr;
}

MarkList Form3D::selected_list(bool* any) const {
  *any = true;
  if (option_top_->isChecked()) return MarkList::kTop;
  if (option_bot_->isChecked()) return MarkList::kBottom;
  if (opt_mid_->isChecked()) return MarkList::kMidline;
  *any = false;
  return MarkList::kTop;
}

void Form3D::clear_edge_options() {
  edge_group_->setExclusive(false);
  option_top_->setChecked(false);
  option_bot_->setChecked(false);
  edge_group_->setExclusive(true);
}

void Form3D::show_markers(bool on) {
  for (MarkList list : {MarkList::kTop, MarkList::kBottom, MarkList::kMidline})
    for (int i = 0; i < session_->mark_count(list); ++i)
      if (MarkerWidget* m = marker(list, i)) m->setVisible(on);
}

void Form3D::add_edge_point(MarkList list, QPoint p) {
  if (list != MarkList::kMidline && toggle_controls_->text() == "Show Dots")
    toggle_controls_clicked();
  Status s = session_->add_mark(list, p.x(), p.y());
  if (!s.ok()) return report(s);
  MarkerWidget* m = marker(list, session_->mark_count(list) - 1);
  if (list != MarkList::kMidline) m->bordercolor(kEdgeBorder);
  m->move_reference(picture_to_form(p));
  m->show();
  m->raise();
  if (list == MarkList::kMidline) {
    redraw();
    return;
  }
  init_fit_->show();
  if (fit_->isHidden()) set_instruction(kInstructEdges);
}

void Form3D::marker_dropped(MarkList list, int index, QPoint form_point) {
  MarkerWidget* m = marker(list, index);
  if (!m || index >= session_->mark_count(list)) return;
  const QPoint p = form_point - work_->pos();
  Status s = session_->move_mark(list, index, p.x(), p.y());
  if (!s.ok()) return report(s);
  m->move_reference(form_point);
  if (list == MarkList::kMidline) redraw();
}

void Form3D::option_double_clicked(MarkList list) {
  for (int i = 0; i < session_->mark_count(list); ++i) marker(list, i)->hide();
  session_->clear_marks(list);
  redraw();
}

// ---- the work picture's mouse ----

void Form3D::work_pressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint p) {
  if (button == Qt::RightButton && !extract_button_->isHidden()) {
    hide_for_blanking();
    blanking_ = true;
    paint_blank(p);
  } else if (button == Qt::LeftButton && session_->extracted() &&
             picks_surface_points(session_->setup().aspect_settings.adjust_extract)) {
    pick_point(modifiers, p);
  }
}

void Form3D::work_moved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint p) {
  if ((buttons & Qt::RightButton) && blanking_) {
    paint_blank(p);
  } else if ((buttons & Qt::LeftButton) && session_->extracted() &&
             picks_surface_points(session_->setup().aspect_settings.adjust_extract)) {
    pick_point(modifiers, p);
  }
}

void Form3D::work_released(Qt::MouseButton button, QPoint p) {
  if (button == Qt::RightButton) {
    blanking_ = false;
    return;
  }
  if (button != Qt::LeftButton) return;
  bool any = false;
  const MarkList list = selected_list(&any);
  if (any)
    add_edge_point(list, p);
  else
    redraw();
}

void Form3D::hide_for_blanking() {
  ok_->hide();
  if (toggle_controls_->text() == "Hide Dots") toggle_controls_clicked();
  for (MarkerWidget* d : dots_) d->hide();
  labels_->hide();
}

void Form3D::paint_blank(QPoint p) {
  session_->paint_blank_square(p.x(), p.y(), brush_->value());
  extract_->blank_edited = true;
  refresh_base();
  redraw();
}

void Form3D::pick_point(Qt::KeyboardModifiers modifiers, QPoint p) {
  const bool shift = modifiers & Qt::ShiftModifier;
  bool away = false;
  Status s = session_->pick_surface_point(p.x(), p.y(), shift, &away);
  if (!s.ok()) {
    // Off the body: nothing to pick there. The beep says so without a box
    // at every move of the mouse.
    dialogs_->beep();
    return;
  }
  const PickedPoints& picked = session_->picked_points();
  const double y = shift ? picked.y1 : picked.y2;
  const double theta = shift ? picked.theta1 : picked.theta2;
  fennick::ScreenPoint screen{};
  if (session_->surface_to_screen(y, theta, &screen).ok()) {
    dots_[8]->move_reference(picture_to_form(QPoint(screen.x, screen.y)));
    dots_[8]->show();
    dots_[8]->raise();
  }
  if (session_->setup().aspect_settings.adjust_extract == -3)
    y_theta_->setText(QString::fromStdString(three_digits(y) + "," + real_to_fixed_text(theta, 2)));
  if (away) dialogs_->beep();
}

void Form3D::preview_pressed(Qt::MouseButtons buttons, QPoint p) {
  if (!(buttons & Qt::RightButton) || !session_->extracted()) return;
  const int half = brush_->value();
  if (preview_painted_.size() != extract::kExtractPixels)
    preview_painted_.assign(extract::kExtractPixels, false);
  QPainter painter(&preview_);
  painter.fillRect(QRect(p.x() - half, p.y() - half, 2 * half + 1, 2 * half + 1), Qt::blue);
  painter.end();
  for (int y = p.y() - half; y <= p.y() + half; ++y) {
    for (int x = p.x() - half; x <= p.x() + half; ++x) {
      const int px = x - kPreviewInset, py = y - kPreviewInset;
      if (px < 0 || py < 0 || px >= 256 || py >= 256) continue;
      preview_painted_[static_cast<size_t>(py) * 256 + px] = true;
    }
  }
  extract_->blank_edited = true;
  cell_->set_image(preview_);
}

// ---- keys ----

void Form3D::window_key(int key) {
  const bool water = key == Qt::Key_W, land = key == Qt::Key_L;
  if (!water && !land) return;
  Status s = session_->switch_model_file(water ? "head_water.dat" : "head_land.dat", water);
  if (!s.ok()) return report(s);
  read_model_labels(false);
  option_top_->setText(water ? "Left" : "Top");
  option_bot_->setText(water ? "Right" : "Bottom");
}

void Form3D::brush_key(int key) {
  std::fill(extract_->blank.begin(), extract_->blank.end(), extract::kUsablePixel);
  extract_->blank_retrieved = false;
  if (key != Qt::Key_E || !session_->work_picture().valid()) return;
  const std::string path = working_file(kEraseStoreFile);
  QImage saved(QString::fromStdString(path));
  if (saved.isNull())
    return report(Status::NotFound(path + " cannot be read: the picture keeps its blanking"));
  Status s = session_->restore_work_picture(image_to_photo(saved));
  if (!s.ok()) return report(s);
  refresh_base();
  redraw();
}

// ---- buttons ----

void Form3D::toggle_controls_clicked() {
  const bool hide = toggle_controls_->text() == "Hide Dots";
  show_markers(!hide);
  toggle_controls_->setText(hide ? "Show Dots" : "Hide Dots");
}

void Form3D::toggle_model_clicked() {
  if (toggle_model_->text() == "Show Model") {
    model_drawn_ = true;
    points_drawn_ = true;
    redraw();
    points_drawn_ = false;
    toggle_model_->setText("Hide Model");
  } else {
    model_drawn_ = false;
    toggle_model_->setText("Show Model");
    redraw();
  }
}

void Form3D::initial_fit_clicked() {
  if (toggle_model_->text() == "Show Model") toggle_model_clicked();
  model_drawn_ = true;
  points_drawn_ = true;
  clear_edge_options();
  const std::string& cell_type = session_->setup().aspect_settings.cell_type;
  if (cell_type == "Dorsal" || cell_type == "Ventral") {
    lock_roll_->setText("Lock pitch");
    lock_yaw_->setText("and roll");
  }
  const std::optional<double> widths = real_from_text(widths_->text().toStdString());
  if (!widths) {
    points_drawn_ = false;
    return report(Status::InvalidArgument("The body width \"" + widths_->text().toStdString() +
                                          "\" is not a number"));
  }
  session_->set_widths(*widths);
  session_->set_lock_roll(lock_roll_->isChecked());
  session_->set_lock_yaw(lock_yaw_->isChecked());
  session_->set_auto_order(auto_order_->isChecked());
  session_->set_stiffness(stiffness_->value());
  Status s = run_busy([this] { return session_->initial_fit(); });
  if (!s.ok()) {
    points_drawn_ = false;
    return report(s);
  }
  redraw();
  points_drawn_ = false;
  fit_->show();
  toggle_model_->show();
  if (extract_button_->isHidden()) set_instruction(kInstructInitiallyFitted);
}

void Form3D::fit_clicked() {
  if (toggle_controls_->text() == "Hide Dots") toggle_controls_clicked();
  if (toggle_model_->text() == "Show Model") toggle_model_clicked();
  model_drawn_ = true;
  points_drawn_ = true;
  session_->set_lock_roll(lock_roll_->isChecked());
  session_->set_lock_yaw(lock_yaw_->isChecked());
  session_->set_auto_order(auto_order_->isChecked());
  session_->set_stiffness(stiffness_->value());
  std::vector<std::string> warnings;
  Status s = run_busy([this, &warnings] { return session_->fit(&warnings); });
  // One box however many turns are sharp: the operator needs to know the
  // outline turns back on itself, not to close a box per turn.
  if (!warnings.empty()) dialogs_->message(warnings.front(), Buttons::kOk, Icon::kExclamation);
  if (!s.ok()) {
    points_drawn_ = false;
    redraw();
    return report(s);
  }
  widths_->setText(QString::fromStdString(real_to_fixed_text(session_->widths(), 2)));
  widths_->show();
  redraw();
  points_drawn_ = false;
  extract_button_->show();
  extract_button_->setEnabled(true);
  brush_->show();
  blanking_label_->show();
  if (ok_->isHidden()) set_instruction(kInstructFitted);
}

void Form3D::extract_clicked() {
  tagged_->show();
  const int adjust = session_->setup().aspect_settings.adjust_extract;
  if (picks_surface_points(adjust)) {
    dots_[8]->fillcolor(Qt::blue);
    dots_[8]->show();
  }
  if (opt_r_->isChecked()) session_->set_facing(true);
  if (opt_l_->isChecked()) session_->set_facing(false);
  const std::optional<double> angle = real_from_text(ang_->text().toStdString());
  if (!angle)
    return report(Status::InvalidArgument("The angle \"" + ang_->text().toStdString() +
                                          "\" is not a number of degrees"));
  Status s = run_busy([this, a = *angle] { return session_->extract(extract_, a); });
  if (!s.ok()) return report(s);
  model_drawn_ = false;
  if (toggle_controls_->text() == "Hide Dots") toggle_controls_clicked();
  labels_->show();
  for (int i = 0; i < std::min(session_->special_count(), kVisibleDots); ++i)
    if (!labels_->findChild<QLabel*>(QString("SPlabel(%1)").arg(i))->isHidden()) dots_[i]->show();
  preview_painted_.assign(extract::kExtractPixels, false);
  show_preview();
  redraw();
  ok_->show();
  ok_->setEnabled(true);
  set_instruction(kInstructExtracted);
}

void Form3D::ok_clicked() {
  if (!session_->extracted()) return;
  const std::string& cell = setup_.session.cell;
  const std::string data_folder = config::normalise_folder(setup_.session.data_folder.string());
  if (ok_writes_blank_file(cell) && !preview_painted_.empty())
    blank_painted_preview(preview_painted_, lateral(), session_->last_extract().mean_grey,
                          extract_);
  bool update_record = false;
  Status s = write_accepted_files(*session_, *extract_, data_folder, cell, &update_record);
  if (!s.ok()) return report(s);
  if (update_record && setup_.db) {
    AcceptedRecord record = accepted_record(*session_, *extract_);
    record.tagged = tagged_->isChecked();
    s = update_accepted_record(setup_.db, cell, record);
    if (!s.ok()) return report(s);
  }
  model_drawn_ = true;
  outcome_ = Outcome::kAccepted;
  extract_->extract_ready = true;
  extract_->image_scrapped = false;
  accept();
}

void Form3D::scrap_clicked() {
  outcome_ = Outcome::kScrapped;
  extract_->image_scrapped = true;
  extract_->extract_ready = false;
  reject();
}

void Form3D::retrieve_clicked() {
  // Retrieve starts the photograph again from the saved fit: a fresh session
  // takes the saved crop and marks, so nothing of the marks made since stays.
  std::unique_ptr<FitSession> fresh;
  Status s = FitSession::open(setup_.session, &fresh);
  if (!s.ok()) return report(s);
  RetrievedFit fit;
  fit.marks = fresh->marked_points();
  s = retrieve_fit(config::normalise_folder(setup_.session.data_folder.string()),
                   setup_.session.cell, setup_.session.aspect_settings.adjust_extract,
                   work_size_.width, work_size_.height, &fit, extract_);
  if (s.ok()) s = restore_fit(*setup_.photo, fit, fresh.get());
  if (!s.ok()) return report(s);
  for (MarkList list : {MarkList::kTop, MarkList::kBottom, MarkList::kMidline})
    for (int i = 0; i < session_->mark_count(list); ++i) marker(list, i)->hide();
  session_ = std::move(fresh);
  session_->set_stiffness(stiffness_->value());
  have_corner_ = false;
  read_model_labels(true);
  after_crop();

  const fennick::MarkedPoints& m = session_->marked_points();
  const int n = std::min(session_->special_count(), kVisibleDots);
  for (int i = 0; i < n; ++i) {
    if (m.placed[i] != 1) continue;
    dots_[i]->move_reference(picture_to_form(QPoint(m.special[2 * i], m.special[2 * i + 1])));
    dots_[i]->show();
    labels_->set_visible(i, true);
  }
  if (session_->facing_known()) base_pair_complete();
  for (MarkList list : {MarkList::kTop, MarkList::kBottom, MarkList::kMidline}) {
    for (int k = 0; k < session_->mark_count(list); ++k) {
      MarkerWidget* w = marker(list, k);
      if (list != MarkList::kMidline) w->bordercolor(kEdgeBorder);
      const fennick::ScreenPoint p = session_->mark_position(list, k);
      w->move_reference(picture_to_form(QPoint(p.x, p.y)));
      w->show();
      w->raise();
    }
  }
  toggle_controls_->setText("Hide Dots");
  toggle_controls_->show();
  init_fit_->show();
  set_instruction(kInstructEdges);
  redraw();
}

// ---- drawing ----

void Form3D::refresh_base() {
  work_base_ = photo_to_image(session_->work_picture()).convertToFormat(QImage::Format_RGB32);
}

void Form3D::redraw() {
  if (work_base_.isNull()) return;
  QImage view = work_base_.copy();
  QPainter p(&view);
  if (model_drawn_) {
    p.setPen(QPen(Qt::green, 1));
    const std::vector<fennick::ScreenPoint> lines = session_->model_lines();
    for (size_t k = 0; k + 1 < lines.size(); k += 2) {
      const fennick::ScreenPoint a = lines[k], b = lines[k + 1];
      if (a.x != b.x || a.y != b.y) p.drawLine(a.x, a.y, b.x, b.y);
    }
  }
  if (points_drawn_) {
    const fennick::MarkedPoints& m = session_->marked_points();
    for (int i = 0; i < session_->special_count(); ++i) {
      fennick::ScreenPoint s{};
      if (!session_->special_point_on_model(i, &s).ok()) continue;
      if (m.placed[i] == 1) {
        const QPoint dot = i < kVisibleDots ? dots_[i]->reference() - work_->pos()
                                            : QPoint(m.special[2 * i], m.special[2 * i + 1]);
        p.setPen(QPen(Qt::red, 1));
        p.drawLine(dot, QPoint(s.x, s.y));
        p.setBrush(Qt::green);
      } else {
        p.setBrush(Qt::white);
      }
      p.setPen(Qt::NoPen);
      p.drawEllipse(QPoint(s.x, s.y), 3, 3);
    }
    p.setBrush(Qt::NoBrush);
  }
  const fennick::PointList& mid = session_->marked_points().midline;
  p.setPen(QPen(kMagenta, 1));
  for (int k = 1; k < mid.count; ++k) p.drawLine(mid.x[k - 1], mid.y[k - 1], mid.x[k], mid.y[k]);
  if (!model_drawn_ && session_->extracted()) {
    p.setPen(QPen(Qt::red, 1));
    for (const fennick::ScreenPoint& q : session_->grid_outline()) p.drawPoint(q.x, q.y);
  }
  p.end();
  work_->set_image(view);
}

void Form3D::show_preview() {
  preview_.fill(Qt::white);
  const std::vector<std::uint8_t> grey = preview_grey(*extract_, lateral());
  for (int y = 0; y < 256; ++y) {
    auto* line = reinterpret_cast<QRgb*>(preview_.scanLine(y + kPreviewInset));
    for (int x = 0; x < 256; ++x) {
      const int v = grey[static_cast<size_t>(y) * 256 + x];
      line[x + kPreviewInset] = qRgb(v, v, v);
    }
  }
  cell_->set_image(preview_);
}

}  // namespace velmora::model
