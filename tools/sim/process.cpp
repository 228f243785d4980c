#include "sim/process.h"

#include <algorithm>
#include <cmath>

namespace kba604::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLag = 20.0;  // seconds: time constant of the regulated object

// Resting value of each input: room temperature plus a little per channel.
double ambient(int index) {
  return 20.0 + 2.5 * index;
}

}  // namespace

Process::Process(std::uint32_t seed) : rng_(seed) {
  std::uniform_real_distribution<double> phase(0.0, 2 * kPi);
  for (double& p : phase_) p = phase(rng_);
  regulated_ = ambient(0);
}

double Process::process_time(double now) const {
  // With a scale of 0 a microsecond of real time stands for a second of the process.
  return time_scale_ > 0 ? now / time_scale_ : now * 1e6;
}

void Process::profile(double t, double& setpoint, int& step) const {
  if (program_.empty()) {
    setpoint = fixed_setpoint_;
    step = 1;
    return;
  }
  double from = start_value_;
  double elapsed = std::max(0.0, t - started_);
  for (std::size_t k = 0; k < program_.size(); ++k) {
    const ProgramStep& s = program_[k];
    step = static_cast<int>(k) + 1;
    if (elapsed < s.ramp_seconds) {
      setpoint = from + (s.setpoint - from) * elapsed / s.ramp_seconds;
      return;
    }
    elapsed -= s.ramp_seconds;
    if (elapsed < s.hold_seconds || k + 1 == program_.size()) {
      setpoint = s.setpoint;
      return;
    }
    elapsed -= s.hold_seconds;
    from = s.setpoint;
  }
}

void Process::advance(double t) {
  double dt = t - last_t_;
  if (dt <= 0) return;
  double target = ambient(0);
  if (running_) {
    int step;
    profile(t, target, step);
  }
  regulated_ += (target - regulated_) * (1.0 - std::exp(-dt / kLag));
  last_t_ = t;
}

void Process::start(double now, std::vector<ProgramStep> program, double setpoint) {
  double t = process_time(now);
  advance(t);
  running_ = true;
  started_ = t;
  start_value_ = regulated_;
  program_ = std::move(program);
  fixed_setpoint_ = setpoint;
}

void Process::stop(double now) {
  advance(process_time(now));
  running_ = false;
}

double Process::input(int index, double now) {
  double t = process_time(now);
  advance(t);
  index = std::clamp(index, 0, kInputs - 1);
  double base = index == 0 ? regulated_ : ambient(index);
  double period = 60.0 + 7.0 * index;
  double wobble = (0.4 + 0.1 * index) * std::sin(2 * kPi * t / period + phase_[index]);
  return base + wobble + noise_(rng_);
}

std::optional<double> Process::setpoint(double now) {
  if (!running_) return std::nullopt;
  double t = process_time(now);
  advance(t);
  double sp;
  int step;
  profile(t, sp, step);
  return sp;
}

double Process::output(double now) {
  std::optional<double> sp = setpoint(now);
  if (!sp) return 0.0;
  return std::clamp(5.0 * (*sp - regulated_), 0.0, 100.0);
}

int Process::alarm(double now) {
  const double t = process_time(now);
  advance(t);
  if (running_) {
    double sp;
    int step;
    profile(t, sp, step);
    return std::fabs(regulated_ - sp) > kAlarmBand ? 1 : 0;
  }
  // At rest the limit sits inside the signal's swing (noise left out, so that the state does
  // not flicker at the crossing): the alarm comes and goes about once a minute, and stays on
  // while a heated object cools down.
  const double swing = 0.4 * std::sin(2 * kPi * t / 60.0 + phase_[0]);
  return regulated_ - ambient(0) + swing > 0.2 ? 1 : 0;
}

int Process::discrete_inputs(double now) {
  const double t = process_time(now);
  int bits = 0;
  for (int k = 0; k < 4; ++k) {
    // Input k is on for the second half of each period of 10 + 7k seconds.
    const double period = 10.0 + 7.0 * k;
    const double phase = std::fmod(t + phase_[k] * period, period);
    if (phase >= period / 2) bits |= 1 << k;
  }
  return bits;
}

int Process::step(double now) {
  if (!running_) return 0;
  double sp;
  int step;
  profile(process_time(now), sp, step);
  return step;
}

}  // namespace kba604::sim
