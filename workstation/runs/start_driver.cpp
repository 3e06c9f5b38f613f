#include "workstation/runs/start_driver.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "workstation/db/auto_match.h"
#include "workstation/runs/mode_actions.h"
#include "workstation/runs/title_fade.h"
#include "workstation/session/run_start.h"

namespace velmora::runs {
namespace {

constexpr ControlName kFiveModes[] = {"optInField", "optBatchExtract", "optBatchCompare",
                                      "optVcheck", "optTest"};

// What Start hides once the run is set up.
constexpr ControlName kSettings[] = {
    "txtNumPend",   "chkQuick",    "Frame1",         "lblFoldersPath",  "txtFoldersPath",
    "lblDatabase",  "txtDatabase", "lblNewpics",     "txtNewpics",      "cmdBrowse",
    "chkMultiCore", "chkComb",     "chkStan",        "chkCrop",         "chkRestricted",
    "txtPm",        "lblPm",       "optInField",     "optBatchExtract", "optBatchCompare",
    "optVcheck",    "optTest",     "chkPreviousTest"};

// The extract-processing controls, hidden before each photograph.
constexpr ControlName kProcessing[] = {
    "picProcess",     "picShapes",      "lblPic2",        "lblPic3", "hscLimitSpots",
    "hscAvgDepth",    "lblNumberSpots", "cmdToggleSpots", "cmdSeed", "lblNumberSeeds",
    "cmdSaveExtract", "lblProgress",    "ProgressBar1"};

// The review layout: pictures, labels, lists and buttons.
constexpr ControlName kReviewLayout[] = {
    "picPendImage",   "picLibImage(0)", "picLibImage(1)", "picLibImage(2)", "picLibImage(3)",
    "picLibImage(4)", "picLibImage(5)", "picLibImage(6)", "picLibImage(7)", "picLibImage(8)",
    "lblPendImage",   "lblLibImage",    "vscPendList",    "vscAnimList",    "cmdMoveOn",
    "cmdMoveBack",    "cmdMatch",       "cmdSetupChoice", "cmdMoreLibPics", "cmdContinue",
    "cmdSkip"};

template <typename Names>
void set_all(ControlPanel& p, const Names& names, bool visible) {
  for (ControlName n : names) p.set_visible(n, visible);
}
void set_all(ControlPanel& p, std::initializer_list<ControlName> names, bool visible) {
  for (ControlName n : names) p.set_visible(n, visible);
}

Status fail(RunContext& ctx, const Status& s) {
  stop_run(ctx, s.message());
  return s;
}

void show_message(RunContext& ctx, const std::string& text, Icon icon = Icon::kNone) {
  ctx.dialogs->message(text, Buttons::kOk, icon);
}

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// Runs a hook that belongs to a later step; a missing hook stops the run.
// *ran tells the caller whether it may go on.
Status run_step(RunContext& ctx, const RunStep& step, const std::string& what, bool* ran) {
  *ran = false;
  if (!step) {
    stop_run(ctx, not_available_message(what));
    return Status::Ok();
  }
  Status s = step(ctx);
  if (!s.ok()) return fail(ctx, s);
  *ran = true;
  return s;
}

Status set_auto_match(RunContext& ctx, db::AutoMatch code) {
  db::RecordSet& row = ctx.extraction.current_image_row;
  row.edit("AutoMatch", db::to_string(code));
  Status s = row.update();
  if (!s.ok()) return fail(ctx, s);
  ctx.panel->set_visible("cmdStart", true);
  return s;
}

Status rebuild_kernels(RunContext& ctx, bool* ran) {
  const config::AspectSettings& a = ctx.aspect_settings;
  const KernelHooks& k = ctx.hooks.kernels;
  *ran = false;
  Status s;
  if (contains(a.pattern, "dots")) {
    if (!k.calc_dot_wavelet) {
      stop_run(ctx, not_available_message("The dot wavelet kernels are"));
      return Status::Ok();
    }
    s = k.calc_dot_wavelet(a.from_r, a.to_r, a.step_r);
  } else if (contains(a.pattern, "rings")) {
    if (!k.calc_ring_wavelet) {
      stop_run(ctx, not_available_message("The ring wavelet kernels are"));
      return Status::Ok();
    }
    s = k.calc_ring_wavelet(a.from_r, a.to_r, a.step_r, a.sigmax_ratio);
  } else {
    if (!k.calc_stripe_wavelet) {
      stop_run(ctx, not_available_message("The stripe wavelet kernels are"));
      return Status::Ok();
    }
    s = k.calc_stripe_wavelet(a.from_r, a.to_r, a.step_r, a.from_theta_deg, a.to_theta_deg,
                              a.step_theta_deg, a.sigmax_ratio, a.sigmay);
  }
  if (!s.ok()) return fail(ctx, s);
  *ran = true;
  return s;
}

Status start_extraction_run(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  ctx.extraction = ExtractionRun{};
  ctx.extraction.margin = kExtractionMargin;
  ctx.shared_extract.blank_edited = false;
  set_all(p, {"picExtract", "lblExtract"}, true);
  db::RecordSet& rows = ctx.extraction.current_image_row;
  Status s = ctx.statement("images_to_extract")->open(&rows, db::kEditSource, db::kEditKey);
  if (!s.ok()) return fail(ctx, s);
  if (rows.row_count() == 0) {
    show_message(ctx, "no images set for pattern extraction");
    ctx.dialogs->end_program();
    return Status::Ok();
  }
  ctx.extraction.list_size = rows.row_count();
  rows.move_first();
  ctx.extraction.image_count = 0;
  p.set_text("cmdStart", kNextImageCaption);
  return Status::Ok();
}

Status start_review_run(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  ctx.review = ReviewRun{};
  set_all(p, {"txtPm", "lblPm", "chkCrop", "chkRestricted"}, false);
  set_all(p, kFiveModes, false);
  set_all(p,
          {"picPendImage", "picLibImage(0)", "cmdMoveOn", "cmdMoveBack", "cmdMatch", "lblPendImage",
           "lblProgress", "lblLibImage", "lblWhichExtract", "vscAnimList", "vscPendList",
           "ProgressBar1", "cmdSetupChoice", "cmdMoreLibPics"},
          true);
  db::RecordSet& list = ctx.review.review_list;
  Status s = ctx.statement("review_list")->open(&list);
  if (!s.ok()) return fail(ctx, s);
  if (list.row_count() == 0) {
    show_message(ctx, "no results listed for visual checking");
    ctx.dialogs->end_program();
    return Status::Ok();
  }
  list.move_first();
  ctx.review.reviewed = 0;
  p.set_text("cmdStart", kNextImageCaption);
  return Status::Ok();
}

Status run_batch_comparison(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  p.set_visible("cmdStart", false);
  // The operator may stop the comparison program between two polls.
  set_all(p, {"lblProgress", "ProgressBar1", "cmdStop"}, true);
  Status s = run_comparison_families(ctx);
  p.set_visible("cmdStop", false);
  if (!s.ok()) return fail(ctx, s);
  if (ctx.dialogs->program_ended()) return s;
  const RunStep& change = ctx.hooks.comparison.change_p_to_v;
  if (!change) {
    show_message(ctx,
                 not_available_message("Moving compared extracts to visual checking (P to V) is") +
                     " The compared extracts stay pending.");
  } else {
    s = change(ctx);
    if (!s.ok()) return fail(ctx, s);
    if (ctx.dialogs->program_ended()) return s;
  }
  // The title lies on the window's grey once the fade is over, so it is
  // coloured in both cases: a grey text on grey would tell the operator
  // nothing.
  p.set_title_colour(0, 0, 255);
  if (p.checked("chkMultiCore")) {
    p.set_text("lblTitle",
               "This instance of batch compare completed - when all instances have completed run "
               "batch compare with zero batch size to store results in database and then run "
               "visual confirm");
  } else {
    p.set_text("lblTitle", "Batch compare completed - run visual confirm");
  }
  p.set_visible("lblTitle", true);
  ctx.dialogs->beep();
  // The settings come back, so the operator can go on to "visual confirm"
  // without restarting the program.
  stop_run(ctx, "");
  p.set_visible("lblProgress", true);
  return Status::Ok();
}

Status run_test(RunContext& ctx) {
  if (!ctx.hooks.run_test) {
    stop_run(ctx, not_available_message("The test-rank evaluation is"));
    return Status::Ok();
  }
  ctx.test_run = true;
  Status s = ctx.hooks.run_test(ctx);
  if (!s.ok()) return fail(ctx, s);
  return s;
}

Status next_extraction_image(RunContext& ctx, bool real_time) {
  ControlPanel& p = *ctx.panel;
  ExtractionRun& run = ctx.extraction;
  db::RecordSet& row = run.current_image_row;

  set_all(p, kProcessing, false);
  if (real_time) {
    set_all(p, kFiveModes, false);
    p.set_visible("chkRestricted", false);
    set_all(p, {"picExtract", "lblExtract"}, true);
    set_all(p, kReviewLayout, false);
  }
  p.set_visible("cmdStart", false);

  ++run.image_count;
  if (run.image_count >= 2) row.move_next();
  if (row.eof()) {
    if (real_time && ctx.hooks.review.apply_queued_merges) {
      Status s = ctx.hooks.review.apply_queued_merges(ctx);
      if (!s.ok()) show_message(ctx, s.message(), Icon::kExclamation);
    }
    ctx.dialogs->end_program();
    return Status::Ok();
  }

  const std::string aspect = row.text("aspect");
  Status s =
      config::load_aspect_settings(ctx.statement("aspect_settings"), aspect, &ctx.aspect_settings);
  if (!s.ok()) return fail(ctx, s);

  p.set_text("lblWhichExtract", "   please wait...");
  p.set_font_size("lblWhichExtract", 12);
  p.set_visible("lblWhichExtract", true);
  p.process_events();

  bool ran = true;
  if (ctx.aspect_settings.pattern != "none" && aspect != run.previous_aspect) {
    s = rebuild_kernels(ctx, &ran);
    if (!ran) return s;
  }
  run.previous_aspect = aspect;
  p.set_visible("lblWhichExtract", false);
  p.set_font_size("lblWhichExtract", 10);

  ctx.shared_extract.extract_ready = false;
  ctx.shared_extract.image_scrapped = false;
  s = run_step(ctx, ctx.hooks.extraction.show_extraction_window, "The extraction window is", &ran);
  if (!ran) return s;

  const std::string cell = row.text("cell");
  if (ctx.shared_extract.extract_ready) {
    if (contains(cell, "#")) return set_auto_match(ctx, db::AutoMatch::kTaken);
    if (contains(cell, "_LC")) return set_auto_match(ctx, db::AutoMatch::kPending);
    ctx.processing.reset_blank_distance();
    if (ctx.shared_extract.blank_edited && ctx.settings.do_blankdist) {
      s = run_step(ctx, ctx.hooks.extraction.compute_blank_distance, "The distance-to-blank map is",
                   &ran);
      if (!ran) return s;
    }
    return run_step(ctx, ctx.hooks.extraction.run_pipeline, "Extract processing is", &ran);
  }
  if (ctx.shared_extract.image_scrapped) return set_auto_match(ctx, db::AutoMatch::kScrapped);
  // The extraction window was closed without OK or Scrap.
  ctx.dialogs->end_program();
  return Status::Ok();
}

void show_mode_settings(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  switch (chosen_mode(p)) {
    case Mode::kRealTime:
      optInField_chosen(p);
      break;
    case Mode::kBatchExtract:
      optBatchExtract_chosen(p);
      break;
    case Mode::kBatchCompare:
      optBatchCompare_chosen(p, ctx.settings.LimitSearch);
      break;
    case Mode::kTest:
      optTest_chosen(p);
      break;
    case Mode::kVisualConfirm:
      optVcheck_chosen(p);
      break;
    case Mode::kNone:
      break;
  }
}

}  // namespace

Mode chosen_mode(const ControlPanel& p) {
  if (p.checked("optInField")) return Mode::kRealTime;
  if (p.checked("optBatchExtract")) return Mode::kBatchExtract;
  if (p.checked("optBatchCompare")) return Mode::kBatchCompare;
  if (p.checked("optTest")) return Mode::kTest;
  if (p.checked("optVcheck")) return Mode::kVisualConfirm;
  return Mode::kNone;
}

Status cmdStart_clicked(RunContext& ctx) {
  const std::string caption = ctx.panel->text("cmdStart");
  if (caption == kStartCaption) return begin_run(ctx);
  if (caption == kNextImageCaption) return next_image(ctx);
  return Status::Ok();
}

Status open_database_from_panel(RunContext& ctx, bool normalise_boxes) {
  ControlPanel& p = *ctx.panel;
  ctx.drop_database_work();
  ctx.folders.data_folder = p.text("txtFoldersPath");
  ctx.folders.database_path = p.text("txtDatabase");
  ctx.folders.newpics_folder = p.text("txtNewpics");
  config::Faults faults;
  Status s = config::open_database(&ctx.folders, ctx.settings, &ctx.session, &faults);
  if (normalise_boxes) {
    p.set_text("txtFoldersPath", ctx.folders.data_folder);
    p.set_text("txtNewpics", ctx.folders.newpics_folder);
  }
  if (!faults.empty()) show_message(ctx, config::fault_text(faults), Icon::kExclamation);
  if (!s.ok()) return s;
  if (ctx.session.is_open() && ctx.settings.LimitSearch) {
    auto fill = [&p](ControlName list, const std::vector<std::string>& entries) {
      p.clear_items(list);
      for (const std::string& e : entries) p.add_item(list, e);
      p.select_item(list, 0);
    };
    fill("cmbSites", ctx.session.sites);
    fill("cmbLandscapes", ctx.session.landscapes);
  }
  return Status::Ok();
}

Status read_run_options(const ControlPanel& p, Mode mode, session::RunOptions* options) {
  session::RunOptions o;
  o.compares = mode == Mode::kRealTime || mode == Mode::kBatchCompare;
  o.real_time = mode == Mode::kRealTime;
  o.test_mode = p.checked("optTest");
  o.multi_core = p.checked("chkMultiCore");
  o.chosen_aspect = p.text("cmbAspect");
  o.chosen_side = p.text("cmbSide");
  o.restricted = p.checked("chkRestricted");
  o.quick = p.checked("chkQuick");
  o.standardise = p.checked("chkStan");
  o.prior_match = p.text("txtPm");
  o.combine = p.checked("chkComb");
  o.show_crop = p.checked("chkCrop");
  o.limit_to_site = p.checked("optLimitToSite");
  o.limit_to_landscape = p.checked("optLimitToLandscape");
  // The batch size is read before anything is written, so a mistyped one
  // stops the run with the database untouched. Only the runs that compare
  // read it; the others never look at the box.
  if (o.compares) {
    Status s = batch_size(p, &o.batch_size);
    if (!s.ok()) return s;
  }
  *options = o;
  return Status::Ok();
}

namespace {

// The database named in the boxes, the folder file and orlain.ini. The
// folders are normalised whatever the database does, and the operator's
// paths are remembered and orlain.ini reread even when no database opens;
// the run itself stops before the first statement.
Status open_database_and_configuration(RunContext& ctx) {
  const Status opened = open_database_from_panel(ctx, true);

  // Losing the folder file is not worth stopping the run for, but the
  // operator must know that the paths will not be remembered.
  Status s = config::write_folder_file(ctx.folder_file_locations, ctx.folders);
  if (!s.ok()) show_message(ctx, s.message(), Icon::kExclamation);

  config::Faults faults;
  config::read_configuration(ctx.folders.data_folder, &ctx.settings, &faults);
  if (!faults.empty()) show_message(ctx, config::fault_text(faults), Icon::kExclamation);

  if (!opened.ok()) return opened;
  if (!ctx.session.is_open()) {
    return Status::NotFound("The database '" + ctx.folders.database_path +
                            "' could not be opened: the path must name an existing file ending "
                            "in \"sqlite\". Choose the database with \"browse\".");
  }
  return Status::Ok();
}

// The operator is asked before extracts still waiting for visual checking
// are compared again.
bool confirm_records_waiting(RunContext& ctx, int records) {
  return ctx.dialogs->message(session::records_waiting_message(records), Buttons::kOkCancel,
                              Icon::kQuestion) != Answer::kCancel;
}

Status dispatch_mode(RunContext& ctx, Mode mode) {
  ControlPanel& p = *ctx.panel;
  Status s;
  switch (mode) {
    case Mode::kRealTime:
    case Mode::kBatchExtract:
      s = start_extraction_run(ctx);
      if (!s.ok() || ctx.dialogs->program_ended() || p.text("cmdStart") != kNextImageCaption)
        return s;
      return next_image(ctx);
    case Mode::kBatchCompare:
      return run_batch_comparison(ctx);
    case Mode::kTest:
      return run_test(ctx);
    case Mode::kVisualConfirm:
      s = start_review_run(ctx);
      if (!s.ok() || ctx.dialogs->program_ended() || p.text("cmdStart") != kNextImageCaption)
        return s;
      return next_image(ctx);
    case Mode::kNone:
      break;
  }
  return Status::Ok();
}

}  // namespace

Status begin_run(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  const Mode mode = chosen_mode(p);
  if (mode == Mode::kNone) {
    // Nothing is hidden or opened: the window stays as it is.
    show_message(ctx, kNoModeMessage, Icon::kInformation);
    return Status::Ok();
  }
  p.set_visible("lblTitle", false);
  p.set_enabled("vscAnimList", true);

  Status s = open_database_and_configuration(ctx);
  if (!s.ok()) return fail(ctx, s);

  // "restricted" belongs to real-time identification alone.
  if (mode != Mode::kRealTime) p.set_checked("chkRestricted", false);

  s = read_run_options(p, mode, &ctx.options);
  if (!s.ok()) return fail(ctx, s);

  bool cancelled = false;
  s = session::start_run_database(
      ctx, [&ctx](int records) { return confirm_records_waiting(ctx, records); }, &cancelled,
      [&ctx](const std::string& text) { show_message(ctx, text, Icon::kInformation); });
  if (!s.ok()) return fail(ctx, s);
  if (cancelled) {
    ctx.dialogs->end_program();
    return Status::Ok();
  }

  set_all(p, kSettings, false);
  return dispatch_mode(ctx, mode);
}

Status next_image(RunContext& ctx) {
  ControlPanel& p = *ctx.panel;
  switch (chosen_mode(p)) {
    case Mode::kRealTime:
      return next_extraction_image(ctx, true);
    case Mode::kBatchExtract:
      return next_extraction_image(ctx, false);
    case Mode::kVisualConfirm: {
      ctx.review.outcome_word = "unmatched";
      p.set_visible("cmdStart", false);
      set_all(p, {"cmdSetupChoice", "cmdMoreLibPics"}, true);
      bool ran = false;
      return run_step(ctx, ctx.hooks.review.show_next_pending, "The review of candidates is", &ran);
    }
    default:
      return Status::Ok();
  }
}

Status run_comparison_families(RunContext& ctx, FamilyOrder order) {
  // In real time the families compare only the extract just saved.
  if (ctx.options.real_time) ctx.current_cell = ctx.extraction.current_image_row.text("cell");
  const session::AlgorithmLetters& l = ctx.algorithm_letters;
  const ComparisonHooks& h = ctx.hooks.comparison;
  struct Family {
    bool on;
    const RunStep* step;
    const char* what;
  };
  const Family tarvik{!l.tarvik.empty(), &h.batch_compare_old_style, "The tarvik comparison is"};
  const Family new_style{!l.compnew_corr.empty() || !l.compnew_spot.empty(), &h.compare_new_style,
                         "The correlation and spot comparison is"};
  const Family legcode{!l.legcode.empty(), &h.compare_legcodes, "The leg-code comparison is"};
  const Family sift{!l.CompSift.empty(), &h.compare_sift, "The key-point comparison is"};
  // The test run takes the key points before the leg codes.
  const Family batch_order[] = {tarvik, new_style, legcode, sift};
  const Family test_order[] = {tarvik, new_style, sift, legcode};
  for (const Family& f : order == FamilyOrder::kTest ? test_order : batch_order) {
    if (!f.on) continue;
    if (!*f.step) {
      show_message(ctx, not_available_message(f.what) + " The comparison goes on without it.");
      continue;
    }
    Status s = (*f.step)(ctx);
    if (!s.ok()) return s;
    if (ctx.dialogs->program_ended()) return s;
  }
  return Status::Ok();
}

Status batch_size(const ControlPanel& panel, int* size) {
  return session::read_batch_size(panel.text("txtNumPend"), size);
}

std::string not_available_message(const std::string& what) {
  return what + " not available in this version of Velmora.";
}

void stop_run(RunContext& ctx, const std::string& message) {
  ControlPanel& p = *ctx.panel;
  if (!message.empty()) show_message(ctx, message, Icon::kExclamation);
  set_all(p, kProcessing, false);
  set_all(p, kReviewLayout, false);
  set_all(p, {"picExtract", "lblExtract", "lblWhichExtract", "cmdStop"}, false);
  p.set_text("cmdStart", kStartCaption);
  show_start_controls(p);
  show_mode_settings(ctx);
  ctx.extraction = ExtractionRun{};
  ctx.review = ReviewRun{};
}

void RunContext::drop_database_work() {
  extraction = ExtractionRun{};
  review = ReviewRun{};
  session::RunState::drop_database_work();
}

}  // namespace velmora::runs
