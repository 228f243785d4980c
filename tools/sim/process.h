// The instrument's measured world: eight inputs with smooth signals and noise, and a regulator
// on input 1 that follows a step program (set point ramps and holds) while regulation runs.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace kba604::sim {

struct ProgramStep {
  double setpoint = 0;
  double ramp_seconds = 0;  // time to reach the set point from the previous one
  double hold_seconds = 0;  // time the set point is then held
};

class Process {
 public:
  static constexpr int kInputs = 8;

  explicit Process(std::uint32_t seed);

  // Delays and dynamics are multiplied by the scale; 0 makes every transition instant.
  void set_time_scale(double scale) { time_scale_ = scale; }

  // Starts regulation with a program of steps (empty: hold `setpoint`).
  void start(double now, std::vector<ProgramStep> program, double setpoint);
  void stop(double now);
  bool running() const { return running_; }

  // Measured value of an input 0..7.
  double input(int index, double now);
  // Set point and output of the regulator; no set point while regulation is stopped.
  std::optional<double> setpoint(double now);
  double output(double now);
  // Step of the program being run, 1-based; 0 when stopped.
  int step(double now);
  // Number of the program being run: 1 while a program runs, 0 otherwise.
  int program() const { return running_ && !program_.empty() ? 1 : 0; }
  // The alarm device: 1 ("out of range") while regulating with input 1 further than
  // kAlarmBand from the set point, or at rest while input 1 is above its alarm limit.
  int alarm(double now);
  // The four discrete inputs as bits 0..3; each switches on and off at a pace of its own.
  int discrete_inputs(double now);

  static constexpr double kAlarmBand = 5.0;

 private:
  // Process seconds since the instrument started.
  double process_time(double now) const;
  // Set point and step at a process time while running.
  void profile(double t, double& setpoint, int& step) const;
  void advance(double t);

  double time_scale_ = 1.0;
  std::mt19937 rng_;
  std::normal_distribution<double> noise_{0.0, 0.03};
  double phase_[kInputs];

  bool running_ = false;
  double started_ = 0;  // process time
  double start_value_ = 0;
  std::vector<ProgramStep> program_;
  double fixed_setpoint_ = 0;

  double regulated_ = 0;  // input 1's slow value
  double last_t_ = 0;
};

}  // namespace kba604::sim
