// The days of the measurement protocol that can be shown again: the day files still in the
// protocol folder and the days packed into its monthly archives, one entry per day, and the
// reading of one of them into lines to plot.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "measurement/day_series.h"

namespace kba604 {

struct RecordedDay {
  std::string name;  // the day file's name, "07-12-2026.log"
  // The date the name stands for; 0 for a name that is no date (the engineer may name the
  // protocol file as he likes).
  int year = 0, month = 0, day = 0;
  bool on_disk = false;           // the day file is in the protocol folder
  std::filesystem::path archive;  // the monthly archive that holds it; empty when none

  bool dated() const { return year != 0; }
  // "07.12.2026", or the name for a day that is no date.
  std::string date_text() const;
};

// Every recorded day of protocol_dir: newest date first, then the names that are no date in
// name order. A day both packed and still on disk is one entry. Archives that cannot be opened
// are passed over.
std::vector<RecordedDay> recorded_days(const std::filesystem::path& protocol_dir);

// Reads one recorded day for plotting: the day file itself while it is on disk (it is never
// older than its packed copy), else its stream unpacked from its archive into a folder of its
// own under temp_dir (so that a report export unpacking the same day at the same time is not
// disturbed), read, and removed again. cancel and progress as for DaySeriesBuilder::read.
DaySeriesSet load_recorded_day(const DaySeriesBuilder& builder, const RecordedDay& day,
                               const std::filesystem::path& protocol_dir,
                               const std::filesystem::path& temp_dir,
                               const std::atomic<bool>* cancel = nullptr,
                               const std::function<void(int)>& progress = {});

}  // namespace kba604
