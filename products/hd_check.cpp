#include "products/hd_check.h"

#include <algorithm>

namespace dropix::products {

namespace {

bool same_header(const main_rec& a, const main_rec& b) {
  return a.main_time == b.main_time && a.line_fr == b.line_fr && a.gate1 == b.gate1 && a.XSCALE0_1 == b.XSCALE0_1 &&
         a.XSCALE0_2 == b.XSCALE0_2 && a.L0_1 == b.L0_1 && a.L0_2 == b.L0_2 && a.HBL == b.HBL && a.HBR == b.HBR &&
         a.HFR == b.HFR;
}

}  // namespace

std::string check_hd(const reader::hd_file& hd, std::size_t hd_size, const hyd_outline& hyd) {
  if (hd.pos_pix.empty())
    return "too short for its minute index (" + std::to_string(hd_size) + " of " + std::to_string(hd_fmt::head_size) +
           " bytes)";
  if (hd.trailing != 0)
    return "ends inside a main header record (" + std::to_string(hd.trailing) + " bytes after the last whole one)";
  if (hd.headers.size() != hyd.headers.size())
    return "holds " + std::to_string(hd.headers.size()) + " main header records, the .hyd " +
           std::to_string(hyd.headers.size());
  for (std::size_t i = 0; i < hd.headers.size(); ++i)
    if (!same_header(hd.headers[i], hyd.headers[i]))
      return "main header record " + std::to_string(i + 1) + " differs from the .hyd's";
  for (int k = 1; k < minutes_per_day_table; ++k) {
    const u32 at = hd.pos_pix[static_cast<std::size_t>(k)];
    if (at == pos_unset) continue;
    const std::string minute = "its minute index puts minute " + std::to_string(k) + " at byte " + std::to_string(at);
    if (at >= hyd.size) return "the .hyd is cut short: " + minute + ", beyond its " + std::to_string(hyd.size) + " bytes";
    const auto it = std::lower_bound(hyd.drop_offsets.begin(), hyd.drop_offsets.end(), static_cast<u64>(at));
    if (it == hyd.drop_offsets.end() || *it != at) return minute + ", where no drop record of the .hyd starts";
    const int m = hyd.drop_minutes[static_cast<std::size_t>(it - hyd.drop_offsets.begin())];
    if (m < k) return minute + ", where the .hyd holds a drop of minute " + std::to_string(m);
  }
  if (hyd.size > 0 && static_cast<u32>(static_cast<u16>(hd.oldlen)) != hyd.last_length)
    return "says the last record of the .hyd is " + std::to_string(hd.oldlen) + " bytes long, but it is " +
           std::to_string(hyd.last_length) + ": the .hyd was cut short or added to";
  return {};
}

}  // namespace dropix::products
