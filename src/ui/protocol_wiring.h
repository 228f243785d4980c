// The measurement protocol's commands in the main window: "Экспорт протокола измерений..."
// opens the export dialog (with its cleaning of old archives) over the document's table and
// the program's protocol folder.
#pragma once

#include "app/prompter.h"
#include "files/kba604_doc.h"

namespace kba604 {

class MainWindow;

inline constexpr int kExportProtocolCommand = 288;

void wire_protocol_commands(MainWindow& window, CKBA604Doc& doc, Prompter& prompter);

}  // namespace kba604
