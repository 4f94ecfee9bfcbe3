// The reader of .hyd files: records decoded back, and damage refused with its offset.
#include <gtest/gtest.h>

#include <vector>

#include "reader/hyd_reader.h"

namespace dropix {
namespace {

// A drop record of two lines per camera, 3 bits per value: camera A pieces {10,12},{9,13},
// camera B {20,21},{19,22}; the values 1,0,3,4 | 1,0,2,3 packed in two words.
std::vector<u8> small_drop(s16 len_prev = 74) {
  std::vector<u8> b(34, 0);
  drop_head h;
  h.len_bits = static_cast<u16>(3 * 2048 + 34);
  h.len_prev = len_prev;
  h.y_first = 1000.0;
  h.lines_a = 2;
  h.pix_min_a = 9;
  h.pix_min_b = 19;
  encode_drop_head(h, b.data());
  put_u16(b.data() + 30, 0x18C1);
  put_u16(b.data() + 32, 0x0068);
  return b;
}

std::vector<u8> header_record() {
  std::vector<u8> b(main_rec_fmt::size);
  main_rec r;
  r.main_time = 86400;
  r.line_fr = 55000;
  encode_main_rec(r, b.data());
  return b;
}

std::vector<u8> joined(std::initializer_list<std::vector<u8>> parts) {
  std::vector<u8> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(hyd_reader, decodes_headers_and_drops_with_their_silhouettes) {
  const std::vector<u8> file = joined({header_record(), small_drop()});
  std::string error = "not cleared";
  const auto recs = reader::read_hyd(file, &error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_TRUE(recs[0].is_header);
  EXPECT_EQ(recs[0].header.main_time, 86400u);
  EXPECT_FALSE(recs[1].is_header);
  EXPECT_EQ(recs[1].offset, 74u);
  EXPECT_EQ(recs[1].bits, 3u);
  using p = reader::silhouette_piece;
  EXPECT_EQ(recs[1].a, (std::vector<p>{{10, 12}, {9, 13}}));
  EXPECT_EQ(recs[1].b, (std::vector<p>{{20, 21}, {19, 22}}));
}

TEST(hyd_reader, the_fast_walk_leaves_the_silhouettes_out) {
  const std::vector<u8> file = small_drop();
  reader::hyd_cursor cur(file);
  reader::hyd_record r;
  ASSERT_TRUE(cur.next(r, false));
  EXPECT_TRUE(r.a.empty());
  EXPECT_EQ(r.drop.y_first, 1000.0);
  EXPECT_FALSE(cur.next(r));
  EXPECT_EQ(cur.error(), "");
}

TEST(hyd_reader, damage_ends_the_reading_at_its_offset) {
  struct damaged {
    std::vector<u8> bytes;
    const char* error;
  };
  std::vector<u8> bad_mark = header_record();
  put_u16(bad_mark.data() + main_rec_fmt::rec_mark, 0);
  std::vector<u8> no_bits = small_drop();
  put_u16(no_bits.data(), 34);  // 0 bits per value
  std::vector<u8> no_lines = small_drop();
  put_s16(no_lines.data() + drop_fmt::lines_diff, -2);  // camera B with no line
  std::vector<u8> short_data = small_drop();
  put_s16(short_data.data() + drop_fmt::lines_a, 3);  // 3 + 3 lines need 36 bits, 32 are there
  std::vector<u8> cut_drop = small_drop();
  cut_drop.pop_back();
  std::vector<u8> cut_header = header_record();
  cut_header.resize(40);
  const damaged cases[] = {
      {joined({header_record(), {0x05}}), "record cut short at offset 74"},
      {joined({header_record(), {0x05, 0x00, 1, 2}}), "no record at offset 74"},
      {joined({header_record(), cut_drop}), "drop record cut short at offset 74"},
      {cut_header, "main header record cut short at offset 0"},
      {bad_mark, "main header record without its mark at offset 0"},
      {joined({header_record(), no_bits}), "drop record with an impossible bit count at offset 74"},
      {joined({small_drop(), no_lines}), "drop record with impossible line counts at offset 34"},
      {short_data, "drop record too short for its silhouettes at offset 0"},
  };
  for (const damaged& c : cases) {
    std::string error;
    reader::read_hyd(c.bytes, &error);
    EXPECT_EQ(error, c.error);
  }
}

TEST(hyd_reader, unpacks_values_across_word_boundaries) {
  // Values 0..9 of 7 bits each, packed least significant bit first.
  std::vector<u8> words(10, 0);
  for (u32 i = 0; i < 10; ++i)
    for (u32 j = 0; j < 7; ++j)
      if ((i >> j) & 1u) words[(7 * i + j) / 8] |= static_cast<u8>(1u << ((7 * i + j) % 8));
  const std::vector<u32> v = reader::unpack_values(words.data(), 5, 7, 12);
  ASSERT_EQ(v.size(), 11u);  // 80 bits hold 11 values; the 12th is not there
  for (u32 i = 0; i < 10; ++i) EXPECT_EQ(v[i], i);
}

}  // namespace
}  // namespace dropix
