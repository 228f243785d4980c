// What the calibration wizard needs of the instrument: the calibration commands ("CLB.I",
// "CLB.S", "CLB.T", "CLB.G", "CLB.P", "CLB.A"), each one request to the instrument's own address,
// and the sensor type "in-t" of an input, read and written through the parameter table so that
// the tree shows what the wizard set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kba604 {
class Device;
class Parameter;
}  // namespace kba604

namespace kba604::calibration {

using Bytes = std::vector<std::uint8_t>;

// One exchange: the reply's data bytes, or the reason it failed.
struct Exchange {
  bool ok = false;
  Bytes data;
  std::string error;
};

// The sensor type of an input as the table holds it after a read.
struct SensorType {
  bool ok = false;
  std::string value;               // the value text
  std::vector<std::string> items;  // the names of the sensor types, position = sensor code
  std::string error;               // why the read failed
};

class CalibrationLink {
 public:
  virtual ~CalibrationLink() = default;
  // A calibration command: request_bit 1 for the reading commands, 0 for the others.
  virtual Exchange command(std::string_view name, int request_bit, const Bytes& data) = 0;
  // "CLB.P": the instrument writes its EEPROM before it answers, so the reply is waited for
  // longer (a read time-out constant of 300 ms in place of 50).
  virtual Exchange store_command() = 0;
  // "in-t" of input 0..7: read from the instrument only when the table holds no value yet.
  virtual SensorType sensor_type(int input, bool read_from_instrument) = 0;
  // Writes the sensor code into "in-t" of the input and reads it back. "" on success, else
  // the text of the failed exchange.
  virtual std::string write_sensor_type(int input, int code) = 0;
};

// The link of the program: the device's request layer and its parameter table.
class DeviceCalibrationLink final : public CalibrationLink {
 public:
  explicit DeviceCalibrationLink(Device& device) : device_(device) {}
  Exchange command(std::string_view name, int request_bit, const Bytes& data) override;
  Exchange store_command() override;
  SensorType sensor_type(int input, bool read_from_instrument) override;
  std::string write_sensor_type(int input, int code) override;

 private:
  Parameter* sensor_parameter(int input) const;
  Device& device_;
};

}  // namespace kba604::calibration
