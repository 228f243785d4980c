// A second start with a file name while the window runs (a double-clicked "*.604") hands the
// file to the running window, which opens it with its usual questions, instead of ending with
// "Программа уже запущена!". The running window listens on a local socket in the user's runtime
// folder; a second start with switches keeps the single-instance behaviour of the start-up.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace kba604 {

// The socket's path: "kba604-window" in $XDG_RUNTIME_DIR (else the temp folder).
QString hand_over_socket();

// The running window's end.
class FileHandOver final : public QObject {
  Q_OBJECT

 public:
  explicit FileHandOver(QObject* parent = nullptr);
  // Starts listening; a socket left behind by a program that ended without removing it is
  // taken over. False when it cannot listen (the program then simply has no hand-over).
  bool listen();

 signals:
  // An absolute file name sent by a second start.
  void file_received(const QString& path);

 private:
  QLocalServer server_;
};

// The second start's end: sends the file (made absolute against the current folder) to the
// running window. True when the window took it; false when no window listens.
bool hand_over_file(const QString& path, int timeout_ms = 3000);

}  // namespace kba604
