// Fuzz target: any bytes, read as a model definition file, are either
// refused with a message that starts with the file's name, leaving the
// records as they were, or give records within their capacities whose
// profile positions and knots increase, and reading the same bytes again
// over the result changes nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "libs/fennick/model_file.h"

using namespace velmora::fennick;

static void check(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto model = std::make_unique<ModelRecord>();
  auto marks = std::make_unique<MarkedPoints>();
  auto params = std::make_unique<FitParams>();
  ModelDefinition def;
  const velmora::Status s =
      read_model_definition(input, "fz.dat", {model.get(), marks.get(), params.get()}, &def);
  if (!s.ok()) {
    check(s.message().rfind("fz.dat", 0) == 0);
    const auto zero = std::make_unique<ModelRecord>();
    check(std::memcmp(model.get(), zero.get(), sizeof(ModelRecord)) == 0);
    return 0;
  }
  if (def.empty) return 0;
  const ModelRecord& m = *model;
  check(m.row_count >= 2 && m.row_count <= kMaxProfileRows);
  check(m.values_per_row >= 1 && m.values_per_row <= kMaxProfileValues);
  for (int e = 1; e < m.row_count; ++e) check(m.profile[e].position > m.profile[e - 1].position);
  for (const KnotGroup& g : m.groups) {
    check(g.count >= 2 && g.count <= kMaxKnots);
    check(g.knots[0] == m.first_position && g.knots[2 * (g.count - 1)] == m.last_position);
    for (int i = 1; i < g.count; ++i) check(g.knots[2 * i] >= g.knots[2 * (i - 1)]);
  }
  check(m.table_count >= 1 && m.table_count <= kMaxTableRows);
  check(m.special_count >= 0 && m.special_count <= kMaxSpecialPoints);
  check(def.special_names.size() == static_cast<std::size_t>(m.special_count));
  for (int i = 0; i < m.special_count; ++i) {
    check(marks->weights[i] >= 0);
    check(special_point_name(m, i) == def.special_names[i]);
  }

  auto again = std::make_unique<ModelRecord>(*model);
  auto marks_again = std::make_unique<MarkedPoints>(*marks);
  auto params_again = std::make_unique<FitParams>(*params);
  ModelDefinition def_again;
  check(read_model_definition(input, "fz.dat", {again.get(), marks_again.get(), params_again.get()},
                              &def_again)
            .ok());
  check(std::memcmp(again.get(), model.get(), sizeof(ModelRecord)) == 0);
  check(std::memcmp(marks_again.get(), marks.get(), sizeof(MarkedPoints)) == 0);
  check(std::memcmp(params_again.get(), params.get(), sizeof(FitParams)) == 0);
  return 0;
}
