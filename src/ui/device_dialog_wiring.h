// The instrument's service dialogs in the main window: the calibration wizard ("Юстировка
// входов...", also opened by the command line's "calibrate"), the single-parameter dialog
// ("Опрос отдельного параметра..."), the regulation dialog ("Запуск / Остановка
// регулирования..."), the parameter list's page ("Экспорт списка параметров в HTML") and the
// traffic monitor of the serial line ("Монитор обмена").
//
//   wire_device_dialogs(window, prompter);  // once the window exists
//
// The dialogs' exchanges change parameters of the table; each change is announced through the
// device's notification sink, so the tree redraws the rows concerned while a dialog is open,
// and the whole tree is redrawn once a dialog has closed.
#pragma once

#include <functional>

namespace kba604 {

class MainWindow;
class Parameter;
class Prompter;

// Gives the window's commands their dialogs. prompter shows the dialogs' boxes and questions;
// it must outlive the window. Nothing is wired when the document's device is not the program's
// link (a document without a line).
void wire_device_dialogs(MainWindow& window, Prompter& prompter);

// Whether "Юстировка входов..." may be opened now: the instrument named itself the KBA604, the
// access level and modification allow it, the program has a port and no operation runs.
bool calibration_enabled(MainWindow& window);

// The command line's "calibrate": the wizard opens as soon as the window's event loop runs, and
// done is called once it has ended, however the person ended it. False, with the reason on
// stderr, when the calibration is not available now (done is then never called) or the window
// has not been wired.
bool start_command_line_calibration(MainWindow& window, std::function<void()> done);

// The window's traffic monitor (a dock, closed until chosen), once wired; none before.
class TrafficMonitor;
TrafficMonitor* traffic_monitor(MainWindow& window);

// Selects the parameter's first row in the window's tree, opening the branches above it; false
// when the tree shows no such row.
bool show_in_tree(MainWindow& window, const Parameter& parameter);

}  // namespace kba604
