// Reading DROPIX's output files: the record stream of a .hyd file (main header records and
// drop records with their two silhouettes), the minute index and headers of .hd, and the
// resume tables of .abh.
//
// The reader never trusts the bytes: a record that is cut short, that is neither a main
// header record nor a drop record, or whose silhouettes do not fit its length ends the
// reading with a message naming the offset. It never reads outside the buffer it is given
// and never loops. Reading a file of a million drops takes well under a second.
//
//   std::string error;
//   const auto bytes = reader::load_file("out/V26342_1.hyd", &error);
//   reader::hyd_cursor cur(*bytes);
//   for (reader::hyd_record r; cur.next(r);) { ... }
//   if (!cur.error().empty()) { ... }
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/formats.h"

namespace dropix::reader {

// One piece of a silhouette: the shaded pixels of one scan line, both ends inclusive.
struct silhouette_piece {
  s16 first = 0;
  s16 last = 0;
  bool operator==(const silhouette_piece&) const = default;
};

// One record of a .hyd file.
struct hyd_record {
  u64 offset = 0;          // position in the file
  u32 length = 0;          // bytes
  bool is_header = false;  // a main header record; otherwise a drop record
  main_rec header;         // when is_header
  drop_head drop;          // otherwise: the 30-byte head
  u32 bits = 0;            // drop record: bits per packed value
  std::vector<silhouette_piece> a;  // camera A pieces, line by line, absolute pixel columns
  std::vector<silhouette_piece> b;  // camera B pieces
};

// Walks the records of a .hyd file held in memory, in file order.
class hyd_cursor {
 public:
  explicit hyd_cursor(std::span<const u8> bytes) : bytes_(bytes) {}

  // Reads the record at the cursor into `r` and moves past it. With `silhouettes` false the
  // pieces are not unpacked (r.a and r.b are left empty), which is several times faster.
  // Returns false at the end of the data, and at the first damaged record; error() tells
  // which.
  bool next(hyd_record& r, bool silhouettes = true);

  // Empty while the data are whole; otherwise what is wrong and at which offset.
  const std::string& error() const { return error_; }
  // Offset of the next record (of the damage, after a failed next()).
  u64 offset() const { return at_; }

 private:
  bool fail(const char* why);
  std::span<const u8> bytes_;
  u64 at_ = 0;
  std::string error_;
};

// All records of a .hyd file; stops at the first damaged record and says why in *error
// (empty when the file is whole).
std::vector<hyd_record> read_hyd(std::span<const u8> bytes, std::string* error = nullptr);

// The whole of a file, or nothing with the reason in *error.
std::optional<std::vector<u8>> load_file(const std::string& path, std::string* error = nullptr);

// The .hd file: minute index, oldlen and the stored main header records.
struct hd_file {
  std::vector<u32> pos_pix;       // 1442 entries; empty when the file is shorter than its head
  s16 oldlen = 0;
  std::vector<main_rec> headers;  // in file order
  std::size_t trailing = 0;       // bytes after the last whole header
};
hd_file read_hd(std::span<const u8> bytes);

// The .abh file: both cameras' per-minute raw positions and the line of the last drop flushed.
struct abh_file {
  std::vector<u32> posa_bf, posb_bf;  // 1442 entries each; empty when the file is too short
  u32 lastpix_y = 0;
  std::size_t size = 0;
};
abh_file read_abh(std::span<const u8> bytes);

// Unpacks `count` values of `bits` bits each (least significant bit first) from 16-bit
// little-endian words; stops early when the words run out.
std::vector<u32> unpack_values(const u8* words, std::size_t n_words, u32 bits, std::size_t count);

}  // namespace dropix::reader
