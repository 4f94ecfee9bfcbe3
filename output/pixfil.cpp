#include "output/pixfil.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "output/heads.h"
#include "output/resume.h"
#include "platform/files.h"

namespace dropix {

namespace {

// An output file that cannot be opened or created ends the run: going on would lose every
// drop while looking like success.
[[noreturn]] void cannot_open(const char* tag, diagnostics& d) {
  report_errno(d, tag);
  quit(exit_status::failure);
}

// The raw file's name without directory and extension.
std::string stem_of(const std::string& path) {
  std::size_t cut = 0;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (is_separator(path[i])) cut = i + 1;
  std::string name = path.substr(cut);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::FILE* open_in(const writer_state& wr, const std::string& name, const char* mode) {
  return std::fopen(in_dir(wr.dir, name).c_str(), mode);
}

// Reads up to `n` bytes; the bytes not read stay zero.
std::vector<u8> read_up_to(std::FILE* fp, std::size_t n, std::size_t* got) {
  std::vector<u8> bytes(n, 0);
  errno = 0;
  *got = std::fread(bytes.data(), 1, n, fp);
  return bytes;
}

void open_hyd(writer_state& wr, diagnostics& d) {
  wr.pix_fp.reset(open_in(wr, wr.pix_nam, "a+b"));
  if (!wr.pix_fp) cannot_open(" pixfil01 ", d);
  if (seek64(wr.pix_fp.get(), 0, SEEK_END) != 0) report_errno(d, " pixfil02 ");
  const s64 end = tell64(wr.pix_fp.get());
  if (end < 0)
    report_errno(d, " pixfil03 ");
  else
    wr.pix_end = static_cast<u32>(end);
}

// Reads an existing .abh; returns whether there was one.
bool open_abh(writer_state& wr, raw_positions& pos, diagnostics& d) {
  const bool exists = file_exists(in_dir(wr.dir, wr.abh_nam));
  hprintf(d, "abh_exist=%d\n", static_cast<int>(exists));
  hprintf(d, "abh_nam=%s\n", wr.abh_nam);
  if (exists) {
    wr.abh_fp.reset(open_in(wr, wr.abh_nam, "r+b"));
    if (!wr.abh_fp) cannot_open(" pixfil04 ", d);
    std::size_t got = 0;
    const std::vector<u8> b = read_up_to(wr.abh_fp.get(), abh_fmt::created_size, &got);
    if (got < abh_fmt::posb_bf) report_errno(d, " pixfil05 ");
    else if (got < abh_fmt::lastpix_y) report_errno(d, " pixfil06 ");
    else if (got < abh_fmt::created_size) report_errno(d, " pixfil07 ");
    get_u32s(b.data() + abh_fmt::posa_bf, pos.posa_bf, minutes_per_day_table);
    get_u32s(b.data() + abh_fmt::posb_bf, pos.posb_bf, minutes_per_day_table);
    wr.lastpix_y = get_u32(b.data() + abh_fmt::lastpix_y);
    return true;
  }
  wr.abh_fp.reset(open_in(wr, wr.abh_nam, "w+b"));
  if (!wr.abh_fp) cannot_open(" pixfil09 ", d);
  write_abh(wr.abh_fp.get(), pos, wr.lastpix_y, false, {nullptr, " pixfil10 ", " pixfil11 ", " pixfil12 ", " pixfil13 "}, d);
  return false;
}

void write_head(writer_state& wr, diagnostics& d) {
  write_hd_head(wr.hd_fp.get(), wr.pos_pix, wr.oldlen, {" pixfil19 ", " pixfil19 ", " pixfil20 ", nullptr, " pixfil21 "}, d);
}

// Replays the main headers stored in .hd into maint and the header list, in file order.
// A header cut short at the end (a run killed while appending it) is cut off.
void read_stored_headers(writer_state& wr, std::vector<main_rec>& stored,
                         const std::function<void(const main_rec&)>& replay, diagnostics& d) {
  std::FILE* fp = wr.hd_fp.get();
  s64 at = hd_fmt::headers;
  for (;;) {
    u8 bytes[main_rec_fmt::size];
    errno = 0;
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, fp);
    if (got < sizeof bytes) {
      if (std::ferror(fp)) {
        err_printf(d, " could not read main header from headfil! \n");
        report_errno(d, "pixfil32");
        quit(exit_status::failure);
      }
      if (got > 0) {
        err_printf(d, "%s ends inside a main header at offset %lld: cut off there\n", wr.hd_nam.c_str(),
                   static_cast<long long>(at));
        if (truncate_file(fp, at) != 0) report_errno(d, " pixfil33 ");
      }
      break;
    }
    if (stored.size() >= static_cast<std::size_t>(max_headers)) fail(d, " more than 100 mainheaders ! \n");
    const main_rec r = decode_main_rec(bytes);
    hprintf(d, "maincnt=%d maint=%lu \n", stored.size(), r.main_time);
    replay(r);
    stored.push_back(r);
    at += static_cast<s64>(sizeof bytes);
  }
  hprintf(d, "maincnt=%d \n", stored.size());
}

void open_hd(writer_state& wr, std::vector<main_rec>& stored, const std::function<void(const main_rec&)>& replay,
             diagnostics& d) {
  const bool exists = file_exists(in_dir(wr.dir, wr.hd_nam));
  hprintf(d, "hd_exist=%d\n", static_cast<int>(exists));
  hprintf(d, "hd_nam=%s\n", wr.hd_nam);
  if (exists) {
    wr.hd_fp.reset(open_in(wr, wr.hd_nam, "r+b"));
    if (!wr.hd_fp) cannot_open(" pixfil14 ", d);
    std::size_t got = 0;
    const std::vector<u8> b = read_up_to(wr.hd_fp.get(), hd_fmt::head_size, &got);
    if (got == hd_fmt::head_size) {
      get_u32s(b.data() + hd_fmt::pos_pix, wr.pos_pix, minutes_per_day_table);
      wr.oldlen = get_s16(b.data() + hd_fmt::oldlen);
    } else {
      // A head cut short is written whole again, so that headers are appended after it.
      report_errno(d, got < hd_fmt::oldlen ? " pixfil15 " : " pixfil16 ");
      if (got >= hd_fmt::oldlen) get_u32s(b.data(), wr.pos_pix, minutes_per_day_table);
      write_head(wr, d);
    }
    for (int k = 0; k <= 1440; ++k)
      if (wr.pos_pix[k] != pos_unset) wr.last_minute = static_cast<s16>(k);
    if (seek64(wr.hd_fp.get(), hd_fmt::headers, SEEK_SET) != 0) report_errno(d, " pixfil15 ");
    read_stored_headers(wr, stored, replay, d);
    return;
  }
  wr.hd_fp.reset(open_in(wr, wr.hd_nam, "w+b"));
  if (!wr.hd_fp) cannot_open(" pixfil18 ", d);
  write_head(wr, d);
  if (seek64(wr.hd_fp.get(), 0, SEEK_END) != 0) report_errno(d, " pixfil31 ");
}

}  // namespace

pixfil_result pixfil(writer_state& wr, raw_positions& pos, const std::string& hyd_path, const std::string& raw_path,
                     const std::string& mp_nam, const std::function<void(const main_rec&)>& replay, diagnostics& d) {
  hprintf(d, "pixfil encountered \n");
  pos = raw_positions{};
  for (u32& e : wr.pos_pix) e = pos_unset;
  wr.pos_pix[0] = 0;
  wr.last_minute = 0;

  const std::string stem = stem_of(mp_nam);
  wr.abh_nam = raw_path + stem + ".abh";
  wr.pix_nam = hyd_path + stem + ".hyd";
  wr.hd_nam = hyd_path + stem + ".hd";
  hprintf(d, "abh_nam=%s   pix_nam=%s   hd_nam=%s \n", wr.abh_nam, wr.pix_nam, wr.hd_nam);

  pixfil_result r;
  open_hyd(wr, d);
  r.abh_exist = open_abh(wr, pos, d);
  open_hd(wr, r.stored, replay, d);

  // What is really in .hyd decides where this run continues.
  walk_hyd(wr, r.stored, d);
  return r;
}

}  // namespace dropix
