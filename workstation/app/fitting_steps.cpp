#include "workstation/app/fitting_steps.h"

#include <filesystem>

#include "workstation/common/safe_path.h"
#include "workstation/model/ui/photo_file.h"

namespace velmora::app {

Status current_photo_path(const runs::RunContext& ctx, std::string* path) {
  const db::RecordSet& row = ctx.extraction.current_image_row;
  Status s = join_safe(ctx.folders.newpics_folder, row.text("photo") + ".jpg", path);
  if (!s.ok()) return s.with_note(" (the photograph of cell " + row.text("cell") + ")");
  return s;
}

Status show_fitting_window(runs::RunContext& ctx, const ShowForm3D& show) {
  const db::RecordSet& row = ctx.extraction.current_image_row;
  const std::string cell = row.text("cell");
  std::string path;
  Status s = current_photo_path(ctx, &path);
  if (!s.ok()) return s;
  model::Photo photo;
  s = model::load_photo(path, &photo);
  if (!s.ok()) return s.with_note(" (cell " + cell + ": the photograph cannot be fitted)");

  model::Form3DSetup setup;
  setup.session.cell = cell;
  setup.session.aspect = row.text("aspect");
  setup.session.aspect_settings = ctx.aspect_settings;
  setup.session.settings = ctx.settings;
  setup.session.data_folder = ctx.folders.data_folder;
  std::error_code ec;
  setup.session.working_folder = ctx.working_folder.empty()
                                     ? std::filesystem::current_path(ec)
                                     : std::filesystem::path(ctx.working_folder);
  setup.id = row.text("id");
  setup.comments = row.text("comments");
  setup.photo = &photo;
  setup.db = ctx.session.db.get();
  setup.dialogs = ctx.dialogs;
  std::unique_ptr<model::Form3D> form;
  s = model::Form3D::open(setup, &ctx.shared_extract, &form);
  if (!s.ok()) return s;
  if (show)
    show(*form);
  else
    form->exec();
  return Status::Ok();
}

void install_fitting_steps(runs::RunContext& ctx, ShowForm3D show) {
  ctx.hooks.extraction.show_extraction_window = [show](runs::RunContext& c) {
    return show_fitting_window(c, show);
  };
}

}  // namespace velmora::app
