// Visual confirmation without the window: the review of pending items
// against their ranked library candidates, and the operator's decisions.
//
// A review run walks the pending list the Start driver opened: animals in
// state V with "combine", else each V extract once per algorithm letter (two
// letters of one cell one after the other). For each item it lists the
// pending animal's photographs and the library animals ranked by their best
// score in temp, shows the candidate of the chosen rank with its photographs,
// and records what the operator decides:
//   - "Match" and confirm: a scorelog row, and a merge of the two IDs queued
//     (the ID whose label is red survives; the pending one by default is the
//     library's), then on to the next rank;
//   - "Next extract": the item's temp rows go, and the operator says whether
//     the photograph joins the library (state L) or not (state R); in
//     per-extract mode an extract's earlier letters skip that question;
//   - an item without candidates joins the library at once.
// The queued merges reach encounter when the next item starts, when the
// window closes, and before the program ends on every error: a failure in a
// handler shows "Error in <handler>: <...>, any matches will be saved",
// applies the queue and ends the program.
//
// The core reaches the window only through the control panel (captions,
// visibility, lblProgress, the score bar) and the operator dialogs. What the
// panel has no call for — the pictures to draw, the two scroll bars, the
// colours of the labels, the thumbnail places and border — is kept in
// screen(), which the window reads after each handler. Handlers are named
// after the controls they serve; each returns Ok once it has dealt with its
// own failures (the program may then have ended: dialogs->program_ended()),
// and fails only when it is called without its run (attach first).
//
// GUI thread only. The links must outlive the calls made with them.
#pragma once

#include <array>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "workstation/common/control_panel.h"
#include "workstation/common/operator_dialogs.h"
#include "workstation/common/status.h"
#include "workstation/confirm/merge_queue.h"
#include "workstation/confirm/photo_display.h"
#include "workstation/db/database.h"
#include "workstation/session/run_state.h"

namespace velmora::confirm {

// What the review works on that belongs to the run around it.
struct ReviewLinks {
  session::RunState* state = nullptr;  // statements, folders, options
  ControlPanel* panel = nullptr;
  OperatorDialogs* dialogs = nullptr;
  db::RecordSet* pending_list = nullptr;  // opened by the run, at its first row
  // The statement the pending list came from, run again for the next item:
  // review_list, or review_item (with its parameters as set) in real time.
  std::string pending_statement = "review_list";
  int* reviewed = nullptr;              // items started in this run; 0 at Start
  std::string* outcome_word = nullptr;  // "matched" / "unmatched"
};

struct Colour {
  int red = 0, green = 0, blue = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kRed{255, 0, 0};
inline constexpr Colour kBlue{0, 0, 255};

struct ScrollBar {
  int minimum = 1, maximum = 1, value = 1;
  friend bool operator==(const ScrollBar&, const ScrollBar&) = default;
};

// What the window shows that the control panel does not carry.
struct ReviewScreen {
  std::optional<PhotoPicture> pending_picture;  // picPendImage; empty = cleared
  // picLibImage(0) (large view) and (1)..(8) (thumbnails).
  std::array<std::optional<PhotoPicture>, 9> library_pictures;
  std::array<std::optional<ThumbnailPlace>, 9> thumbnail_places;  // (1)..(8)
  int bordered_thumbnail = 0;                                     // 0: none
  ScrollBar anim_list;                                            // vscAnimList: rank
  ScrollBar pend_list;                                            // vscPendList: pending photo
  Colour pend_label = kBlack;                                     // lblPendImage
  Colour lib_label = kBlack;                                      // lblLibImage
  Colour progress_label = kBlack;                                 // lblProgress
};

// The review of one run. The merge queue outlives runs (see merge_queue.h).
class CandidateReview {
 public:
  // Picture sizes in the window's scale units; the thumbnails' own come
  // from layout_thumbnails.
  struct Sizes {
    PictureSize pending{1016, 677};
    PictureSize library{1016, 677};
  };
  void set_sizes(const Sizes& sizes) { sizes_ = sizes; }
  const Sizes& sizes() const { return sizes_; }

  // The run the next calls work on. A new run (another pending list) starts
  // with its review state cleared; the merge queue and label colours stay.
  void attach(const ReviewLinks& links);

