#include "output/heads.h"

#include "platform/files.h"

namespace dropix {

namespace {
bool step(bool ok, const char* tag, diagnostics& d) {
  if (!ok && tag) report_errno(d, tag);
  return ok;
}
}  // namespace

bool write_hd_head(std::FILE* fp, const u32* pos_pix, s16 oldlen, const head_tags& tags, diagnostics& d) {
  bool ok = step(seek64(fp, 0, SEEK_SET) == 0, tags.seek, d);
  ok &= step(write_u32s(fp, pos_pix, minutes_per_day_table), tags.first, d);
  u8 len[2];
  put_s16(len, oldlen);
  ok &= step(std::fwrite(len, sizeof len, 1, fp) == 1, tags.second, d);
  ok &= step(std::fflush(fp) == 0, tags.flush, d);
  return ok;
}

bool write_abh(std::FILE* fp, const raw_positions& pos, u32 lastpix_y, bool zero_word, const head_tags& tags,
               diagnostics& d) {
  bool ok = step(seek64(fp, 0, SEEK_SET) == 0, tags.seek, d);
  ok &= step(write_u32s(fp, pos.posa_bf, minutes_per_day_table), tags.first, d);
  ok &= step(write_u32s(fp, pos.posb_bf, minutes_per_day_table), tags.second, d);
  const u32 tail[2] = {lastpix_y, 0};
  ok &= step(write_u32s(fp, tail, zero_word ? 2 : 1), tags.third, d);
  ok &= step(std::fflush(fp) == 0, tags.flush, d);
  return ok;
}

}  // namespace dropix
