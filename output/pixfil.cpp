#include "output/pixfil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "common/numeric.h"
#include "output/heads.h"
#include "output/resume.h"
#include "platform/files.h"

namespace dropix {

namespace {

// The raw file's name without directory and extension.
std::string stem_of(const std::string& path) {
  std::string name = base_name(path);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

// The name a main header record carries: name and extension of the .hyd, 13 characters at most.
std::string record_name_of(const std::string& pix_nam) { return base_name(pix_nam).substr(0, file_name_len - 1); }

// Files this run created: removed again when the run ends before they are complete, so that
// a failed start leaves nothing behind.
class created_files {
 public:
  explicit created_files(const writer_state& wr) : wr_(wr) {}
  created_files(const created_files&) = delete;
  created_files& operator=(const created_files&) = delete;
  ~created_files() {
    if (std::uncaught_exceptions() == 0) return;
    for (const std::string& name : names_) std::remove(in_dir(wr_.dir, name).c_str());
  }
  void add(const std::string& name) { names_.push_back(name); }

 private:
  const writer_state& wr_;
  std::vector<std::string> names_;
};

std::FILE* open_in(const writer_state& wr, const std::string& name, const char* mode) {
  return std::fopen(in_dir(wr.dir, name).c_str(), mode);
}

// An output file that cannot be opened or created ends the run: going on would lose every
// drop while looking like success.
[[noreturn]] void cannot_open(const char* tag, const std::string& name, diagnostics& d) {
  const int e = errno;
  report_errno(d, tag);
  fail(d, "%s cannot be opened or created (%s)\n", name.c_str(), e ? std::strerror(e) : "unknown cause");
}

// Opens (or creates) the .hyd and takes the lock of the output set.
void open_hyd(writer_state& wr, created_files& made, diagnostics& d) {
  const bool existed = file_exists(in_dir(wr.dir, wr.pix_nam));
  wr.pix_fp.reset(open_in(wr, wr.pix_nam, "a+b"));
  if (!wr.pix_fp) cannot_open(" pixfil01 ", wr.pix_nam, d);
  if (!lock_file(wr.pix_fp.get())) {
    if (errno == EWOULDBLOCK) fail(d, "%s is being written by another DROPIX run\n", wr.pix_nam.c_str());
    report_errno(d, " pixfil36 ");
    fail(d, "%s cannot be locked for this run\n", wr.pix_nam.c_str());
  }
  if (!existed) made.add(wr.pix_nam);
  if (seek64(wr.pix_fp.get(), 0, SEEK_END) != 0) report_errno(d, " pixfil02 ");
  const s64 end = tell64(wr.pix_fp.get());
  if (end < 0) cannot_open(" pixfil03 ", wr.pix_nam, d);
  wr.pix_end = static_cast<u32>(end);
}

// Reads an existing .abh into the tables; false (tables cleared, with a message) when there is
// none or its tables cannot hold, so that the pass starts from the beginning of the raw file
// and line timing fills them again.
bool open_abh(writer_state& wr, raw_positions& pos, std::optional<s64> raw_length, created_files& made,
              diagnostics& d) {
  const bool exists = file_exists(in_dir(wr.dir, wr.abh_nam));
  hprintf(d, "abh_exist=%d\n", static_cast<int>(exists));
  hprintf(d, "abh_nam=%s\n", wr.abh_nam);
  if (exists) {
    wr.abh_fp.reset(open_in(wr, wr.abh_nam, "r+b"));
    if (!wr.abh_fp) cannot_open(" pixfil04 ", wr.abh_nam, d);
    std::vector<u8> b(abh_fmt::created_size, 0);
    errno = 0;
    const std::size_t got = std::fread(b.data(), 1, b.size(), wr.abh_fp.get());
    if (got < abh_fmt::created_size) {
      err_printf(d, "%s is cut short (%zu bytes): rebuilt from the start of the raw file\n", wr.abh_nam.c_str(), got);
      return false;
    }
    get_u32s(b.data() + abh_fmt::posa_bf, pos.posa_bf, minutes_per_day_table);
    get_u32s(b.data() + abh_fmt::posb_bf, pos.posb_bf, minutes_per_day_table);
    if (const char* fault = abh_fault(pos, raw_length.value_or(0xFFFFFFFFLL))) {
      err_printf(d, "%s holds %s: rebuilt from the start of the raw file\n", wr.abh_nam.c_str(), fault);
      pos = raw_positions{};
      return false;
    }
    return true;
  }
  wr.abh_fp.reset(open_in(wr, wr.abh_nam, "w+b"));
  if (!wr.abh_fp) cannot_open(" pixfil09 ", wr.abh_nam, d);
  made.add(wr.abh_nam);
  if (const char* tag = write_abh(wr.abh_fp.get(), pos, wr.lastpix_y, false,
                                  {nullptr, " pixfil10 ", " pixfil11 ", " pixfil12 ", " pixfil13 "}, wr.faults))
    write_failed(wr, d, tag, wr.abh_nam);
  return false;
}

void write_head(writer_state& wr, diagnostics& d) {
  if (const char* tag = write_hd_head(wr.hd_fp.get(), wr.pos_pix, wr.oldlen,
                                      {" pixfil19 ", " pixfil19 ", " pixfil20 ", nullptr, " pixfil21 "}, wr.faults))
    write_failed(wr, d, tag, wr.hd_nam);
}

void put_u32s_into(u8* out, const u32* v) {
  for (int k = 0; k < minutes_per_day_table; ++k) put_u32(out + 4 * k, v[k]);
}

// The minute index of an earlier run: the stored entries of .hd that point into what .hyd
// holds, then for later minutes the entries that .hyd's own records give.
void merge_minute_index(writer_state& wr, const std::vector<u32>& stored, const hyd_contents& hyd) {
  int last_stored = -1;  // last minute whose stored entry holds
  if (!stored.empty())
    for (int k = 0; k <= 1440; ++k)
      if (stored[static_cast<std::size_t>(k)] != pos_unset && static_cast<s64>(stored[static_cast<std::size_t>(k)]) < hyd.whole)
        last_stored = k;
  wr.last_minute = 0;
  for (int k = 0; k < minutes_per_day_table; ++k) {
    const auto i = static_cast<std::size_t>(k);
    wr.pos_pix[k] = k <= last_stored ? stored[i] : hyd.pos_pix[i];
    if (k <= 1440 && wr.pos_pix[k] != pos_unset) wr.last_minute = static_cast<s16>(k);
  }
  wr.pos_pix[0] = 0;
}

// The head of an existing .hd: its minute index, or nothing when it is cut short.
std::vector<u32> stored_minute_index(const writer_state& wr) {
  std::vector<u32> out;
  std::FILE* fp = open_in(wr, wr.hd_nam, "rb");
  if (!fp) return out;
  std::vector<u8> head(hd_fmt::head_size, 0);
  if (std::fread(head.data(), 1, head.size(), fp) == head.size()) {
    out.resize(minutes_per_day_table);
    get_u32s(head.data() + hd_fmt::pos_pix, out.data(), minutes_per_day_table);
  }
  std::fclose(fp);
  return out;
}

bool same_record(const main_rec& a, const main_rec& b) {
  u8 ea[main_rec_fmt::size], eb[main_rec_fmt::size];
  encode_main_rec(a, ea);
  encode_main_rec(b, eb);
  return std::memcmp(ea, eb, sizeof ea) == 0;
}

// Reads the main headers stored in .hd (a header cut short at the end is left out).
std::vector<main_rec> stored_headers(writer_state& wr, diagnostics& d) {
  std::vector<main_rec> out;
  std::FILE* fp = wr.hd_fp.get();
  if (seek64(fp, hd_fmt::headers, SEEK_SET) != 0) report_errno(d, " pixfil15 ");
  for (;;) {
    u8 bytes[main_rec_fmt::size];
    errno = 0;
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, fp);
    if (got < sizeof bytes) {
      if (std::ferror(fp)) {
        err_printf(d, " could not read main header from headfil! \n");
        report_errno(d, "pixfil32");
        fail(d, "%s cannot be read\n", wr.hd_nam.c_str());
      }
      break;
    }
    out.push_back(decode_main_rec(bytes));
  }
  return out;
}

// Brings .hd in line with the headers that .hyd holds: the same records, in the same order.
void match_hd(writer_state& wr, const std::vector<main_rec>& hyd_headers, diagnostics& d) {
  std::FILE* fp = wr.hd_fp.get();
  const std::vector<main_rec> hd_headers = stored_headers(wr, d);
  const std::size_t common = std::min(hd_headers.size(), hyd_headers.size());
  for (std::size_t i = 0; i < common; ++i)
    if (!same_record(hd_headers[i], hyd_headers[i]))
      fail(d, "%s and %s hold different main headers (the %zu. differs): they belong to different runs; rename or delete them\n",
           wr.hd_nam.c_str(), wr.pix_nam.c_str(), i + 1);
  const s64 whole = static_cast<s64>(hd_fmt::headers + common * main_rec_fmt::size);
  if (file_size(fp) > whole) {
    if (hd_headers.size() > common)
      err_printf(d, "%s holds %zu main headers that %s does not: cut off\n", wr.hd_nam.c_str(),
                 hd_headers.size() - common, wr.pix_nam.c_str());
    else
      err_printf(d, "%s ends inside a main header at offset %lld: cut off there\n", wr.hd_nam.c_str(),
                 static_cast<long long>(whole));
    if (!cut_file(fp, whole, wr.faults)) write_failed(wr, d, " pixfil33 ", wr.hd_nam);
  }
  if (hyd_headers.size() > common) {
    err_printf(d, "%s lacks %zu main headers of %s: written again\n", wr.hd_nam.c_str(), hyd_headers.size() - common,
               wr.pix_nam.c_str());
    if (seek64(fp, 0, SEEK_END) != 0) write_failed(wr, d, " pixfil35 ", wr.hd_nam);
    for (std::size_t i = common; i < hyd_headers.size(); ++i) {
      u8 bytes[main_rec_fmt::size];
      encode_main_rec(hyd_headers[i], bytes);
      if (!write_all(fp, bytes, sizeof bytes, wr.faults)) write_failed(wr, d, " pixfil35 ", wr.hd_nam);
    }
    if (!flush_file(fp, wr.faults)) write_failed(wr, d, " pixfil35 ", wr.hd_nam);
  }
}

// Opens or creates .hd; its head then holds the minute index and oldlen of what .hyd holds.
void open_hd(writer_state& wr, const std::vector<main_rec>& hyd_headers, created_files& made, diagnostics& d) {
  const bool exists = file_exists(in_dir(wr.dir, wr.hd_nam));
  hprintf(d, "hd_exist=%d\n", static_cast<int>(exists));
  hprintf(d, "hd_nam=%s\n", wr.hd_nam);
  if (exists) {
    wr.hd_fp.reset(open_in(wr, wr.hd_nam, "r+b"));
    if (!wr.hd_fp) cannot_open(" pixfil14 ", wr.hd_nam, d);
    std::vector<u8> head(hd_fmt::head_size, 0);
    const std::size_t got = std::fread(head.data(), 1, head.size(), wr.hd_fp.get());
    u8 want[hd_fmt::head_size];
    put_u32s_into(want, wr.pos_pix);
    put_s16(want + hd_fmt::oldlen, wr.oldlen);
    // A head cut short, or one that points past what .hyd holds, is written whole again.
    if (got < hd_fmt::head_size || std::memcmp(head.data(), want, sizeof want) != 0) write_head(wr, d);
    match_hd(wr, hyd_headers, d);
  } else {
    wr.hd_fp.reset(open_in(wr, wr.hd_nam, "w+b"));
    if (!wr.hd_fp) cannot_open(" pixfil18 ", wr.hd_nam, d);
    made.add(wr.hd_nam);
    write_head(wr, d);
    if (!hyd_headers.empty()) match_hd(wr, hyd_headers, d);
  }
  if (seek64(wr.hd_fp.get(), 0, SEEK_END) != 0) report_errno(d, " pixfil31 ");
}

}  // namespace

pixfil_result pixfil(writer_state& wr, raw_positions& pos, const pixfil_request& req, diagnostics& d) {
  hprintf(d, "pixfil encountered \n");
  pos = raw_positions{};
  const std::string stem = stem_of(req.mp_nam);
  wr.abh_nam = req.raw_path + stem + ".abh";
  wr.pix_nam = req.hyd_path + stem + ".hyd";
  wr.hd_nam = req.hyd_path + stem + ".hd";
  hprintf(d, "abh_nam=%s   pix_nam=%s   hd_nam=%s \n", wr.abh_nam, wr.pix_nam, wr.hd_nam);

  created_files made(wr);
  open_hyd(wr, made, d);
  const hyd_contents hyd = walk_hyd(wr, d);

  // Outputs of another recording are never continued.
  const std::string own_name = record_name_of(wr.pix_nam);
  for (const main_rec& r : hyd.headers) {
    if (std::strncmp(r.file_name, own_name.c_str(), file_name_len) != 0)
      fail(d, "%s belongs to another output set (its records name %.13s): rename or delete it\n", wr.pix_nam.c_str(),
           r.file_name);
  }
  if (!hyd.headers.empty() && req.raw_first_header && hyd.headers.front().main_time != *req.raw_first_header)
    fail(d,
         "%s belongs to another recording: its first main header is valid since %lu, the first of %s since %lu; "
         "rename or delete the output files\n",
         wr.pix_nam.c_str(), static_cast<unsigned long>(hyd.headers.front().main_time), req.mp_nam.c_str(),
         static_cast<unsigned long>(*req.raw_first_header));

  cut_hyd_tail(wr, hyd, d);
  merge_minute_index(wr, stored_minute_index(wr), hyd);
  // Drops on disk are those of .hyd, whatever .abh and .hd say.
  wr.disk_y = hyd.has_drops ? hyd.last_drop_y : 0.0;
  wr.lastpix_y = stored_line(wr.disk_y);

  pixfil_result r;
  r.resume_tables = open_abh(wr, pos, req.raw_length, made, d);
  open_hd(wr, hyd.headers, made, d);
  r.stored = hyd.headers;
  if (!hyd.has_drops) r.resume_tables = false;  // nothing on disk: the pass starts at the beginning
  return r;
}

}  // namespace dropix
