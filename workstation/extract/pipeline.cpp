#include "workstation/extract/pipeline.h"

#include <algorithm>

#include "workstation/common/safe_path.h"
#include "workstation/extract/blank_distance.h"
#include "workstation/extract/detrend.h"
#include "workstation/extract/liquid_fill.h"
#include "workstation/extract/spots.h"

namespace velmora::extract {
namespace {

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// Two aspects with the same kernel settings share a bank; the name only
// appears in messages.
bool same_kernels(const KernelSettings& a, const KernelSettings& b) {
  return a.pattern == b.pattern && a.from_r == b.from_r && a.to_r == b.to_r &&
         a.step_r == b.step_r && a.from_theta_deg == b.from_theta_deg &&
         a.to_theta_deg == b.to_theta_deg && a.step_theta_deg == b.step_theta_deg &&
         a.sigmax_ratio == b.sigmax_ratio && a.sigmay == b.sigmay;
}

}  // namespace

ExtractProcessing::ExtractProcessing() {
  wavelets_.image.assign(kExtractPixels, 0.0f);
}

bool ExtractProcessing::stripe_pattern() const {
  return contains(setup_.aspect_settings.pattern, "stripe");
}

Status ExtractProcessing::set_up(const ProcessingSetup& setup) {
  const KernelSettings wanted = kernel_settings_from(setup.aspect_settings, setup.aspect);
  const bool same_bank = set_up_ && same_kernels(bank_.settings, wanted);
  setup_ = setup;
  set_up_ = false;
  if (!same_bank) {
    Status s = build_kernel_bank(wanted, bank_);
    if (!s.ok()) return s;
  }
  set_up_ = true;
  return Status::Ok();
}

void ExtractProcessing::reset_blank_distance() {
  std::fill(images_.blank_distance.begin(), images_.blank_distance.end(), kBlankDistanceCap);
}

void ExtractProcessing::compute_blank_distance(const SharedExtract& extract) {
  extract::compute_blank_distance(extract, &images_.blank_distance);
}

void ExtractProcessing::add_note(const std::string& note) {
  if (!note.empty()) notes_.push_back(note);
}

Status ExtractProcessing::run_pipeline(SharedExtract& extract, const std::string& cell,
                                       bool* operator_step) {
  *operator_step = false;
  notes_.clear();
  if (!set_up_) return Status::InvalidArgument("extract processing has no aspect set up");
  if (!is_safe_file_name(cell))
    return Status::InvalidArgument("the cell name '" + cell +
                                   "' cannot be used as a file name; the extract is not processed");
  cell_ = cell;
  has_wavelets_ = false;
  seeds_placed_ = false;
  spots_.clear();
  spot_limit_ = spot_limit_max_ = 0;

  std::string note;
  Status s = load_extract(extract, images_, setup_.aspect_settings.cell_type, note);
  if (!s.ok()) return s;
  add_note(note);
  blank_mask_ = extract.blank;
  s = detrend(images_, extract, filter_cutoff_, note);
  if (!s.ok()) return s;
  add_note(note);
  s = transform_work_image(images_);
  if (!s.ok()) return s;

  if (setup_.aspect_settings.pattern != "none") {
    s = correlate_with_wavelets(bank_, images_, extract.blank, setup_.margin,
                                setup_.settings.sum_correl, wavelets_, note);
    if (!s.ok()) return s;
    add_note(note);
    has_wavelets_ = true;
  } else {
    // No pattern, no decomposition: the features must not come from the
    // previous extract's.
    std::fill(wavelets_.image.begin(), wavelets_.image.end(), 0.0f);
    wavelets_.mean = wavelets_.sd = 0.0;
  }

  const session::AlgorithmLetters& letters = setup_.letters;
  if ((letters.compnew_spot.empty() && letters.compnew_corr.empty()) ||
      setup_.aspect_settings.show_n_spots < 1)
    return Status::Ok();

  int depth = setup_.settings.avg_depth_default;
  if (depth == 0) depth = config::kDefaultAvgDepth;
  avg_depth_ = std::clamp(depth, kAvgDepthRight, kAvgDepthLeft);
  if (avg_depth_ != depth)
    add_note("avg_depth_default " + std::to_string(depth) + " is outside 1..100; " +
             std::to_string(avg_depth_) + " is used");
  s = compute_features();
  if (!s.ok()) return s;
  *operator_step = true;
  return Status::Ok();
}

Status ExtractProcessing::compute_features() {
  seeds_placed_ = false;
  std::string note;
  Status s;
  const float critical_distance = setup_.settings.critical_distance > 0.0f
                                      ? setup_.settings.critical_distance
                                      : config::kDefaultCriticalDistance;
  if (stripe_pattern()) {
    StripeInputs in;
    in.wavelet_image = wavelets_.image;
    in.wavelet_mean = wavelets_.mean;
    in.wavelet_sd = wavelets_.sd;
    in.margin = setup_.margin;
    in.blank = blank_mask_;
    in.blank_distance = images_.blank_distance;
    StripeSettings st;
    st.pattern = setup_.aspect_settings.pattern;
    st.join_only = setup_.settings.join_only;
    st.left_right = setup_.aspect_settings.left_right;
    st.all_green = setup_.aspect_settings.all_green;
    st.reverse_fill = setup_.settings.reverse_fill;
    st.critical_distance = critical_distance;
    s = stripes(in, st, static_cast<std::int16_t>(avg_depth_), stripe_images_, spots_, note);
  } else {
    s = dots(wavelets_.image, wavelets_.mean, wavelets_.sd, setup_.aspect_settings.pattern,
             critical_distance, spots_, note);
  }
  if (!s.ok()) return s;
  add_note(note);
  spot_limit_max_ = static_cast<int>(spots_.size());
  spot_limit_ = initial_spot_limit(spot_limit_max_, setup_.aspect_settings.show_n_spots);
  return Status::Ok();
}

Status ExtractProcessing::set_avg_depth(int depth) {
  avg_depth_ = std::clamp(depth, kAvgDepthRight, kAvgDepthLeft);
  return compute_features();
}

void ExtractProcessing::set_spot_limit(int limit) {
  spot_limit_ = std::clamp(limit, 0, spot_limit_max_);
}

bool ExtractProcessing::click_extract(bool right_button, bool shift, int x, int y) {
  const SpotLimit limit{spot_limit_, spot_limit_max_};
  const SpotEdit edit = right_button ? remove_nearest_spot(spots_, limit, x, y)
                                     : add_spot_at(spots_, limit, x, y, shift);
  if (!edit.changed) return false;
  spot_limit_ = edit.limit.value;
  spot_limit_max_ = edit.limit.maximum;
  seeds_placed_ = false;
  return true;
}

Status ExtractProcessing::exclude_spot_at(int x, int y, bool* changed) {
  *changed =
      exclude_nearest_from_seeds(spots_, SpotLimit{spot_limit_, spot_limit_max_}, x, y).changed;
  if (!*changed) return Status::Ok();
  return place_seeds(triangle_measure_text_);
}

Status ExtractProcessing::place_seeds(const std::string& triangle_measure_text) {
  SeedSettings in;
  in.limit = spot_limit_;
  in.show_n_spots = setup_.aspect_settings.show_n_spots;
  in.margin = setup_.margin;
  in.min_triangle_text = triangle_measure_text;
  in.dilate_proportion = setup_.settings.dilate_proportion;
  Status s = extract::place_seeds(spots_, in, &seeds_);
  if (!s.ok()) return s;
  triangle_measure_text_ = triangle_measure_text;
  seeds_placed_ = true;
  return Status::Ok();
}

Status ExtractProcessing::filter_preview(const SharedExtract& extract, int cutoff,
                                         std::vector<float>* preview) {
  // The preview works on its own copy: the detrended image, which the save
  // writes, stays as it is. The cut-off stays for the next extract's
  // detrending, as the operator set it.
  filter_cutoff_ = std::max(cutoff, kMinDetrendCutoff);
  std::copy(extract.intensity.begin(), extract.intensity.end(), preview_.work_image.begin());
  double mean = 0.0;
  Status s = band_filter(preview_, *preview, mean, "high", cutoff);
  if (!s.ok()) return s;
  const auto [lo, hi] = std::minmax_element(preview->begin(), preview->end());
  const float min = *lo, max = *hi;
  if (max - min > 0.0f)
    for (float& v : *preview) v = (v - min) * 253.0f / (max - min) + 1.0f;
  return Status::Ok();
}

Status ExtractProcessing::save(const SharedExtract& extract, SaveReport* report) {
  if (!set_up_ || cell_.empty()) return Status::InvalidArgument("no extract to save");
  const session::AlgorithmLetters& letters = setup_.letters;
  const bool spot_features = (!letters.compnew_spot.empty() || !letters.compnew_corr.empty()) &&
                             setup_.aspect_settings.show_n_spots > 0;
  // The feature file takes the seed sets and maps as they stand: they must
  // belong to this extract's spots, so they are placed now if the operator
  // saved without placing them.
  if (spot_features && !seeds_placed_) {
    Status s = place_seeds(triangle_measure_text_);
    if (!s.ok()) return s;
  }
  SaveExtractInputs in;
  in.work_image = images_.work_image;
  in.wavelet_image = wavelets_.image;
  in.blank = extract.blank;
  in.use_cell = setup_.settings.use_cell;
  in.spots = &spots_;
  in.limit = spot_limit_;
  in.show_n_spots = setup_.aspect_settings.show_n_spots;
  in.pattern = setup_.aspect_settings.pattern;
  in.all_green = setup_.aspect_settings.all_green;
  in.seeds = &seeds_;
  in.make_keys = setup_.make_keys;
  SaveFolders folders;
  folders.folders = setup_.folders;
  folders.library_name = setup_.settings.library_name;
  folders.working_folder = setup_.working_folder;
  SaveLetters save_letters;
  save_letters.tarvik = letters.tarvik;
  save_letters.corr = letters.compnew_corr;
  save_letters.spot = letters.compnew_spot;
  save_letters.sift = letters.CompSift;
  Status s = save_extract_files(in, folders, cell_, save_letters, report);
  add_note(report->note);
  return s;
}

std::string ExtractProcessing::fingerprint_block_bytes() const {
  int clamped = 0;
  const std::vector<std::uint8_t> source =
      source_image(images_.work_image, wavelets_.image, setup_.settings.use_cell, &clamped);
  const std::vector<std::uint8_t> image = fingerprint_image(source, blank_mask_);
  std::string out;
  out.reserve(kBlockImageBytes);
  for (int row = 0; row < kBlockImageSide; ++row)
    out.append(reinterpret_cast<const char*>(image.data()) + row * kExtractColumns,
               kBlockImageSide);
  return out;
}

std::string ExtractProcessing::key_input_bytes() const {
  int clamped = 0;
  return anim_pgm_bytes(raw_image_bytes(images_.work_image, &clamped));
}

}  // namespace velmora::extract
