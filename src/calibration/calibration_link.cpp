#include "calibration/calibration_link.h"

#include <mutex>

#include "link/frame_codec.h"
#include "model/talv_codec.h"
#include "model/texts.h"
#include "operations/device.h"
#include "platform/text.h"

namespace kba604::calibration {
namespace {

constexpr int kSensorTypeRole = 105;  // the device role slot of "in-t", one per input
constexpr std::uint32_t kStoreReadConstantMs = 300;

Exchange exchange(Device& device, std::string_view name, int request_bit, const Bytes& data) {
  Exchange out;
  std::uint8_t reply[kMaxReplyData] = {};
  int count = 0;
  out.ok = exchange_frame(device, request_bit, hash_name(name), data.data(),
                          static_cast<int>(data.size()), 0, reply, &count, &out.error)
               .ok();
  if (out.ok) out.data.assign(reply, reply + count);
  return out;
}

}  // namespace

Exchange DeviceCalibrationLink::command(std::string_view name, int request_bit, const Bytes& data) {
  return exchange(device_, name, request_bit, data);
}

Exchange DeviceCalibrationLink::store_command() {
  // The longer wait holds for this one exchange only: the lock keeps every other request out
  // until the usual time-out is back, and the port stays open in between.
  std::lock_guard lock(device_.link_lock());
  Sio::TemporaryOpening opening(device_.sio());
  const std::uint32_t saved = device_.sio().timeouts().read_constant;
  device_.sio().set_read_constant(kStoreReadConstantMs);
  Exchange out = exchange(device_, "CLB.P", 0, {});
  device_.sio().set_read_constant(saved);
  return out;
}

Parameter* DeviceCalibrationLink::sensor_parameter(int input) const {
  ParameterTable& table = device_.table();
  if (Parameter* p = table.device_slot(kSensorTypeRole, input)) return p;
  for (Parameter& p : table) {
    if (p.linear_index == input && platform::iequals(p.short_name, "in-t")) return &p;
  }
  return nullptr;
}

SensorType DeviceCalibrationLink::sensor_type(int input, bool read_from_instrument) {
  SensorType out;
  Parameter* p = sensor_parameter(input);
  if (p == nullptr) {
    out.error = "Нет параметра \"in-t\" входа №" + std::to_string(input + 1) + "\n";
    return out;
  }
  // The views read the table at the same time: values and notes are taken under its lock,
  // never held across an exchange.
  auto value = [p] {
    ValueReadLock lock(*p);
    return p->value;
  };
  auto note = [p] {
    ValueReadLock lock(*p);
    return p->note.empty() ? std::string(kTimeoutText) : p->note;
  };
  const std::string held = value();
  if (read_from_instrument || held == kNoData || held.empty()) {
    const int result = device_.transact_parameter(nullptr, p, 1, false);
    // The read changed the row (its value, or its note on a failure): the views redraw it.
    device_.notify_changed(*p);
    if (result != kRequestOk) {
      out.error = note();
      return out;
    }
  }
  out.ok = true;
  out.value = value();
  out.items = p->parsed_format().items;
  return out;
}

std::string DeviceCalibrationLink::write_sensor_type(int input, int code) {
  Parameter* p = sensor_parameter(input);
  if (p == nullptr) return "Нет параметра \"in-t\" входа №" + std::to_string(input + 1) + "\n";
  std::vector<std::string> items = p->parsed_format().items;
  if (code < 0 || code >= static_cast<int>(items.size())) {
    return "Тип датчика " + std::to_string(code) + " не входит в список \"in-t\"\n";
  }
  // After a write that got no confirmation the instrument may hold the old type or the new
  // one: the table claims neither, so the tree never shows a sensor type the instrument may
  // not hold, and the next look at the input reads it from the instrument.
  auto note = [p] {
    ValueReadLock lock(*p);
    return p->note.empty() ? std::string(kTimeoutText) : p->note;
  };
  {
    ValueWriteLock lock(*p);
    p->value = items[static_cast<std::size_t>(code)];
  }
  const int written = device_.transact_parameter(nullptr, p, 0, false);
  if (written != kRequestOk) {
    {
      ValueWriteLock lock(*p);
      p->value = kNoData;
    }
    device_.notify_changed(*p);
    return note();
  }
  const int read_back = device_.transact_parameter(nullptr, p, 1, false);
  // Announced once the read-back is in: the row then shows what the instrument holds.
  device_.notify_changed(*p);
  if (read_back != kRequestOk) return note();
  return {};
}

}  // namespace kba604::calibration
