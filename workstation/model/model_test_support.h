// Scaffolding of the model tests: a data folder holding a shipped model
// file, and the settings of the flank aspect as the database gives them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "workstation/config/aspects.h"
#include "workstation/model/fit_session.h"

namespace velmora::model::testing {

// A fresh folder under the test's temporary folder, holding copies of the
// shipped model files named.
inline std::filesystem::path data_folder(const std::string& name,
                                         std::initializer_list<const char*> models) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("velmora_model_" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  for (const char* m : models)
    std::filesystem::copy_file(std::string(FENNICK_MODELS_DIR) + m, dir / m);
  return dir;
}

inline SessionSetup flank_setup(const std::filesystem::path& folder) {
  SessionSetup s;
  s.cell = "GS0001_01FL";
  s.aspect = "Flank";
  s.aspect_settings.cell_type = "lateral";
  s.aspect_settings.model_fname = "seal_flank.dat";
  s.data_folder = folder;
  s.working_folder = folder;
  return s;
}

}  // namespace velmora::model::testing
