// The operational branch of the window's tree bound to the document's polling and measurement
// recording:
//   - a polled row's check box arms and disarms its parameter on the scanner, the period column
//     changes its period through the scanner's rule and box;
//   - the protocol-file row's check box switches the recording on and off, its value column
//     takes the engineer's file name;
//   - every poll is recorded on the scanner's thread, in poll order, and then handed to the UI
//     thread, which repaints the parameter's rows and feeds the trend view;
//   - a one-second timer drives the daily change of the day file;
//   - the scanner starts again whenever the tree has been built anew (after a reload of the
//     description the scanner has let go of the old parameters).
//
//   auto* polling = new PollingBinding(window, doc, scanner, recording, prompter);
//
// The scanner and the recording must outlive the binding; the binding is a child of the
// window and withdraws itself from the scanner when it goes.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "app/prompter.h"
#include "operations/scanner.h"

namespace kba604 {

class CKBA604Doc;
class ConfiguratorDocument;
class MainWindow;
class QtNotificationSink;
class Recording;
class TrendView;
struct TrendBacklog;

// The caption of the command that shows the trend view, in the tree's menu.
inline constexpr const char* kTrendCommandText = "График опрашиваемых параметров...";

class PollingBinding final : public QObject, public PollSink {
  Q_OBJECT

 public:
  // scanner may be none (a build without a link): the recording row is bound all the same.
  PollingBinding(MainWindow& window, CKBA604Doc& doc, Scanner* scanner, Recording& recording,
                 Prompter& prompter);
  ~PollingBinding() override;

  // PollSink (the scanner's thread): records the poll, then hands it to the UI thread.
  void polled(PollSnapshot snapshot) override;

  // The one-second work: the daily change of the day file. True when it ran.
  bool tick();
  // The trend view, made on first use; it is fed every poll from then on.
  TrendView& trend_view();
  // The menu that holds the trend view's command (none when the window has no tree menu).
  QMenu* trend_menu() const { return trend_menu_; }
  // How many polls the UI thread has shown.
  int shown_polls() const { return shown_; }

 signals:
  // A poll has been shown in its rows (UI thread).
  void poll_shown(const kba604::PollSnapshot& snapshot);
  // The trend view has just been made.
  void trend_view_made(kba604::TrendView* view);

 private:
  void tree_rebuilt();
  void show_poll(const PollSnapshot& snapshot);

  MainWindow& window_;
  CKBA604Doc& doc_;
  Scanner* scanner_;
  Recording& recording_;
  Prompter& prompter_;
  QTimer second_;
  QPointer<TrendView> trend_;
  QMenu* trend_menu_ = nullptr;
  std::unique_ptr<TrendBacklog> backlog_;
  int shown_ = 0;
};

// Binds the window to the polling and recording of the program's document; called once the
// window exists.
PollingBinding* bind_polling(MainWindow& window, ConfiguratorDocument& document,
                             Prompter& prompter);

}  // namespace kba604
