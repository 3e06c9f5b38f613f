// FolderSettings and DataFolder.txt, the folder file that remembers them.
//
// DataFolder.txt holds three lines, in this order: the data files folder,
// the database path, the newpics folder; no quotes, "\n" line ends. Each line
// is read whole (a comma or a blank is part of a path), and a CR before the
// line end is dropped, so a file written on another system reads the same.
//
// Where the file lives: beside the program when that folder is writable,
// otherwise in the user's configuration folder ($XDG_CONFIG_HOME/velmora,
// else ~/.config/velmora). Reading looks in the same two places in the same
// order; when both hold a copy (the program folder became read-only after a
// copy was written there), the copy written last is taken, so a later Start's
// paths are never hidden behind a stale file. The file is written through a
// temporary file and a rename: it is replaced whole or not at all.
#pragma once

#include <string>

#include "workstation/common/status.h"
#include "workstation/config/config_faults.h"
#include "workstation/config/settings.h"

namespace velmora::config {

inline constexpr const char* kFolderFileName = "DataFolder.txt";
// The open box's filter when choosing a database.
inline constexpr const char* kDatabaseFileFilter = "Velmora database (*.sqlite)";
// Sub-folder of the data files folder that the browse action proposes for new photographs.
inline constexpr const char* kNewpicsSubfolder = "newpic/";

struct FolderSettings {
  std::string data_folder;     // txtFoldersPath; ends in "/" once normalised
  std::string database_path;   // txtDatabase; full path of the .sqlite file
  std::string newpics_folder;  // txtNewpics; ends in "/" once normalised
};

// Appends "/" when the folder does not already end in one. An empty folder
// stays empty (it means "not given", not the file system's root).
std::string normalise_folder(const std::string& folder);
// Normalises the data files folder and the newpics folder; the database path
// is left as it stands.
void normalise_folders(FolderSettings* folders);

// The browse action's derivation, also used when the database box loses the
// focus: the data files folder is the database path without its file-name
// part (so it keeps its final "/"), the newpics folder that folder followed by
// "newpic/".
FolderSettings folders_from_database_path(const std::string& database_path);

// The rest of the browse action once the operator has chosen `database_path`:
// derives the folders into *folders, resets LimitSearch to false and reads the
// new data files folder's orlain.ini into *settings. Showing the controls and
// setting the working folder are the window's part.
void apply_browse_choice(const std::string& database_path, FolderSettings* folders,
                         Settings* settings, Faults* faults);

// The two places DataFolder.txt may live. Either may be empty (not known).
struct FolderFileLocations {
  std::string program_folder;      // folder of the running executable
  std::string user_config_folder;  // created when the file is first written there
};

// The executable's own folder (from /proc/self/exe; the working folder when
// that cannot be read).
std::string default_program_folder();
// $XDG_CONFIG_HOME/velmora when XDG_CONFIG_HOME is an absolute path, else
// $HOME/.config/velmora; empty when neither is set.
std::string default_user_config_folder();
FolderFileLocations default_folder_file_locations();

// folder + "/DataFolder.txt" (no second "/" when folder ends in one).
std::string folder_file_path(const std::string& folder);

// Reads DataFolder.txt. NotFound when neither place holds one (start-up then
// hides the folder controls); otherwise *folders receives the three lines and
// *read_from (optional) the path read. A file with fewer than three lines
// fills what it has, clears the rest and returns Corruption naming the file;
// an unreadable or oversized file returns IOError / Corruption and leaves
// *folders alone.
Status read_folder_file(const FolderFileLocations& where, FolderSettings* folders,
                        std::string* read_from = nullptr);

// Writes the three values to DataFolder.txt, in the program folder when a
// file can be written there, otherwise in the user's configuration folder
// (created when missing). *written_to (optional) receives the path written.
// Fails, naming both places and the reasons, only when neither accepts the
// file; fails at once with InvalidArgument when a value holds a line end,
// which would shift the three lines.
Status write_folder_file(const FolderFileLocations& where, const FolderSettings& folders,
                         std::string* written_to = nullptr);

}  // namespace velmora::config
