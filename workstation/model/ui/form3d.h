// Form3D: the fitting window. One photograph of one cell: crop the animal,
// drag the special-point dots onto it, click its top and bottom edges (and
// a midline), "Initial Fit", "Fit", "Extract", blank what should not count,
// "OK" or "Scrap".
//
// The work is a FitSession's (fit_session.h) and OK's files and record are
// accept.h's; this window only turns the operator's moves into their calls
// and draws what they report. Every control is a widget whose objectName is
// its control name; arrays are "TopEdge(i)", "BottomEdge(i)", "Midline(i)",
// "UserControl11(i)". Positions on the work picture are work-picture pixels:
// the work picture (Picture1) is shown one to one, at the size the 3:2 rule
// gives for the screen it opens on (extract_preview.h).
//
// States and instructions (LabInstruct): cropping, base points, marking,
// edges marked, initially fitted, fitted, extracted; buttons once offered
// stay offered. The fits run on a second thread while the window shows a
// busy cursor and keeps painting; the operator's input waits. A fit that
// fails, a file that cannot be written, a model file that is missing: each
// is a message through the operator dialogs, and the window stays as it was.
//
// On closing, the shared extract's flags say how: extract_ready after OK,
// image_scrapped after "Scrap", neither when the window was closed otherwise.
// blank_edited is set when the operator painted blanking or Retrieve brought
// a blank mask back.
//
// The photograph, the shared extract, the database and the dialogs must
// outlive the window. GUI thread only.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/db/database.h"
#include "workstation/extract/shared_extract.h"
#include "workstation/model/extract_preview.h"
#include "workstation/model/fit_session.h"
#include "workstation/model/photo.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace velmora {
class PictureBox;
}

namespace velmora::model {

class LabelColumn;
class MarkerWidget;

// The instruction line of each state.
inline constexpr const char* kInstructCrop =
    "Crop animal from image by left-click to upper-left and lower-right, or right click to select "
    "entire image.";
inline constexpr const char* kInstructBasePoints =
    "Drag the yellow dots to the base of the tail and top of the sternum (neck/chest boundary).";
inline constexpr const char* kInstructMarking =
    "Of the remaining dots, drag those corresponding to visible positions onto the animal. ";
inline constexpr const char* kInstructEdges =
    "Edge points can be removed by double-clicking 'Top' or 'Bottom' option. Click 'Initial Fit' "
    "when edge point positioning completed.";
inline constexpr const char* kInstructInitiallyFitted =
    "Click 'Fit' to modify model orientation and shape to conform to marked edges.";
inline constexpr const char* kInstructFitted =
    "When model has achieved an adequate fit to the animal (may require dots to be moved) click "
    "'Extract'.";
inline constexpr const char* kInstructExtracted =
    "Refit and extract again if the extract looks distorted. Then click 'OK'.";

// The picture the brush's "E" brings back, saved at the crop and at Retrieve.
inline constexpr const char* kEraseStoreFile = "erasestore.bmp";

struct Form3DSetup {
  SessionSetup session;          // cell, aspect and its settings, folders
  std::string id;                // the record's animal, for Label1
  std::string comments;          // the record's comments, for Label1
  const Photo* photo = nullptr;  // the photograph, decoded
  db::Database* db = nullptr;    // OK stores the record here
  OperatorDialogs* dialogs = nullptr;
  // The screen the window opens on, in pixels; empty: the primary screen.
  QSize screen;
};

class Form3D : public QDialog {
  Q_OBJECT
 public:
  enum class Outcome { kOpen, kAccepted, kScrapped };

  // Window start-up: the session (model file, reset), the picture sizes,
  // Label1, the photograph in the crop picture, Retrieve offered when the
  // cell's fit file exists, "YsTheta.txt" removed from the working folder,
  // the blank mask cleared. A model that cannot be read stops here.
  static Status open(const Form3DSetup& setup, extract::SharedExtract* extract,
                     std::unique_ptr<Form3D>* form);
  ~Form3D() override;

  Outcome outcome() const { return outcome_; }
  FitSession& session() { return *session_; }
  PictureSize work_size() const { return work_size_; }
  // A control by its name (nullptr when there is none).
  QWidget* control(const QString& name) const;
  // Picture1, PicBoxCrop and PictureCell as shown now.
  QImage work_view() const;
  QImage crop_view() const;
  QImage preview_view() const;
  // Where a work-picture position lies in the window, and back.
  QPoint picture_to_form(QPoint p) const;

