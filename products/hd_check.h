// Does a .hd file belong to its .hyd, and is the .hyd whole? The .hd is written after the
// .hyd at every flush: its minute index points at drop records of the .hyd, it stores the
// length of the .hyd's last record and a copy of every main header record. A .hyd cut short
// (even at a record boundary) or a .hd of another file shows up as a disagreement.
#pragma once

#include <string>
#include <vector>

#include "common/formats.h"
#include "reader/hyd_reader.h"

namespace dropix::products {

// What the check needs of the .hyd's records, in file order.
struct hyd_outline {
  u64 size = 0;                 // bytes
  u32 last_length = 0;          // length of the last record (0 for an empty file)
  std::vector<main_rec> headers;
  std::vector<u64> drop_offsets;  // increasing
  std::vector<int> drop_minutes;  // minute of the day of each drop (line count / (line_fr 60))
};

// Empty when the .hd agrees with the .hyd; otherwise the first disagreement, in words.
std::string check_hd(const reader::hd_file& hd, std::size_t hd_size, const hyd_outline& hyd);

}  // namespace dropix::products
