#include "support/virtual_instrument.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include "support/build_paths.h"

namespace kba604::test {
namespace {

std::string shipped_folder() {
  return std::string(KBA604_BUILD_DIR) + "/share/kba604";
}

bool has_option(const std::vector<std::string>& args, const std::string& name) {
  return std::any_of(args.begin(), args.end(), [&](const std::string& a) {
    return a == name || a.rfind(name + "=", 0) == 0;
  });
}

}  // namespace

bool shipped_description_exists() {
  return std::filesystem::exists(shipped_folder() + "/parameters.zip");
}

std::shared_ptr<const sim::Description> shipped_description() {
  static std::mutex mutex;
  static std::shared_ptr<const sim::Description> cached;
  std::lock_guard<std::mutex> lock(mutex);
  if (!cached) {
    auto d = std::make_shared<sim::Description>();
    std::string error;
    if (!sim::load_description(shipped_folder(), *d, &error))
      throw std::runtime_error("the virtual instrument has no description: " + error);
    cached = d;
  }
  return cached;
}

VirtualInstrument::VirtualInstrument(std::vector<std::string> args) {
  std::shared_ptr<const sim::Description> description;
  auto data = std::find(args.begin(), args.end(), "--data");
  if (data != args.end() && data + 1 != args.end()) {
    auto d = std::make_shared<sim::Description>();
    std::string error;
    if (!sim::load_description(*(data + 1), *d, &error))
      throw std::runtime_error("the virtual instrument has no description: " + error);
    description = d;
  } else {
    description = shipped_description();
  }
  start(std::move(args), description);
}

VirtualInstrument::VirtualInstrument(std::vector<std::string> args,
                                     std::shared_ptr<const sim::Description> description) {
  start(std::move(args), std::move(description));
}

void VirtualInstrument::start(std::vector<std::string> args,
                              std::shared_ptr<const sim::Description> description) {
  if (!has_option(args, "--time-scale")) args.insert(args.begin(), {"--time-scale", "0"});
  if (!has_option(args, "--seed")) args.insert(args.begin(), {"--seed", "1"});
  sim::SimOptions options;
  std::string error;
  if (!sim::parse_options(args, options, &error))
    throw std::runtime_error("virtual instrument options: " + error);
  messages_ = std::make_shared<std::vector<std::string>>();
  auto sink = messages_;
  auto* mutex = &mutex_;
  line_ = sim::Line::start(options, std::move(description), &error,
                           [sink, mutex](const std::string& m) {
                             std::lock_guard<std::mutex> lock(*mutex);
                             sink->push_back(m);
                           });
  if (!line_) throw std::runtime_error("the virtual instrument did not start: " + error);
}

VirtualInstrument::~VirtualInstrument() {
  stop();
}

void VirtualInstrument::stop() {
  if (!line_) return;
  line_->request_stop();
  line_->wait();
}

std::vector<std::string> VirtualInstrument::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return *messages_;
}

}  // namespace kba604::test
