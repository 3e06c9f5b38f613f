// How the review shows a photograph, as plain computations: the window draws
// what these return and nothing else decides it.
//
// A photograph is framed on the part of the animal the operator cropped when
// it was fitted (the crop record of its fit file), turned by 180 degrees when
// it shows the dorsal midline of an animal facing right (so that both animals
// on screen face the same way), and always fills its whole picture: without a
// crop the source rectangle takes the picture's proportions from the
// photograph's top left corner, and what lies beyond the photograph stays
// empty. A turned photograph is drawn from the opposite corner with negative
// sizes.
//
// Sizes of pictures are in the window's scale units; the photograph's own are
// pixels. Nothing here touches the window or the database.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "workstation/common/status.h"
#include "workstation/model/fit_records.h"

namespace velmora::confirm {

// One photograph of an animal as the review lists it. Texts, as the photo
// tables hold them: a null facing or side becomes "L" for both, null
// comments an empty text.
struct PhotoRow {
  std::string photo, cell, dt, facing, side, comments;
  friend bool operator==(const PhotoRow&, const PhotoRow&) = default;
};

// The most photographs one photo table holds for an animal.
inline constexpr int kMaxPhotoRows = 1000;

struct PictureSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// A rectangle of the photograph, in its pixels; negative sizes run from the
// opposite corner (a turned photograph).
struct SourceRect {
  double x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const SourceRect&, const SourceRect&) = default;
};

// What one picture shows: the photograph file, the rectangle of it painted
// over the whole picture (destination 0, 0, target width, target height).
struct PhotoPicture {
  std::string file;
  int photo_width = 0, photo_height = 0;  // pixels
  SourceRect source;
  bool turned = false;  // drawn turned by 180 degrees
  bool framed = false;  // on the fit file's crop
  PictureSize target;
  friend bool operator==(const PhotoPicture&, const PhotoPicture&) = default;
};

// -1 (turned) for a photograph of the midline ("M") of an animal facing
// right ("R"); +1 otherwise. A flank facing right is drawn as it is.
int turn_factor(const std::string& facing, const std::string& side);

// Whether a photograph is framed on `crop`: a source corner above 0, 0 and
// non-zero sizes.
bool frames_photo(const std::optional<model::CropRecord>& crop);

// The source rectangle for a photograph of `photo_width` x `photo_height`
// pixels painted into a picture of `target` size, framed on `crop` when
// frames_photo says so; `turn` is turn_factor's.
SourceRect source_rectangle(int photo_width, int photo_height, PictureSize target,
                            const std::optional<model::CropRecord>& crop, int turn);

// The text under a picture: " showing: <cell> of animal <id> on <dt> <comments>".
std::string photo_caption(const PhotoRow& row, const std::string& id);

// The messages for a photograph that went missing after its table was filled.
std::string missing_library_photo_message(const std::string& photo);
std::string missing_pending_photo_message(const std::string& photo);

// newpics folder + photo + ".jpg"; `newpics_folder` gets a final "/" when it
// has none.
std::string photograph_path(const std::string& newpics_folder, const std::string& photo);

// Width and height in pixels of the JPEG file at `path`, read from its frame
// header (no decoding). NotFound for a missing file, Corruption for a file
// that is not a JPEG or has no frame header.
Status read_jpeg_size(const std::string& path, int* width, int* height);

// The crop a photograph of `cell` is framed on: the crop record of its fit
// file under `data_folder` ("savedraw/" + cell, a cell ending in "A_HD" taking
// the fit file of its "1_HD"). nullopt when there is no readable fit file:
// the photograph is then shown unframed.
std::optional<model::CropRecord> display_crop(const std::string& data_folder,
                                              const std::string& cell);

// One thumbnail's place in the library view (scale units) and the library
// photo it shows (1-based row of the library photo table).
struct ThumbnailPlace {
  int index = 0;  // picLibImage index, 1..8
  int row = 0;
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const ThumbnailPlace&, const ThumbnailPlace&) = default;
};

// Places for library rows first..last (at most eight): two, three and other
// counts get widths 508, 338 and 254, heights two thirds of that (rounded),
// four to a row.
std::vector<ThumbnailPlace> layout_thumbnails(int first, int last);

// Counting mode over a library photo table: consecutive rows showing the
// same photograph the same way (photo, facing, side and crop size) are
// reduced to one, the distinct rows moved to the head of the table in order.
// `crop_size` gives the crop width and height of a row (0, 0 without a fit
// file). Returns the number of distinct rows; the table keeps only those.
struct CropSize {
  int width = 0, height = 0;
};
template <typename CropOf>
int compact_distinct_photos(std::vector<PhotoRow>* rows, CropOf&& crop_size);

// The score as the review shows it: a probability above 1 (a combined or
// unstandardised score) is pressed below 1 by 1 / (1 / (score + 0.1) + 1);
// 1 and below are shown as they are. Single precision, as the log keeps it.
float displayed_score(double max_of_score);

// ------------------------------------------------------------------------

template <typename CropOf>
int compact_distinct_photos(std::vector<PhotoRow>* rows, CropOf&& crop_size) {
  std::string last_key;
  bool any = false;
  int count = 0;
  for (std::size_t i = 0; i < rows->size(); ++i) {
    const PhotoRow& row = (*rows)[i];
    const CropSize crop = crop_size(row);
    const std::string key = row.photo + row.facing + row.side + std::to_string(crop.width) +
                            std::to_string(crop.height);
    if (any && key == last_key) continue;
    any = true;
    last_key = key;
    (*rows)[count] = (*rows)[i];
    ++count;
  }
  rows->resize(count);
  return count;
}

}  // namespace velmora::confirm
