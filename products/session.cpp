#include "products/session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "products/dsd.h"
#include "products/hd_check.h"
#include "products/timefmt.h"
#include "products/writers.h"
#include "reader/hyd_reader.h"

namespace dropix::products {

namespace {

// A file that cannot be turned into products; the message names the file and the cause.
struct failure {
  std::string why;
};

s64 floor_div(s64 a, s64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::string dir_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The whole of a file in one read into a buffer of its size (the reader's load_file grows
// its buffer as it reads, copying a large .hyd several times).
std::optional<std::vector<u8>> read_whole(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int e = fd < 0 || S_ISREG(st.st_mode) ? errno : EISDIR;
    if (fd >= 0) ::close(fd);
    *error = path + ": " + std::strerror(e);
    return std::nullopt;
  }
  std::vector<u8> bytes(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = path + ": " + (n < 0 ? std::strerror(errno) : "shorter than its size while being read");
      ::close(fd);
      return std::nullopt;
    }
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return bytes;
}

std::string now_iso() {
  const auto now = std::chrono::system_clock::now();
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  return iso_s(s);
}

}  // namespace

product_paths paths_for(const std::string& hyd, const std::string& out_dir) {
  const std::string base = base_of(hyd);
  const std::size_t dot = base.find_last_of('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
  // One spelling per directory ("a/./b/" is "a/b/", "./" is ""), so that two spellings of
  // one output are seen as one.
  std::string dir = out_dir.empty() ? dir_of(hyd) : out_dir;
  if (!dir.empty()) dir = std::filesystem::path(dir).lexically_normal().string();
  if (dir == "." || dir == "./") dir.clear();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  product_paths p;
  p.csv = dir + stem + "_drops.csv";
  p.drops_nc = dir + stem + "_drops.nc";
  p.dsd_nc = dir + stem + "_dsd.nc";
  p.hd = dir_of(hyd) + stem + (ext == ".HYD" ? ".HD" : ".hd");
  return p;
}

int session::run() {
  std::optional<station> site;
  if (!opt_.station_path.empty()) {
    std::string why;
    site = read_station(opt_.station_path, &why);
    if (!site) {
      std::fprintf(err_, "dropix-products: %s\n", why.c_str());
      return 1;
    }
    if (opt_.qc.law == speed_law::beard_1976 && site->altitude) opt_.qc.altitude_m = *site->altitude;
  }
  if (opt_.qc.law == speed_law::beard_1976 && !(site && site->altitude))
    std::fprintf(err_, "dropix-products: no station altitude (--station): Beard's law in the standard atmosphere at "
                       "sea level\n");
  for (const std::string& hyd : opt_.inputs) {
    try {
      process(hyd, site ? &*site : nullptr);
      ++totals_.files_ok;
    } catch (const failure& f) {
      ++totals_.files_failed;
      std::fprintf(err_, "dropix-products: %s\n", f.why.c_str());
    } catch (const std::exception& e) {
      ++totals_.files_failed;
      std::fprintf(err_, "dropix-products: %s\n", e.what());
    }
  }
  if (opt_.summary) print_summary();
  return totals_.files_failed == 0 ? 0 : 1;
}

namespace {

// The netCDF side of one file, on a thread of its own: the per-drop file slab by slab while
// the main thread derives drops and writes the CSV, then the DSD file. All netCDF calls of a
// run happen on this thread (the library is not thread-safe).
class nc_worker {
 public:
  nc_worker(const drop_columns& cols, const std::string& drops_path, const std::string& dsd_path, const station* site)
      : cols_(cols), drops_path_(drops_path), dsd_path_(dsd_path), site_(site), thread_([this] { run(); }) {}
  ~nc_worker() {
    abort();
    if (thread_.joinable()) thread_.join();
  }

  // Rows [0, n) are complete.
  void publish(std::size_t n) {
    std::lock_guard lock(m_);
    published_ = n;
    if (n - written_ >= drop_chunk) cv_.notify_one();
  }
  // All drops derived and the file found whole: the rest of the drops, their file's
  // attributes, and the DSD file.
  void finish(const product_metadata* meta, const dsd_series* series, const terminal_speed* law) {
    std::lock_guard lock(m_);
    meta_ = meta;
    series_ = series;
    law_ = law;
    cv_.notify_one();
  }
  void abort() {
    std::lock_guard lock(m_);
    aborted_ = true;
    cv_.notify_one();
  }
  // Waits for the thread; rethrows what failed there.
  void join() {
    thread_.join();
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void run() {
    try {
      std::optional<drops_nc_writer> drops;
      if (!drops_path_.empty()) drops.emplace(drops_path_, site_);
      while (true) {
        std::size_t from = 0, to = 0;
        bool last = false;
        {
          std::unique_lock lock(m_);
          cv_.wait(lock, [&] { return aborted_ || meta_ || published_ - written_ >= drop_chunk; });
          if (aborted_) return;
          last = meta_ != nullptr;
          from = written_;
          to = last ? published_ : written_ + (published_ - written_) / drop_chunk * drop_chunk;
        }
        if (drops) drops->append(cols_, from, to);
        {
          std::lock_guard lock(m_);
          written_ = to;
        }
        if (last) break;
      }
      if (drops) drops->finish(*meta_);
      if (!dsd_path_.empty()) write_dsd_nc(dsd_path_, *series_, *meta_, *law_);
    } catch (...) {
      error_ = std::current_exception();
    }
  }

  const drop_columns& cols_;
  std::string drops_path_, dsd_path_;
  const station* site_;
  std::mutex m_;
  std::condition_variable cv_;
  std::size_t published_ = 0, written_ = 0;
  const product_metadata* meta_ = nullptr;
  const dsd_series* series_ = nullptr;
  const terminal_speed* law_ = nullptr;
  bool aborted_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace

void session::process(const std::string& hyd, const station* site) {
  const product_paths paths = paths_for(hyd, opt_.out_dir);
  std::string why;
  const auto bytes = read_whole(hyd, &why);
  if (!bytes) throw failure{why};
  if (bytes->size() > 0xFFFFFFFFu) throw failure{hyd + ": larger than 4 GiB, beyond the reach of its minute index"};
  std::optional<std::vector<u8>> hd_bytes;
  if (opt_.need_hd) {
    hd_bytes = read_whole(paths.hd, &why);
    if (!hd_bytes)
      throw failure{why + " (the .hd beside a .hyd shows whether the .hyd is whole; --no-hd goes without it)"};
  }

  // Every product under a temporary name first (an unwritable directory fails before any
  // work), all renamed at the end; on any failure the temporary files go with the staged
  // objects.
  std::vector<std::unique_ptr<staged_file>> staged;
  auto stage = [&](bool wanted, const std::string& path) -> std::string {
    if (!wanted) return "";
    staged.push_back(std::make_unique<staged_file>(path, temps_));
    return staged.back()->temp_path();
  };
  const std::string csv_tmp = stage(opt_.csv, paths.csv);
  const std::string drops_tmp = stage(opt_.drops_nc, paths.drops_nc);
  const std::string dsd_tmp = stage(opt_.dsd_nc, paths.dsd_nc);

  // A drop record takes 34 bytes at least (its head and two data words).
  drop_columns cols(bytes->size() / 34 + 1);
  std::optional<nc_worker> worker;
  if (opt_.drops_nc || opt_.dsd_nc) worker.emplace(cols, drops_tmp, dsd_tmp, site);

  // Every record in file order; a drop is evaluated with the main header met last before it.
  drop_deriver deriver(opt_.qc);
  hyd_outline outline;
  outline.size = bytes->size();
  outline.drop_offsets.reserve(cols.capacity());
  outline.drop_minutes.reserve(cols.capacity());
  std::optional<main_rec> in_force;
  reader::hyd_cursor cur(*bytes);
  reader::hyd_record r;
  try {
    while (cur.next(r)) {
      outline.last_length = r.length;
      if (r.is_header) {
        deriver.accept_header(r.header, r.offset);
        in_force = r.header;
        outline.headers.push_back(r.header);
        continue;
      }
      if (!in_force)
        throw failure{hyd + ": the drop record at offset " + std::to_string(r.offset) +
                      " comes before any main header record"};
      cols.push(deriver.derive(r, *in_force));
      outline.drop_offsets.push_back(r.offset);
      outline.drop_minutes.push_back(static_cast<int>(std::floor(r.drop.y_first / (in_force->line_fr * 60.0))));
      if (worker && cols.size() % 4096 == 0) worker->publish(cols.size());
    }
  } catch (const bad_record& b) {
    throw failure{hyd + ": " + b.why};
  }
  if (!cur.error().empty()) throw failure{hyd + ": " + cur.error() + ": the file is damaged"};
  if (outline.headers.empty())
    throw failure{hyd + (bytes->empty() ? ": the file is empty" : ": holds no main header record")};
  if (hd_bytes) {
    const std::string e = check_hd(reader::read_hd(*hd_bytes), hd_bytes->size(), outline);
    if (!e.empty()) throw failure{paths.hd + ": " + e};
  }
  if (worker) worker->publish(cols.size());

  // The stretch of time: from the recording's first header (or an earlier drop) to the last drop.
  const main_rec& first_header = outline.headers.front();
  s64 first_ms = static_cast<s64>(first_header.main_time) * 1000, last_ms = first_ms;
  s64 first_drop = 0, last_drop = 0;
  if (cols.size() > 0) {
    const auto [lo, hi] = std::minmax_element(cols.time_ms.data(), cols.time_ms.data() + cols.size());
    first_drop = *lo;
    last_drop = *hi;
    first_ms = std::min(first_ms, first_drop);
    last_ms = std::max(last_ms, last_drop);
  }

  product_metadata meta;
  meta.version = opt_.version;
  meta.date_created = now_iso();
  meta.history = meta.date_created + " " + opt_.command_line;
  meta.source_file = base_of(hyd);
  meta.site = site;
  meta.qc = opt_.qc;
  meta.measuring_area_mm2 = deriver.measuring_area(first_header);
  meta.first_ms = cols.size() > 0 ? first_drop : first_ms;
  meta.last_ms = cols.size() > 0 ? last_drop : last_ms;

  dsd_series series(first_ms, last_ms, opt_.interval_s);
  // Rain per minute for the console's peak rate, whatever the interval.
  const s64 minute0 = floor_div(first_ms, 60000);
  std::vector<double> minute_mm(static_cast<std::size_t>(floor_div(last_ms, 60000) - minute0 + 1));
  run_totals t;
  drop_values p;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    p.time_ms = cols.time_ms[i];
    p.d = cols.col(col_d)[i];
    p.v = cols.col(col_v)[i];
    p.area = cols.col(col_area)[i];
    p.qc = cols.qc[i];
    series.add(p);
    if (p.qc == 0) {
      ++t.used;
      minute_mm[static_cast<std::size_t>(floor_div(p.time_ms, 60000) - minute0)] +=
          3.141592653589793 / 6.0 * p.d * p.d * p.d / p.area;
    } else {
      ++t.flagged_any;
      for (std::size_t b = 0; b < std::size(qc_bits); ++b) t.flagged[b] += (p.qc & qc_bits[b].mask) != 0;
    }
  }
  t.drops = cols.size();
  for (std::size_t i = 0; i < series.size(); ++i) t.rain_mm += derive_dsd(series.at(i), series.interval_s()).p;

  if (worker) worker->finish(&meta, &series, &deriver.law());
  if (opt_.csv) write_drops_csv(csv_tmp, cols);
  if (worker) worker->join();
  for (const auto& s : staged) {
    s->commit();
    totals_.written.push_back(s->final_path());
  }

  // Into the run's totals.
  totals_.drops += t.drops;
  totals_.used += t.used;
  totals_.flagged_any += t.flagged_any;
  for (std::size_t b = 0; b < t.flagged.size(); ++b) totals_.flagged[b] += t.flagged[b];
  if (cols.size() > 0) {
    totals_.first_ms = totals_.first_ms ? std::min(*totals_.first_ms, first_drop) : first_drop;
    totals_.last_ms = totals_.last_ms ? std::max(*totals_.last_ms, last_drop) : last_drop;
  }
  totals_.rain_mm += t.rain_mm;
  for (std::size_t m = 0; m < minute_mm.size(); ++m) {
    if (minute_mm[m] * 60.0 > totals_.peak_rate) {
      totals_.peak_rate = minute_mm[m] * 60.0;
      totals_.peak_minute_s = (minute0 + static_cast<s64>(m)) * 60;
    }
  }
}

void session::print_summary() const {
  const run_totals& t = totals_;
  std::FILE* o = out_;
  std::fprintf(o, "dropix-products: %d file%s read", t.files_ok + t.files_failed, t.files_ok + t.files_failed == 1 ? "" : "s");
  if (t.files_failed) std::fprintf(o, ", %d failed (see the messages above)", t.files_failed);
  std::fprintf(o, "\n");
  for (const std::string& w : t.written) std::fprintf(o, "  wrote %s\n", w.c_str());
  if (t.files_ok == 0) return;
  std::fprintf(o, "drops: %llu read, %llu used, %llu flagged\n", static_cast<unsigned long long>(t.drops),
               static_cast<unsigned long long>(t.used), static_cast<unsigned long long>(t.flagged_any));
  for (std::size_t b = 0; b < std::size(qc_bits); ++b)
    std::fprintf(o, "  %-28s %10llu\n", qc_bits[b].text, static_cast<unsigned long long>(t.flagged[b]));
  if (t.first_ms) {
    char a[25], b[25];
    iso_ms(*t.first_ms, a);
    iso_ms(*t.last_ms, b);
    std::fprintf(o, "time: %.19s to %.19s UTC\n", a, b);
  }
  std::fprintf(o, "rain: %.2f mm", t.rain_mm);
  if (t.peak_rate > 0) {
    char a[25];
    iso_ms(t.peak_minute_s * 1000, a);
    std::fprintf(o, "; peak 1-minute rain rate %.1f mm/h (%.16s UTC)", t.peak_rate, a);
  }
  std::fprintf(o, "\n");
}

}  // namespace dropix::products