  // Loads the next pending item (Start's "Next image", and after a decision).
  Status ShowNextPending();
  // The candidate of rank `rank` (change of vscAnimList).
  Status vscAnimList_changed(int rank);
  // Pending photograph `row` (change of vscPendList).
  Status vscPendList_changed(int row);
  // Click on the pending picture: with Shift its fit file is deleted (shown
  // unframed from then on); a right click turns it (facing R, side M).
  Status picPendImage_clicked(bool shift, bool right);
  // Click on thumbnail k (1..8); a right click turns that photo first.
  Status picLibImage_clicked(int k, bool right);
  Status cmdMoreLibPics_clicked();
  Status cmdMoveOn_clicked();
  Status cmdMoveBack_clicked();
  // The label colours choose the surviving ID of a confirmed match.
  void lblPendImage_clicked();
  void lblLibImage_clicked();
  void lblPendImage_double_clicked();
  void lblLibImage_double_clicked();
  Status cmdMatch_clicked();        // "Match"
  Status cmdSetupChoice_clicked();  // "Next extract"
  Status cmdContinue_clicked();     // confirm the match / add to the library
  Status cmdSkip_clicked();         // refuse the match / don't add
  Status ConfirmMatch();

  // Applies the merge queue (window closing, end of a real-time run). A
  // failure is returned; the queue stays.
  Status ApplyQueuedMerges();
  void clear_merge_queue() { merges_.clear(); }
  const MergeQueue& merge_queue() const { return merges_; }

  // ----------------------------------------------------------- state
  const ReviewScreen& screen() const { return screen_; }
  const std::string& current_pending_id() const { return current_pending_id_; }
  const std::vector<PhotoRow>& pending_photos() const { return pending_photos_; }
  const std::vector<PhotoRow>& library_photos() const { return library_photos_; }
  int library_photo_count() const { return library_photo_count_; }
  int thumbnail_start() const { return thumbnail_start_; }
  float displayed_score() const { return displayed_score_; }
  bool match_flag() const { return match_flag_; }
  bool same_cell() const { return same_cell_; }
  // The candidate list: ID and maxOfscore per library animal, best first.
  const db::RecordSet& candidates() const { return candidates_; }
  // The candidate on screen ("" before the first).
  const std::string& candidate_id() const { return candidate_id_; }
  // pname and fname of the best pair of the candidate on screen.
  const std::string& best_pname() const { return best_pname_; }
  const std::string& best_fname() const { return best_fname_; }

 private:
  bool attached() const;
  bool combined() const;
  // The error path: message, queue applied, program ended. Returns Ok.
  Status fail(const char* procedure, const Status& cause);

  Status show_next_pending();
  Status show_candidate(int rank);
  Status position_pending_list();
  Status fill_photo_table(const std::string& id, std::vector<PhotoRow>* rows);
  Status show_pending_photo(int row);
  Status show_library_photo(int row, int index);
  Status lay_out_thumbnails(int first, int last);
  void clear_thumbnails();
  Status select_pending_photo(int row);
  Status next_extract(bool ask);
  Status library_question();
  Status add_or_reject(const std::string& auto_match);
  Status set_review_status(const std::string& auto_match);
  Status confirm_match();
  std::string item_key() const;
  std::string pending_row_id() const;

  ReviewLinks links_;
  Sizes sizes_;
  MergeQueue merges_;
  ReviewScreen screen_;

  // Review state of the run.
  std::string current_pending_id_;
  bool same_cell_ = false;
  db::RecordSet candidates_;
  std::vector<PhotoRow> pending_photos_, library_photos_;
  int library_photo_count_ = 0;
  int thumbnail_start_ = 1;
  float displayed_score_ = 0;
  bool match_flag_ = false;
  std::string candidate_id_, best_pname_, best_fname_;
  int pending_shown_ = 0;  // row of the pending photo on screen
  int library_shown_ = 0;  // row of the library photo in the large view
  // Items without an existing photograph, passed over for the rest of the
  // run: they stay V, and the list would otherwise offer them again at once.
  std::set<std::string> passed_over_;
};

}  // namespace velmora::confirm
