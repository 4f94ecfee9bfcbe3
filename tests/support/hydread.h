// Readers of the output files, for tests and tools: the .hyd record stream decoded back
// (main header records and drop records with their unpacked silhouettes), .hd and .abh.
#pragma once

#include <string>
#include <vector>

#include "common/formats.h"

namespace dropix::hydkit {

struct silhouette_piece {
  s16 first;
  s16 last;
  bool operator==(const silhouette_piece&) const = default;
};

struct hyd_record {
  u32 offset = 0;     // position in the .hyd file
  u32 length = 0;     // bytes
  bool is_header = false;
  main_rec header;    // when is_header
  drop_head drop;     // otherwise
  u32 bits = 0;       // bits per packed value
  std::vector<silhouette_piece> a;  // camera A pieces, line by line, absolute pixels
  std::vector<silhouette_piece> b;  // camera B pieces
};

// Decodes a whole .hyd file. Stops at the first byte that starts no whole record and says
// why in *error (empty when the file is whole).
std::vector<hyd_record> read_hyd(const std::vector<u8>& bytes, std::string* error = nullptr);

struct hd_file {
  std::vector<u32> pos_pix;  // 1442 entries
  s16 oldlen = 0;
  std::vector<main_rec> headers;
  std::size_t trailing = 0;  // bytes after the last whole header
};
hd_file read_hd(const std::vector<u8>& bytes);

struct abh_file {
  std::vector<u32> posa_bf, posb_bf;  // 1442 entries each
  u32 lastpix_y = 0;
  std::size_t size = 0;
};
abh_file read_abh(const std::vector<u8>& bytes);

// The packed values of a record: b bits each, least significant bit first, in 16-bit words.
std::vector<u32> unpack_values(const u8* words, std::size_t n_words, u32 bits, std::size_t count);

}  // namespace dropix::hydkit
