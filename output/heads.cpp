#include "output/heads.h"

#include "output/net_wr.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace dropix {

namespace {
bool put_u32s(std::FILE* fp, const u32* v, std::size_t n, io_faults* faults) {
  u8 bytes[4 * minutes_per_day_table];
  for (std::size_t i = 0; i < n; ++i) put_u32(bytes + 4 * i, v[i]);
  return write_all(fp, bytes, 4 * n, faults);
}
}  // namespace

const char* write_hd_head(std::FILE* fp, const u32* pos_pix, s16 oldlen, const head_tags& tags, io_faults* faults) {
  if (seek64(fp, 0, SEEK_SET) != 0) return tags.seek;
  if (!put_u32s(fp, pos_pix, minutes_per_day_table, faults)) return tags.first;
  u8 len[2];
  put_s16(len, oldlen);
  if (!write_all(fp, len, sizeof len, faults)) return tags.second;
  if (!flush_file(fp, faults)) return tags.flush;
  return nullptr;
}

const char* write_abh(std::FILE* fp, const raw_positions& pos, u32 lastpix_y, bool zero_word, const head_tags& tags,
                      io_faults* faults) {
  if (seek64(fp, 0, SEEK_SET) != 0) return tags.seek;
  if (!put_u32s(fp, pos.posa_bf, minutes_per_day_table, faults)) return tags.first;
  if (!put_u32s(fp, pos.posb_bf, minutes_per_day_table, faults)) return tags.second;
  const u32 tail[2] = {lastpix_y, 0};
  if (!put_u32s(fp, tail, zero_word ? 2 : 1, faults)) return tags.third;
  if (!flush_file(fp, faults)) return tags.flush;
  return nullptr;
}

void write_failed(writer_state& wr, diagnostics& d, const char* tag, const std::string& file) {
  const int e = errno;
  wr.broken = true;
  report_errno(d, tag ? tag : "");
  fail(d, "%s cannot be written (%s): the run stops; what is on disk is kept, and a run after the cause is mended goes on from there\n",
       file.c_str(), e ? std::strerror(e) : "unexpected end of data");
}

}  // namespace dropix
