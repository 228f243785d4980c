// DeviceCommands: the document's commands over the whole instrument that run an operation and
// then do something with its result: "Записать заводские параметры в прибор" (InitialiseDevice)
// and the EEPROM image into a file and from a file (SaveEepromImage, LoadEepromImage).
//
// Each command has two forms.
//  - The waiting form (InitialiseDevice, SaveEepromImage, LoadEepromImage) returns when the
//    command has ended, with its result. The headless runner uses it; a window never does, as
//    it waits for the worker without a limit.
//  - The asynchronous form (start_initialise, start_save_eeprom_image, start_load_eeprom_image)
//    is for a window. On the calling (UI) thread it checks the guards and asks its questions,
//    which need no line, starts the operation and returns at once: true when the operation
//    started, false when the command ended there (refused, answered No, a file that cannot be
//    read; its messages have been shown). When a started command has ended, the worker thread
//    calls sink.command_finished(<the command's number>) once; last_result() then tells how it
//    ended. A front end hands the notification over to its UI thread. What the command does
//    after the operation (writing the image file, its messages) runs on the worker before the
//    notification, so the prompter may be called from the worker: a front end's prompter
//    must then ask on its own UI thread (the UI thread never waits for the worker there).
//
// One command at a time: a start while an operation runs waits, as every operation start does,
// up to 2 s for it and then refuses.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/commands.h"
#include "app/notifications.h"
#include "operations/device_operations.h"

namespace kba604 {

class DeviceCommands {
 public:
  // app, the device and sink must outlive the commands; the device's worker must run.
  DeviceCommands(CKBA604App& app, std::shared_ptr<DeviceOperations> device, NotificationSink& sink);

  // ---- waiting forms ---------------------------------------------------------------------------
  // Initialisation of root (the main tree) with its guards and question; true when it ran.
  bool InitialiseDevice(ObjectWithParameters& root, const PollingGuard* polling);
  // Reads every parameter of the table and saves the image at path (replacing a file there);
  // a read that was stopped before its end saves nothing and says so. True when saved.
  bool SaveEepromImage(const std::string& path);
  // Loads the image at path into the configuration and, when the engineer agrees, writes it to
  // the instrument. True when the image was loaded.
  bool LoadEepromImage(const std::string& path);

  // ---- asynchronous forms (see the top of this file) --------------------------------------------
  // Completion: command_finished(command::kWriteFactory); last_result() true when it ran.
  bool start_initialise(ObjectWithParameters& root, const PollingGuard* polling);
  // Completion: command_finished(command::kSaveEepromImage); last_result() true when saved.
  bool start_save_eeprom_image(const std::string& path);
  // The image is loaded into the configuration and the question asked on the calling thread;
  // false when nothing is written to the instrument (last_result() then tells whether the image
  // was loaded). Completion of the write: command_finished(command::kLoadEepromImage).
  bool start_load_eeprom_image(const std::string& path);

  // The result of the last command that ended.
  bool last_result() const { return state_->result.load(); }

 private:
  struct State {
    std::atomic<bool> result{false};
  };
  // The image read from path into the table; false with its message shown when it cannot be
  // read or is damaged (what was read before the damage stays).
  bool load_image(const std::string& path);
  bool ask_initialise(const PollingGuard* polling);
  // Starts an operation with its completion: after, then the result and the notification.
  bool start_with_completion(int command, const std::function<bool()>& start,
                             std::function<bool()> after);

  CKBA604App& app_;
  std::shared_ptr<DeviceOperations> device_;
  NotificationSink& sink_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace kba604
