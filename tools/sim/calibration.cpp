#include "sim/calibration.h"

#include <algorithm>
#include <utility>

namespace kba604::sim {
namespace {

// Sensor codes each calibration type accepts on its input.
bool sensor_fits(int type, int code) {
  static const int kType1[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                               14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  static const int kThermocouples[] = {5, 6, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  static const int kValves[] = {26, 27, 28, 41};
  auto in = [code](const auto& list) {
    return std::find(std::begin(list), std::end(list), code) != std::end(list);
  };
  switch (type) {
    case 1:
      return in(kType1);
    case 2:
      return in(kThermocouples);
    case 4:
      return in(kValves);
    default:
      return true;
  }
}

}  // namespace

Calibration::Calibration(CalibrationOptions options, std::uint32_t seed)
    : options_(options), rng_(seed) {}

bool Calibration::finished(double now) const {
  return phase_ == Phase::kMeasuring && !options_.never_finish &&
         now - started_ >= options_.seconds * time_scale_;
}

std::uint8_t Calibration::flags(double now) const {
  if (phase_ == Phase::kIdle) return 0;
  if (!finished(now)) return kInitialMeasurements;
  return static_cast<std::uint8_t>(kFinished | (stored_now_ ? kStored : 0));
}

int Calibration::coefficient_count() const {
  switch (type_) {
    case 2:
      return 2;
    case 3:
      return 4;
    default:
      return 1;
  }
}

std::string Calibration::key() const {
  std::string k = "type" + std::to_string(type_);
  if (type_ == 4) k += ".in" + std::to_string(input_ + 1) + (position_ ? ".open" : ".closed");
  return k;
}

CommandReply Calibration::start(const Bytes& data, double now, bool regulating,
                                const std::function<int(int)>& sensor_code) {
  if (phase_ == Phase::kMeasuring && !finished(now)) return {nerr::kTaskRunning, {}};
  if (regulating) return {0x61, {}};
  int type;
  int input = 0;
  int position = 0;
  if (data.size() == 1) {
    type = data[0];
    if (type == 4) return {0, {0, kWrongType}};
  } else if (data.size() == 2) {
    type = data[1];
    input = data[0] & 0x7F;
    position = data[0] >> 7;
    if (type != 4) return {0, {0, kWrongType}};
  } else {
    return {nerr::kDataSize, {}};
  }
  if (type < 1 || type > 4) return {0, {0, kWrongType}};
  if (input > 7) return {0, {0, kWrongChannel}};

  phase_ = Phase::kMeasuring;
  started_ = now;
  type_ = type;
  input_ = input;
  position_ = position;
  int code = type == 3 ? -1 : sensor_code(input);
  final_status_ = (code >= 0 && !sensor_fits(type, code))
                      ? kSensorMismatch
                      : static_cast<std::uint8_t>(options_.status);
  stored_now_ = false;
  std::uniform_real_distribution<float> small(-0.01f, 0.01f);
  coefficients_.clear();
  for (int i = 0; i < coefficient_count(); ++i) {
    float k = i == 0 ? 1.0f + small(rng_) : small(rng_);
    if (type == 4) k = position ? 0.97f + small(rng_) : 0.03f + small(rng_);
    if (i + 1 == options_.bad_coefficient) k = 9.875f;
    coefficients_.push_back(k);
  }
  return {0, {kInitialMeasurements, 0}};
}

CommandReply Calibration::progress(double now) {
  if (phase_ == Phase::kIdle) return {nerr::kTaskNotStarted, {}};
  if (!finished(now)) return {0, {kInitialMeasurements, kNotReady}};
  return {0, {flags(now), final_status_}};
}

CommandReply Calibration::test(double now) {
  if (phase_ == Phase::kIdle) return {nerr::kTaskNotStarted, {}};
  if (!finished(now)) return {0, {0, kInitialMeasurements, kNotReady}};
  int bad = final_status_ == 0 && options_.bad_coefficient <= coefficient_count()
                ? options_.bad_coefficient
                : 0;
  std::uint8_t status = bad ? kCoefficientsLarge : final_status_;
  return {0, {static_cast<std::uint8_t>(bad), kFinished, status}};
}

CommandReply Calibration::coefficient(const Bytes& data, double now) {
  if (phase_ == Phase::kIdle) return {nerr::kTaskNotStarted, {}};
  if (data.size() != 1) return {nerr::kDataSize, {}};
  if (!finished(now)) return {0, {kInitialMeasurements, kNotReady}};
  if (final_status_ != 0) return {0, {kFinished, kNotReady}};
  int n = data[0];
  if (n < 1 || n > coefficient_count()) {
    std::uint8_t limit = coefficient_count() == 1 ? 33 : coefficient_count() == 2 ? 34 : 36;
    return {0, {kFinished, limit}};
  }
  if (options_.coefficient_bytes == 2) return {0, {kFinished, kNotReady}};
  Bytes reply{static_cast<std::uint8_t>(n)};
  Bytes value = float_bytes(coefficients_[static_cast<std::size_t>(n - 1)]);
  reply.insert(reply.end(), value.begin(), value.end());
  if (options_.coefficient_bytes == 3) reply.resize(3);
  return {0, reply};
}

CommandReply Calibration::store(double now) {
  if (phase_ == Phase::kIdle || !finished(now) || final_status_ != 0)
    return {0, {flags(now), kNotReady}};
  if (options_.bad_coefficient >= 1 && options_.bad_coefficient <= coefficient_count())
    return {0, {flags(now), kCoefficientsLarge}};
  if (options_.store_fails) return {0, {flags(now), kStoreFailed}};
  stored_[key()] = coefficients_;
  changed_ = true;
  stored_now_ = true;
  return {0, {flags(now), 0}};
}

CommandReply Calibration::abort() {
  phase_ = Phase::kIdle;
  stored_now_ = false;
  return {0, {0, 0}};
}

}  // namespace kba604::sim
