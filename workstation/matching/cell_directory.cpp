// Loading and answering the cell directory (see cell_directory.h).
#include "workstation/matching/cell_directory.h"

namespace velmora::matching {

namespace {

unsigned char lower(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

}  // namespace

size_t CellDirectory::NoCaseHash::operator()(std::string_view name) const {
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the lower-case bytes
  for (char c : name) {
    h ^= lower(c);
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool CellDirectory::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Status CellDirectory::add(const std::string& cell, int64_t cell_no, const std::string& id) {
  if (cell_no < 1) {
    return Status::InvalidArgument("The cell '" + cell + "' has no valid cell number (" +
                                   std::to_string(cell_no) +
                                   "); the cells are renumbered when Start is pressed.");
  }
  auto [it, added] = by_number_.try_emplace(cell_no, Entry{cell, id});
  if (!added) {
    // Two cells under one number would send one cell's scores to the other.
    return Status::InvalidArgument("The cells '" + it->second.cell + "' and '" + cell +
                                   "' have the same cell number " + std::to_string(cell_no) +
                                   "; the cells are renumbered when Start is pressed.");
  }
  by_name_.emplace(cell, cell_no);  // the first of a name wins
  return Status::Ok();
}

Status CellDirectory::load(db::PreparedStatements* statements, CellDirectory* directory) {
  CellDirectory fresh;
  db::RecordSet rs;
  Status s = statements->get("cells_by_name")->open(&rs);
  if (!s.ok()) return s;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    s = fresh.add(rs.text("cell"), rs.integer("cell_no"), "");
    if (!s.ok()) return s;
  }
  s = statements->get("cells_by_number")->open(&rs);
  if (!s.ok()) return s;
  for (rs.move_first(); !rs.eof(); rs.move_next()) {
    auto it = fresh.by_number_.find(rs.integer("cell_no"));
    if (it != fresh.by_number_.end()) it->second.id = rs.text("ID");
  }
  *directory = std::move(fresh);
  return Status::Ok();
}

int64_t CellDirectory::number_of(std::string_view cell) const {
  auto it = by_name_.find(cell);
  return it == by_name_.end() ? 0 : it->second;
}

const std::string* CellDirectory::cell_of(int64_t cell_no) const {
  auto it = by_number_.find(cell_no);
  return it == by_number_.end() ? nullptr : &it->second.cell;
}

const std::string* CellDirectory::id_of(int64_t cell_no) const {
  auto it = by_number_.find(cell_no);
  return it == by_number_.end() ? nullptr : &it->second.id;
}

}  // namespace velmora::matching
