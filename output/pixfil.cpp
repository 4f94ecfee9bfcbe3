#include "output/pixfil.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "control/diag.h"
#include "control/entry.h"
#include "control/quit.h"
#include "input/main_hr.h"
#include "output/resume.h"
#include "platform/platform.h"

namespace dropix {

namespace {

// An output file that cannot be opened or created ends the run: going on would lose every
// drop while looking like success.
[[noreturn]] void cannot_open(const char* tag) {
  report_errno(tag);
  quit(exit_status::failure);
}

// The raw file's name without directory and extension.
std::string stem_of(const std::string& path) {
  std::string name = base_name(path);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

// Reads up to `n` bytes; the bytes not read stay zero.
std::vector<u8> read_up_to(std::FILE* fp, std::size_t n, std::size_t* got) {
  std::vector<u8> bytes(n, 0);
  errno = 0;
  *got = std::fread(bytes.data(), 1, n, fp);
  return bytes;
}

void open_hyd() {
  wr.pix_fp = std::fopen(wr.pix_nam.c_str(), "a+b");
  if (!wr.pix_fp) cannot_open(" pixfil01 ");
  if (platform::seek64(wr.pix_fp, 0, SEEK_END) != 0) report_errno(" pixfil02 ");
  const s64 end = platform::tell64(wr.pix_fp);
  if (end < 0)
    report_errno(" pixfil03 ");
  else
    wr.pix_end = static_cast<u32>(end);
}

// Reads an existing .abh; returns whether there was one.
bool open_abh() {
  const bool exists = platform::file_exists(wr.abh_nam);
  hprintf("abh_exist=%d\n", static_cast<int>(exists));
  hprintf("abh_nam=%s\n", wr.abh_nam);
  if (exists) {
    wr.abh_fp = std::fopen(wr.abh_nam.c_str(), "r+b");
    if (!wr.abh_fp) cannot_open(" pixfil04 ");
    std::size_t got = 0;
    const std::vector<u8> b = read_up_to(wr.abh_fp, abh_fmt::created_size, &got);
    if (got < abh_fmt::posb_bf) report_errno(" pixfil05 ");
    else if (got < abh_fmt::lastpix_y) report_errno(" pixfil06 ");
    else if (got < abh_fmt::created_size) report_errno(" pixfil07 ");
    get_u32s(b.data() + abh_fmt::posa_bf, timing.posa_bf, minutes_per_day_table);
    get_u32s(b.data() + abh_fmt::posb_bf, timing.posb_bf, minutes_per_day_table);
    wr.lastpix_y = get_u32(b.data() + abh_fmt::lastpix_y);
    return true;
  }
  wr.abh_fp = std::fopen(wr.abh_nam.c_str(), "w+b");
  if (!wr.abh_fp) cannot_open(" pixfil09 ");
  if (!write_u32s(wr.abh_fp, timing.posa_bf, minutes_per_day_table)) report_errno(" pixfil10 ");
  if (!write_u32s(wr.abh_fp, timing.posb_bf, minutes_per_day_table)) report_errno(" pixfil11 ");
  if (!write_u32s(wr.abh_fp, &wr.lastpix_y, 1)) report_errno(" pixfil12 ");
  if (std::fflush(wr.abh_fp) != 0) report_errno(" pixfil13 ");
  return false;
}

void write_hd_head() {
  if (platform::seek64(wr.hd_fp, 0, SEEK_SET) != 0 || !write_u32s(wr.hd_fp, wr.pos_pix, minutes_per_day_table))
    report_errno(" pixfil19 ");
  u8 len[2];
  put_s16(len, wr.oldlen);
  if (std::fwrite(len, sizeof len, 1, wr.hd_fp) != 1) report_errno(" pixfil20 ");
  if (std::fflush(wr.hd_fp) != 0) report_errno(" pixfil21 ");
}

// Replays the main headers stored in .hd into maint and the header list, in file order.
// A header cut short at the end (a run killed while appending it) is cut off.
void read_stored_headers(std::vector<main_rec>& stored) {
  s64 at = hd_fmt::headers;
  for (;;) {
    u8 bytes[main_rec_fmt::size];
    errno = 0;
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, wr.hd_fp);
    if (got < sizeof bytes) {
      if (std::ferror(wr.hd_fp)) {
        err_printf(" could not read main header from headfil! \n");
        report_errno("pixfil32");
        quit(exit_status::failure);
      }
      if (got > 0) {
        err_printf("%s ends inside a main header at offset %lld: cut off there\n", wr.hd_nam.c_str(),
                   static_cast<long long>(at));
        if (platform::truncate_file(wr.hd_fp, at) != 0) report_errno(" pixfil33 ");
      }
      break;
    }
    if (hdr.maincnt >= max_headers) {
      err_printf(" more than 100 mainheaders ! \n");
      quit(exit_status::failure);
    }
    hdr.cur = decode_main_rec(bytes);
    hdr.maint[hdr.maincnt++] = hdr.cur.main_time;
    hprintf("maincnt=%d maint=%lu \n", hdr.maincnt - 1, hdr.cur.main_time);
    main_tim();
    stored.push_back(hdr.cur);
    at += static_cast<s64>(sizeof bytes);
  }
  hprintf("maincnt=%d \n", hdr.maincnt);
}

void open_hd(std::vector<main_rec>& stored) {
  const bool exists = platform::file_exists(wr.hd_nam);
  hprintf("hd_exist=%d\n", static_cast<int>(exists));
  hprintf("hd_nam=%s\n", wr.hd_nam);
  if (exists) {
    wr.hd_fp = std::fopen(wr.hd_nam.c_str(), "r+b");
    if (!wr.hd_fp) cannot_open(" pixfil14 ");
    std::size_t got = 0;
    const std::vector<u8> b = read_up_to(wr.hd_fp, hd_fmt::head_size, &got);
    if (got == hd_fmt::head_size) {
      get_u32s(b.data() + hd_fmt::pos_pix, wr.pos_pix, minutes_per_day_table);
      wr.oldlen = get_s16(b.data() + hd_fmt::oldlen);
    } else {
      // A head cut short is written whole again, so that headers are appended after it.
      report_errno(got < hd_fmt::oldlen ? " pixfil15 " : " pixfil16 ");
      if (got >= hd_fmt::oldlen) get_u32s(b.data(), wr.pos_pix, minutes_per_day_table);
      write_hd_head();
    }
    for (int k = 0; k <= 1440; ++k)
      if (wr.pos_pix[k] != pos_unset) wr.last_minute = static_cast<s16>(k);
    if (platform::seek64(wr.hd_fp, hd_fmt::headers, SEEK_SET) != 0) report_errno(" pixfil15 ");
    read_stored_headers(stored);
    return;
  }
  wr.hd_fp = std::fopen(wr.hd_nam.c_str(), "w+b");
  if (!wr.hd_fp) cannot_open(" pixfil18 ");
  write_hd_head();
  if (platform::seek64(wr.hd_fp, 0, SEEK_END) != 0) report_errno(" pixfil31 ");
}

}  // namespace

void pixfil() {
  hprintf("pixfil encountered \n");
  for (u32& e : timing.posa_bf) e = 0;
  for (u32& e : timing.posb_bf) e = 0;
  for (u32& e : wr.pos_pix) e = pos_unset;
  wr.pos_pix[0] = 0;
  wr.last_minute = 0;

  const std::string stem = stem_of(raw.mp_nam);
  wr.abh_nam = settings.raw_path + stem + ".abh";
  wr.pix_nam = settings.hyd_path + stem + ".hyd";
  wr.hd_nam = settings.hyd_path + stem + ".hd";
  raw.pix_day = raw.raw_day;
  hprintf("abh_nam=%s   pix_nam=%s   hd_nam=%s \n", wr.abh_nam, wr.pix_nam, wr.hd_nam);

  open_hyd();
  const bool abh_exist = open_abh();
  std::vector<main_rec> stored;
  open_hd(stored);

  // What is really in .hyd decides where this run continues.
  walk_hyd(stored);
  if (!stored.empty()) hdr.line_fr = stored.back().line_fr;
  if (abh_exist) resume_positions();
  hprintf("pixfil: lastpix_y=%lu, pos_a=%ld, pos_b=%ld\n", wr.lastpix_y, mp.pos_a, mp.pos_b);
}

}  // namespace dropix