  // The operator's moves, as the widgets call them (public so that tests
  // and drivers can make them without a mouse). Positions: crop picture
  // pixels, window positions of a marker's reference point, work-picture
  // pixels, preview pixels.
  void crop_pressed(Qt::MouseButton button, QPoint p);
  void dot_pressed(int i);
  void dot_released();
  void dot_dropped(int i, QPoint form_point);
  void labels_dropped(QPoint form_point);
  void marker_dropped(MarkList list, int index, QPoint form_point);
  void work_pressed(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint p);
  void work_moved(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint p);
  void work_released(Qt::MouseButton button, QPoint p);
  void option_double_clicked(MarkList list);
  void preview_pressed(Qt::MouseButtons buttons, QPoint p);
  void window_key(int key);
  void brush_key(int key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void done(int result) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  Form3D(const Form3DSetup& setup, extract::SharedExtract* extract);
  void build_controls();
  void connect_controls();
  void read_model_labels(bool first_read);
  void set_instruction(const char* text);
  void report(const Status& s);
  Status run_busy(const std::function<Status()>& work);

  // Buttons.
  void toggle_controls_clicked();
  void toggle_model_clicked();
  void initial_fit_clicked();
  void fit_clicked();
  void extract_clicked();
  void ok_clicked();
  void scrap_clicked();
  void retrieve_clicked();

  void after_crop();
  void base_pair_complete();
  void place_dot(int i, QPoint picture_point);
  void return_dot(int i);
  MarkerWidget* marker(MarkList list, int index) const;
  QButtonGroup* edge_group() const { return edge_group_; }
  MarkList selected_list(bool* any) const;
  void clear_edge_options();
  void show_markers(bool on);
  void add_edge_point(MarkList list, QPoint p);
  void hide_for_blanking();
  void paint_blank(QPoint p);
  void pick_point(Qt::KeyboardModifiers modifiers, QPoint p);
  void refresh_base();
  void redraw();
  void show_preview();
  bool lateral() const;
  QPoint waiting_place(int i) const;
  std::string working_file(const char* name) const;
  void save_erase_store();

  Form3DSetup setup_;
  extract::SharedExtract* extract_;
  OperatorDialogs* dialogs_;
  std::unique_ptr<FitSession> session_;
  Outcome outcome_ = Outcome::kOpen;
  PictureSize work_size_;

  PictureBox* original_ = nullptr;  // PicBoxOriginal, hidden
  PictureBox* crop_ = nullptr;      // PicBoxCrop
  PictureBox* work_ = nullptr;      // Picture1
  PictureBox* cell_ = nullptr;      // PictureCell
  LabelColumn* labels_ = nullptr;   // SPlabels
  std::array<MarkerWidget*, 9> dots_{};
  std::vector<MarkerWidget*> top_, bottom_, mid_;
  QLabel* instruct_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* blanking_label_ = nullptr;
  QPushButton *toggle_controls_ = nullptr, *toggle_model_ = nullptr, *init_fit_ = nullptr,
              *fit_ = nullptr, *extract_button_ = nullptr, *ok_ = nullptr, *scrap_ = nullptr,
              *retrieve_ = nullptr;
  QRadioButton *option_top_ = nullptr, *option_bot_ = nullptr, *opt_mid_ = nullptr,
               *opt_l_ = nullptr, *opt_r_ = nullptr;
  QButtonGroup* edge_group_ = nullptr;
  QButtonGroup* side_group_ = nullptr;
  QCheckBox *lock_roll_ = nullptr, *lock_yaw_ = nullptr, *auto_order_ = nullptr, *tagged_ = nullptr;
  QLineEdit *widths_ = nullptr, *ang_ = nullptr, *y_theta_ = nullptr;
  QScrollBar *stiffness_ = nullptr, *brush_ = nullptr;
  std::vector<std::pair<QWidget*, QLabel*>> captions_;  // a box and its caption

  // The crop's first corner while the second is awaited (crop pixels).
  bool have_corner_ = false;
  QPoint corner1_;
  QImage crop_base_;                   // the photograph in the crop picture, without corners
  QImage work_base_;                   // the work picture as the session holds it
  QImage preview_;                     // PictureCell's picture, brush included
  std::vector<bool> preview_painted_;  // preview pixels under the brush
  bool model_drawn_ = false;
  bool points_drawn_ = false;
  bool blanking_ = false;  // the right button is down on the work picture
};

}  // namespace velmora::model
