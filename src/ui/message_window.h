// The one-line message window of long file work: "Загрузка файлов дерева..." while the
// description files load (at start-up and with a configuration file), and the share of a
// configuration file stored or read so far. Modeless and without buttons; it is made on first
// use and afterwards only given new text, and never made at all when the program was started
// hidden.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

namespace kba604 {

class MessageWindow final : public QObject {
  Q_OBJECT

 public:
  // hidden_start: the program was started hidden; nothing is ever shown then.
  explicit MessageWindow(bool hidden_start, QObject* parent = nullptr);
  ~MessageWindow() override;

  // Shows the window with this line (any thread; another thread's text is shown as soon as
  // the UI thread gets to it). The window is painted at once, since the UI thread is usually
  // about to be busy with the work it announces.
  void show_text(std::string_view text);
  // The share done, 0..100, under the line; 100 closes the window.
  void show_percent(int percent);
  // Closes the window (it is kept for the next text).
  void close();

  bool visible() const;
  QString text() const;
  // The share shown, or -1 when no share is shown.
  int percent() const;

 signals:
  // What was shown (UI thread).
  void text_shown(const QString& text);
  void percent_shown(int percent);

 private:
  void ensure();
  void show_on_ui_thread(const QString& text);
  void percent_on_ui_thread(int percent);

  bool hidden_start_;
  QPointer<QWidget> window_;
  QLabel* label_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

class CKBA604Doc;
class MainWindow;

// Whether these start parameters start the program hidden (the tray icon only), when no
// message window is ever shown.
bool starts_hidden(const std::vector<std::string>& params);

// The window's file work in the message window: the share of a configuration file stored or
// read, shown under the loading line or under "Сохранение файла..."; the window closes once
// the tree has been built (now, and after each load).
void show_file_work(MessageWindow& message, MainWindow& window, CKBA604Doc& doc);

}  // namespace kba604
