// The item reader and the application of orlain.ini to Settings.
//
// The whole file is read into memory first (it is small) and split in one
// pass; each item remembers the line it began on so that a fault message can
// point the operator at it.
#include "workstation/config/configuration_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velmora::config {
namespace {

bool is_line_end(char c) {
  return c == '\n' || c == '\r';
}

// Steps over one line end at text[*i] (CR LF counts once) and counts it.
void skip_line_end(std::string_view text, size_t* i, int* line) {
  if (text[*i] == '\r' && *i + 1 < text.size() && text[*i + 1] == '\n') ++*i;
  ++*i;
  ++*line;
}

// Counts the line ends inside [from, to) without moving anything.
int count_line_ends(std::string_view text, size_t from, size_t to) {
  int n = 0;
  for (size_t i = from; i < to; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= to || text[i + 1] != '\n'))) ++n;
  }
  return n;
}

// An item as the operator sees it in a message; a runaway item is cut short.
std::string in_quotes(std::string_view s) {
  constexpr size_t kShown = 80;
  if (s.size() <= kShown) return "'" + std::string(s) + "'";
  return "'" + std::string(s.substr(0, kShown)) + "...'";
}

// A file that is not a configuration file at all would bring one fault per
// item; the operator needs the first few and the count.
constexpr size_t kMaxFaultsPerFile = 20;

}  // namespace

std::vector<ConfigItem> split_config_items(std::string_view text) {
  std::vector<ConfigItem> items;
  size_t i = 0;
  int line = 1;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    ConfigItem item;
    item.line = line;
    if (i < text.size() && text[i] == '"') {
      size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) {
        item.text = std::string(text.substr(i + 1));
        item.unclosed_quote = true;
        items.push_back(std::move(item));
        break;
      }
      item.text = std::string(text.substr(i + 1, close - i - 1));
      line += count_line_ends(text, i + 1, close);
      i = close + 1;
      // The item still ends only at a comma or a line end.
      while (i < text.size() && text[i] != ',' && !is_line_end(text[i])) {
        if (text[i] != ' ' && text[i] != '\t') item.text_after_quote = true;
        ++i;
      }
    } else {
      size_t start = i;
      while (i < text.size() && text[i] != ',' && !is_line_end(text[i])) ++i;
      item.text = std::string(text.substr(start, i - start));
    }
    items.push_back(std::move(item));
    if (i < text.size()) {
      if (text[i] == ',') {
        ++i;
        // A comma as the file's last byte still ends an (empty) item.
        if (i == text.size()) items.push_back(ConfigItem{"", line, false, false});
      } else {
        skip_line_end(text, &i, &line);
      }
    }
  }
  return items;
}

void apply_configuration_text(std::string_view text, const std::string& file, Settings* settings,
                              Faults* faults) {
  std::vector<ConfigItem> items = split_config_items(text);
  size_t reported = 0, withheld = 0;
  auto report = [&](Status st) {
    if (reported < kMaxFaultsPerFile) {
      faults->push_back(std::move(st));
      ++reported;
    } else {
      ++withheld;
    }
  };
  if (!items.empty() && items[0].unclosed_quote) {
    // The header swallowed the whole file: say so rather than assign nothing quietly.
    report(Status::Corruption(file + " line 1: the quote opened in the header is " +
                              "never closed; no key of the file is read"));
  }
  for (size_t n = 1; n < items.size(); ++n) {  // items[0] is the header
    const ConfigItem& item = items[n];
    const std::string where = file + " line " + std::to_string(item.line) + ": ";
    if (item.unclosed_quote) {
      report(Status::Corruption(where + "the quote opened here is never closed; " +
                                "the rest of the file is ignored"));
      continue;
    }
    if (item.text_after_quote) {
      report(Status::Corruption(where + "text after the closing quote of item " +
                                in_quotes(item.text) + " is ignored"));
    }
    if (item.text.empty()) continue;
    if (item.text.find('\0') != std::string::npos) {
      report(
          Status::Corruption(where + "item holds a zero byte (is the file plain text?); ignored"));
      continue;
    }
    size_t eq = item.text.find('=');
    if (eq == std::string::npos) {
      report(Status::InvalidArgument(where + "item " + in_quotes(item.text) +
                                     " has no \"=\" and is ignored"));
      continue;
    }
    std::string_view key = std::string_view(item.text).substr(0, eq);
    std::string_view value = std::string_view(item.text).substr(eq + 1);
    Status s = config_assign(settings, key, value);
    if (s.code() == Status::Code::kInvalidArgument) {
      report(Status::InvalidArgument(where + s.message()));
    }
  }
  if (withheld > 0) {
    faults->push_back(Status::Corruption(file + ": " + std::to_string(withheld) +
                                         " more faults not listed; is this a configuration file?"));
  }
}

void read_configuration(const std::string& data_folder, Settings* settings, Faults* faults) {
  const std::string path = data_folder + kConfigurationFileName;
  const std::string keep = "; the settings keep their current values";
  std::error_code ec;
  auto st = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(st)) {
    faults->push_back(Status::NotFound(path + ": configuration file not found" + keep));
    return;
  }
  if (!std::filesystem::is_regular_file(st)) {
    faults->push_back(Status::IOError(path + ": configuration file is not a regular file" + keep));
    return;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    faults->push_back(Status::IOError(path + ": configuration file cannot be opened (" +
                                      std::strerror(errno) + ")" + keep));
    return;
  }
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxConfigurationBytes) {
      faults->push_back(Status::Corruption(path + ": configuration file is larger than " +
                                           std::to_string(kMaxConfigurationBytes) +
                                           " bytes and was not read" + keep));
      return;
    }
  }
  if (in.bad()) {
    faults->push_back(Status::IOError(path + ": configuration file cannot be read" + keep));
    return;
  }
  apply_configuration_text(text, path, settings, faults);
}

}  // namespace velmora::config
