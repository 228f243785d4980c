#include "ui/protocol_wiring.h"

#include "ui/export_dialogs.h"
#include "ui/main_window.h"

namespace kba604 {

void wire_protocol_commands(MainWindow& window, CKBA604Doc& doc, Prompter& prompter) {
  window.set_command_handler(kExportProtocolCommand, [&window, &doc, &prompter] {
    // The protocol folder's parent is the program directory the dialog expects.
    CExportOperDlg dialog(doc.table(), doc.protocol_directory().parent_path(), prompter, &window);
    dialog.exec();
  });
}

}  // namespace kba604
