// The virtual KBA604 served in-process on a new pseudo-terminal, for tests that need an
// instrument on the other side of a serial port:
//
//   kba604::test::VirtualInstrument sim;                 // one KBA604 at address 16, 9600 8N1
//   port.open(sim.path());                               // the program's side of the line
//   kba604::test::VirtualInstrument two({"--address", "16", "--address", "24", "--drop", "1"});
//   sim.with([](kba604::sim::Instrument& i) { return i.regulating(); });
//
// The arguments are those of kba604-sim (see kba604-sim --help). Unless they say otherwise the
// instrument's own delays are instant (--time-scale 0), the noise is seeded (--seed 1) and the
// description is the one the build compiled into <build>/share/kba604/.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/description.h"
#include "sim/line.h"
#include "support/build_paths.h"

namespace kba604::test {

class VirtualInstrument {
 public:
  explicit VirtualInstrument(std::vector<std::string> args = {});
  // With a description of the test's own instead of the shipped one.
  VirtualInstrument(std::vector<std::string> args,
                    std::shared_ptr<const sim::Description> description);
  ~VirtualInstrument();
  VirtualInstrument(const VirtualInstrument&) = delete;
  VirtualInstrument& operator=(const VirtualInstrument&) = delete;

  // The terminal to open as the serial port.
  const std::string& path() const { return line_->path(); }
  sim::Line& line() { return *line_; }
  // Runs f on instrument i (in the order of the --address options) between two frames.
  template <class F>
  decltype(auto) with(F&& f, std::size_t i = 0) {
    return line_->with_instrument(i, std::forward<F>(f));
  }
  // Ends serving now (the state file is saved); the destructor does it otherwise.
  void stop();
  // Messages the line reported (a damaged state file, description problems).
  std::vector<std::string> messages() const;

 private:
  void start(std::vector<std::string> args, std::shared_ptr<const sim::Description> description);

  mutable std::mutex mutex_;
  std::shared_ptr<std::vector<std::string>> messages_;
  std::unique_ptr<sim::Line> line_;
};

// The description compiled into the build tree, read once per test program; throws with the
// reason when it cannot be read.
std::shared_ptr<const sim::Description> shipped_description();
// True when the build tree holds a description.
bool shipped_description_exists();

}  // namespace kba604::test
