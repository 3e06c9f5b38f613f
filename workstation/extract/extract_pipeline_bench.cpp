// Figures for one extract from its bundle to its saved files, as
// velmora-extract features processes it (all but the database row it marks
// pending): the bundle read from disk, run_pipeline, the seeds at the
// default triangle measure, the save into a data folder with raw/, newlib/
// and oldlib/. Median of 20 runs after one warm-up run (FFTW's plans, the
// page cache), for a 48-kernel stripe bank and a 4-kernel dot bank.
//
// The shares come from calling the library's public steps again on the same
// data inside each run, outside the timed total: set_avg_depth re-runs the
// feature step exactly as run_pipeline ran it, and prepare_liquid_fill alone
// gives the fill's part of the stripe step. Each share is the median of its
// own 20 values, so the shares need not add up to the median total.
//
// The process is single-threaded; it is pinned to the core it starts on so
// that the figures are those of one core.
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "workstation/common/number_text.h"
#include "workstation/extract/extract_bundle.h"
#include "workstation/extract/liquid_fill.h"
#include "workstation/extract/pipeline.h"
#include "workstation/extract/testing/test_extracts.h"

namespace {

using namespace velmora;
using namespace velmora::extract;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 20;
constexpr double kTargetMs = 250.0;  // per extract with 48 kernels

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

bool check(const Status& s, const std::string& what) {
  if (s.ok()) return true;
  std::cerr << "extract_pipeline_bench: " << what << ": " << s.message() << "\n";
  return false;
}

std::string right(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string left(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string fixed(double v, int decimals) {
  return real_to_fixed_text(v, decimals);
}

// The "Threads:" line of /proc/self/status: the single-threaded claim, checked.
std::string thread_count() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 8));
  return "?";
}

struct Case {
  const char* label;
  const char* pattern;
  bool stripes;
  int kernels;
  std::int16_t from_r, to_r, step_r;
  std::int16_t from_theta, to_theta, step_theta;
};

// Per-run figures, milliseconds.
struct Times {
  std::vector<double> read, pipeline, features, fill, seeds, save, total;
};

