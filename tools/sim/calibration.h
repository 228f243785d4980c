// The instrument's side of input calibration: "CLB.I" starts a measurement that finishes after a
// few seconds (bit 7 of the process flags), "CLB.S" reports its progress, "CLB.T" the check of
// the computed coefficients, "CLB.G" one coefficient, "CLB.P" stores them, "CLB.A" ends the
// process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sim/device_value.h"
#include "sim/options.h"

namespace kba604::sim {

// A reply's data, or the network error the instrument answers instead (error != 0).
struct CommandReply {
  std::uint8_t error = 0;
  Bytes data;
};

class Calibration {
 public:
  // Process flags.
  static constexpr std::uint8_t kInitialMeasurements = 0x03;
  static constexpr std::uint8_t kStored = 0x40;
  static constexpr std::uint8_t kFinished = 0x80;
  // Status codes.
  static constexpr std::uint8_t kSensorMismatch = 10;
  static constexpr std::uint8_t kWrongChannel = 12;
  static constexpr std::uint8_t kWrongType = 13;
  static constexpr std::uint8_t kStoreFailed = 15;
  static constexpr std::uint8_t kNotReady = 32;
  static constexpr std::uint8_t kCoefficientsLarge = 4;

  Calibration(CalibrationOptions options, std::uint32_t seed);

  // sensor_code(input) gives the sensor code set for an input ("in-t"), -1 when unknown.
  CommandReply start(const Bytes& data, double now, bool regulating,
                     const std::function<int(int)>& sensor_code);
  CommandReply progress(double now);
  CommandReply test(double now);
  CommandReply coefficient(const Bytes& data, double now);
  CommandReply store(double now);
  CommandReply abort();
  // How long the instrument takes to answer "CLB.P", in seconds.
  double store_seconds() const { return options_.store_ms / 1000.0 * time_scale_; }

  CalibrationOptions& options() { return options_; }
  void set_time_scale(double scale) { time_scale_ = scale; }
  // Coefficients stored so far, by calibration ("type1", "type4.in3.open" ...).
  const std::map<std::string, std::vector<float>>& stored() const { return stored_; }
  void set_stored(std::map<std::string, std::vector<float>> stored) { stored_ = std::move(stored); }
  bool take_changed() { return std::exchange(changed_, false); }

 private:
  enum class Phase { kIdle, kMeasuring };
  bool finished(double now) const;
  std::uint8_t flags(double now) const;
  int coefficient_count() const;
  std::string key() const;

  CalibrationOptions options_;
  double time_scale_ = 1.0;
  std::mt19937 rng_;
  Phase phase_ = Phase::kIdle;
  double started_ = 0;
  int type_ = 0;
  int input_ = 0;
  int position_ = 0;  // valve: 0 closed, 1 open
  std::uint8_t final_status_ = 0;
  bool stored_now_ = false;  // the coefficients of this measurement are stored
  std::vector<float> coefficients_;
  std::map<std::string, std::vector<float>> stored_;
  bool changed_ = false;
};

}  // namespace kba604::sim
