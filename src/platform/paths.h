// Where the program keeps its files. The XDG variables and HOME are honoured, so a test (or a
// user) can give the program a private home by setting them. The program never changes its
// current directory: a file named on the command line is taken relative to where it was started.
#pragma once

#include <filesystem>
#include <string>

namespace kba604::platform {

// $XDG_CONFIG_HOME, else $HOME/.config. Relative values are ignored, as the XDG rules say.
std::filesystem::path config_home();
// $XDG_DATA_HOME, else $HOME/.local/share.
std::filesystem::path data_home();
// $XDG_RUNTIME_DIR when it is set and absolute, else the temp folder.
std::filesystem::path runtime_dir();
// $TMPDIR when it is set and absolute, else /tmp.
std::filesystem::path temp_dir();

// The program's settings: $XDG_CONFIG_HOME/TALV/KBA604.conf.
std::filesystem::path settings_file();
// The configurator registration: $XDG_CONFIG_HOME/TALV/Devices.conf, section [KBA604].
std::filesystem::path devices_file();

// The program directory $XDG_DATA_HOME/TALV/KBA604/ (the measurement protocol, reports and the
// parameter list live there). Does not touch the file system.
std::filesystem::path program_directory();
// Creates the program directory with its "protocol" and "temp" folders when they are missing.
// Returns false (and the reason in *error, when given) when one could not be created.
bool ensure_program_directory(std::string* error = nullptr);

// The running program's own file (from /proc/self/exe); empty when it cannot be learnt.
std::filesystem::path executable_path();
// The default data folder: <executable dir>/../share/kba604/, normalised, with a trailing "/".
// A build tree lays the description files out the same way as an installation.
std::filesystem::path default_data_directory();

// Makes sure a folder name ends with "/", as the data folder setting does.
std::string with_trailing_slash(std::string folder);

}  // namespace kba604::platform
