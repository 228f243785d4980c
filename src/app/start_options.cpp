#include "app/start_options.h"

namespace kba604 {

void StartOptions::clear() {
  mode_flags = 0;
  line_settings = 0;
  presentation = 0;
  set_uni({});
  clear_after_automation();
}

void StartOptions::clear_after_automation() {
  switch_flags = 0;
  geometry_mask = 0;
  port = 0;
  bps = 0;
  set_addr({});
  set_sbit({});
  x = y = w = h = 0;
}

}  // namespace kba604
