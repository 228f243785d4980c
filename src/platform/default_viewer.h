// Handing a file to the desktop: the page or workbook the program has just written is opened
// in the application the user chose for its type. On Linux that is "xdg-open", started with an
// argument vector and never through a shell, so no character of a file name is ever read as a
// command.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kba604::platform {

// Starts a program found on PATH with these arguments (argv[0] is the program's name). With
// wait, waits for it and gives its exit status in *exit_status (-1 when it did not exit
// normally); without, the program runs on its own and is reaped in the background. False, with
// the reason in *error when given, when it could not be started.
bool run_program(const std::vector<std::string>& argv, bool wait, int* exit_status = nullptr,
                 std::string* error = nullptr);

// The command that opens a file in its default viewer: "xdg-open" and the file's name.
std::vector<std::string> default_viewer_command(const std::filesystem::path& file);

// Asks the desktop to open the file in its default viewer ("xdg-open file"); does not wait for
// the viewer. False, with the reason in *error when given, when the opener could not start.
bool open_in_default_viewer(const std::filesystem::path& file, std::string* error = nullptr);

}  // namespace kba604::platform
