// Fuzz target: any bytes, read as extract.ini and, repeated to the right
// length, as each binary file of a bundle, are either refused with a message
// naming the file or give an extract that is valid and writes back to the
// very same bytes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "workstation/common/safe_path.h"
#include "workstation/extract/extract_bundle.h"

using namespace velmora::extract;

static void check(bool condition) {
  if (!condition) std::abort();
}

// `input` repeated until it is `size` bytes long (all zero when empty).
static std::string tiled(std::string_view input, std::size_t size) {
  std::string out(size, '\0');
  if (input.empty()) return out;
  for (std::size_t i = 0; i < size; ++i) out[i] = input[i % input.size()];
  return out;
}

static void refused_naming(const velmora::Status& s, const std::string& label) {
  check(!s.ok());
  check(s.message().find(label) != std::string::npos);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  ExtractIni ini;
  const velmora::Status ini_status = parse_extract_ini(input, "extract.ini", &ini);
  if (ini_status.ok()) {
    check(velmora::is_safe_file_name(ini.cell));
    ExtractIni again;
    check(parse_extract_ini(extract_ini_text(ini), "extract.ini", &again).ok());
    check(again.cell == ini.cell && again.blank_edited == ini.blank_edited);
  } else {
    refused_naming(ini_status, "extract.ini");
  }

  // The raw input is almost never of the right size: it must be refused
  // without reading past its end.
  std::vector<double> intensity;
  std::vector<std::int16_t> plane;
  if (size != kIntensityFileBytes)
    refused_naming(parse_intensity(input, "i.f64", &intensity), "i.f64");
  if (size != kRgbFileBytes) refused_naming(parse_rgb(input, "r.i16", &plane), "r.i16");
  if (size != kBlankFileBytes) refused_naming(parse_blank(input, "b.i16", &plane), "b.i16");

  // Repeated to full size, the input reaches the value checks.
  ExtractBundleBytes bytes{tiled(input, kIntensityFileBytes), tiled(input, kRgbFileBytes),
                           tiled(input, kBlankFileBytes), std::string(input)};
  SharedExtract extract;
  if (parse_intensity(bytes.intensity, "i.f64", &extract.intensity).ok()) {
    for (double v : extract.intensity) check(std::isfinite(v) && v >= 0.0 && v <= 255.0);
    check(intensity_bytes(extract) == bytes.intensity);
  }
  if (parse_rgb(bytes.rgb, "r.i16", &extract.rgb).ok()) check(rgb_bytes(extract) == bytes.rgb);
  if (parse_blank(bytes.blank, "b.i16", &extract.blank).ok()) {
    for (std::int16_t v : extract.blank) check(v == kBlankPixel || v == kUsablePixel);
    check(blank_bytes(extract) == bytes.blank);
  }

  // The whole bundle at once: valid exactly when every file is.
  SharedExtract whole;
  std::string cell;
  const velmora::Status s = read_extract_bundle_bytes(bytes, "fz", &whole, &cell);
  if (s.ok()) {
    check(ini_status.ok() && cell == ini.cell);
    check(check_extract_for_bundle(whole, cell).ok());
    check(intensity_bytes(whole) == bytes.intensity && rgb_bytes(whole) == bytes.rgb &&
          blank_bytes(whole) == bytes.blank);
  } else {
    check(s.message().rfind("fz/", 0) == 0);
  }
  return 0;
}