int run_case(const Case& c, const fs::path& temp) {
  const fs::path data = temp / c.pattern;
  for (const char* sub : {"raw", "newlib", "oldlib"}) fs::create_directories(data / sub);
  ProcessingSetup setup = testing::test_setup(c.pattern, data.string() + "/");
  config::AspectSettings& a = setup.aspect_settings;
  a.from_r = c.from_r, a.to_r = c.to_r, a.step_r = c.step_r;
  a.from_theta_deg = c.from_theta, a.to_theta_deg = c.to_theta, a.step_theta_deg = c.step_theta;

  {
    KernelBank bank;
    if (!check(build_kernel_bank(kernel_settings_from(a, setup.aspect), bank), "bank")) return 1;
    if (bank.count != c.kernels) {
      std::cerr << "extract_pipeline_bench: " << bank.count << " kernels, not " << c.kernels
                << "\n";
      return 1;
    }
  }

  // The bank is built once per aspect: a fresh instance builds it each time.
  std::vector<double> bank_ms;
  for (int k = 0; k < kRuns; ++k) {
    ExtractProcessing fresh;
    const auto t0 = Clock::now();
    if (!check(fresh.set_up(setup), "set_up")) return 1;
    bank_ms.push_back(ms_since(t0));
  }

  testing::TestPelt pelt;
  pelt.stripes = c.stripes;
  const std::string bundle = (temp / (std::string(c.pattern) + "_bundle")).string();
  if (!check(write_extract_bundle(bundle, testing::test_extract(pelt), "bench_cell"),
             "write_extract_bundle"))
    return 1;

  ExtractProcessing p;
  if (!check(p.set_up(setup), "set_up")) return 1;
  auto extract = std::make_unique<SharedExtract>();
  std::vector<std::int16_t> filled(static_cast<std::size_t>(kExtractRows + 2) *
                                   (kExtractColumns + 2));
  std::vector<float> depth(kExtractPixels);
  Times t;
  double first_ms = 0.0;
  std::size_t spots = 0, files = 0;
  int seed_sets = 0;
  for (int run = 0; run <= kRuns; ++run) {
    // As velmora-extract features: read, blank distance, pipeline, seeds, save.
    auto t0 = Clock::now();
    std::string cell;
    if (!check(read_extract_bundle(bundle, extract.get(), &cell), "read_extract_bundle")) return 1;
    p.reset_blank_distance();
    if (extract->blank_edited && p.setup().settings.do_blankdist)
      p.compute_blank_distance(*extract);
    const double read = ms_since(t0);

    t0 = Clock::now();
    bool operator_step = false;
    if (!check(p.run_pipeline(*extract, cell, &operator_step), "run_pipeline")) return 1;
    const double pipeline = ms_since(t0);
    if (!operator_step) {
      std::cerr << "extract_pipeline_bench: the set-up has no feature step\n";
      return 1;
    }

    // Outside the total: the feature step again, and the fill alone.
    t0 = Clock::now();
    if (!check(p.set_avg_depth(p.avg_depth()), "set_avg_depth")) return 1;
    const double features = ms_since(t0);
    double fill = 0.0;
    if (c.stripes) {
      t0 = Clock::now();
      if (!check(prepare_liquid_fill(p.wavelets().image, static_cast<std::int16_t>(p.avg_depth()),
                                     p.setup().settings.reverse_fill, filled, depth),
                 "prepare_liquid_fill"))
        return 1;
      fill = ms_since(t0);
    }

    t0 = Clock::now();
    if (!check(p.place_seeds(kDefaultTriangleMeasure), "place_seeds")) return 1;
    const double seeds = ms_since(t0);

    t0 = Clock::now();
    SaveReport report;
    if (!check(p.save(*extract, &report), "save")) return 1;
    const double save = ms_since(t0);

    const double total = read + pipeline + seeds + save;
    if (run == 0) {
      first_ms = total;
      continue;
    }
    t.read.push_back(read);
    t.pipeline.push_back(pipeline);
    t.features.push_back(features);
    t.fill.push_back(fill);
    t.seeds.push_back(seeds);
    t.save.push_back(save);
    t.total.push_back(total);
    spots = p.spots().size();
    seed_sets = p.seeds().sets.count;
    files = report.written.size();
  }
  std::vector<double> transforms, other;
  for (int k = 0; k < kRuns; ++k) {
    transforms.push_back(t.pipeline[k] - t.features[k]);
    other.push_back(t.features[k] - t.fill[k]);
  }
  const double total = median(t.total);
  auto row = [total](const std::string& step, const std::vector<double>* v) {
    std::cout << "  " << left(step, 46);
    if (!v) {
      std::cout << right("-", 10) << right("-", 9) << "\n";
      return;
    }
    const double m = median(*v);
    std::cout << right(fixed(m, 2), 10) << right(fixed(100.0 * m / total, 1) + " %", 9) << "\n";
  };

  std::cout << "\n" << c.label << "\n";
  std::cout << "  spots " << spots << ", seed sets " << seed_sets << ", files written " << files
            << "\n";
  std::cout << "  kernel bank build (once per aspect)           "
            << right(fixed(median(bank_ms), 2), 10) << " ms\n";
  std::cout << "  first extract, not counted                    " << right(fixed(first_ms, 2), 10)
            << " ms\n";
  std::cout << "  " << left("step", 46) << right("median ms", 10) << right("share", 9) << "\n";
  row("read bundle (and blank distance when asked)", &t.read);
  row("transforms (load+detrend+transform+correlate)", &transforms);
  row("liquid fill (prepare_liquid_fill)", c.stripes ? &t.fill : nullptr);
  row("thinning and other stripe steps", c.stripes ? &other : nullptr);
  row("dots", c.stripes ? nullptr : &t.features);
  row("seeds (place_seeds)", &t.seeds);
  row("save (file writing)", &t.save);
  std::cout << "  " << left("total per extract", 46) << right(fixed(total, 2), 10)
            << right("100 %", 9);
  if (c.kernels == kMaxKernels)
    std::cout << "  (target under " << fixed(kTargetMs, 0)
              << " ms: " << (total < kTargetMs ? "met" : "NOT met") << ")";
  std::cout << "\n";
  return 0;
}

}  // namespace

int main() {
  cpu_set_t one;
  CPU_ZERO(&one);
  const int cpu = sched_getcpu();
  CPU_SET(cpu, &one);
  const bool pinned = sched_setaffinity(0, sizeof one, &one) == 0;

  const fs::path temp =
      fs::temp_directory_path() /
      ("extract_pipeline_bench_" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(temp);

  const Case cases[] = {
      {"48-kernel stripe bank: black_stripe, radii 8..22 step 2 x angles 0..150 step 30",
       "black_stripe", true, 48, 8, 22, 2, 0, 150, 30},
      {"4-kernel dot bank: black_dots, radii 3..9 step 2", "black_dots", false, 4, 3, 9, 2, 0, 0,
       0},
  };
  std::cout << "extract_pipeline_bench: one extract from bundle to saved files, median of " << kRuns
            << " runs\n";
  int rc = 0;
  for (const Case& c : cases)
    if (rc == 0) rc = run_case(c, temp);

  std::cout << "\nsingle-threaded process (threads: " << thread_count() << "), "
            << (pinned ? "pinned to CPU " + std::to_string(cpu) : std::string("not pinned"))
            << "\n";
  std::error_code ec;
  fs::remove_all(temp, ec);
  return rc;
}
