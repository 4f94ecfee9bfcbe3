#include "products/tests/support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace dropix::products::test {

main_rec instrument(u32 valid_since, double line_fr) {
  main_rec h;
  std::memcpy(h.file_name, "V26342_1.hyd", 12);
  h.main_time = valid_since;
  h.line_fr = line_fr;
  h.HBL = 6.42f;
  h.HBR = 6.55f;
  h.HFR = 6.71f;
  h.gate1 = 256;
  h.gate2 = 0;
  h.XSCALE0_1 = 0.1904f;
  h.XSCALE0_2 = 0.1921f;
  h.L0_1 = 310.0f;
  h.L0_2 = 298.0f;
  return h;
}

std::vector<reader::silhouette_piece> block(int first, int width, int lines) {
  return std::vector<reader::silhouette_piece>(static_cast<std::size_t>(lines),
                                               {static_cast<s16>(first), static_cast<s16>(first + width)});
}

hyd_builder& hyd_builder::header(const main_rec& h) {
  main_rec r = h;
  r.len_prev = last_len_;
  const std::size_t at = hyd_.size();
  hyd_.resize(at + main_rec_fmt::size);
  encode_main_rec(r, hyd_.data() + at);
  headers_.push_back(r);
  last_len_ = static_cast<s16>(main_rec_fmt::size);
  line_fr_ = h.line_fr;
  return *this;
}

hyd_builder& hyd_builder::drop(const drop_spec& d) {
  auto left = [](const std::vector<reader::silhouette_piece>& s) {
    int m = s.front().first;
    for (const auto& p : s) m = std::min<int>(m, p.first);
    return m;
  };
  const int min_a = left(d.a), min_b = left(d.b);
  // Values relative to each camera's leftmost pixel: A firsts, A lasts, B firsts, B lasts.
  std::vector<u32> v;
  for (const auto& p : d.a) v.push_back(static_cast<u32>(p.first - min_a));
  for (const auto& p : d.a) v.push_back(static_cast<u32>(p.last - min_a));
  for (const auto& p : d.b) v.push_back(static_cast<u32>(p.first - min_b));
  for (const auto& p : d.b) v.push_back(static_cast<u32>(p.last - min_b));
  u32 widest = 1;
  for (u32 x : v) widest = std::max(widest, x);
  const u32 bits = static_cast<u32>(std::bit_width(widest));
  const std::size_t words = (v.size() * bits + 15) / 16;
  std::vector<u8> data(2 * words, 0);
  for (std::size_t i = 0; i < v.size(); ++i)
    for (u32 k = 0; k < bits; ++k)
      if ((v[i] >> k) & 1u) {
        const std::size_t bit = i * bits + k;
        data[bit / 8] = static_cast<u8>(data[bit / 8] | (1u << (bit % 8)));
      }
  drop_head h;
  const u32 len = static_cast<u32>(drop_fmt::head_size + data.size());
  h.len_bits = static_cast<u16>(bits * 2048u + len);
  h.len_prev = last_len_;
  h.y_first = d.y_first;
  h.diam_100 = d.diam_100;
  h.lines_a = static_cast<s16>(d.a.size());
  h.lines_diff = static_cast<s16>(d.b.size() - d.a.size());
  h.pix_min_a = static_cast<s16>(min_a);
  h.pix_min_b = static_cast<s16>(min_b);
  h.yscale_10k = d.yscale_10k;
  h.xscale_a_10k = d.xscale_a_10k;
  h.xscale_b_10k = d.xscale_b_10k;
  const std::size_t at = hyd_.size();
  hyd_.resize(at + len);
  encode_drop_head(h, hyd_.data() + at);
  std::copy(data.begin(), data.end(), hyd_.begin() + static_cast<std::ptrdiff_t>(at + drop_fmt::head_size));
  drop_offsets_.push_back(static_cast<u32>(at));
  drop_minutes_.push_back(static_cast<int>(std::floor(d.y_first / (line_fr_ * 60.0))));
  last_len_ = static_cast<s16>(len);
  return *this;
}

std::vector<u8> hyd_builder::hd() const {
  // Minute index: for each minute, the first drop record of that minute or later.
  std::vector<u32> pos(minutes_per_day_table, pos_unset);
  pos[0] = 0;
  int last = 0;
  for (std::size_t i = 0; i < drop_offsets_.size(); ++i)
    for (int k = last + 1; k <= drop_minutes_[i] && k < minutes_per_day_table; ++k) {
      pos[static_cast<std::size_t>(k)] = drop_offsets_[i];
      last = k;
    }
  std::vector<u8> out(hd_fmt::head_size + headers_.size() * main_rec_fmt::size);
  for (std::size_t k = 0; k < pos.size(); ++k) put_u32(out.data() + 4 * k, pos[k]);
  put_s16(out.data() + hd_fmt::oldlen, last_len_);
  for (std::size_t i = 0; i < headers_.size(); ++i)
    encode_main_rec(headers_[i], out.data() + hd_fmt::headers + i * main_rec_fmt::size);
  return out;
}

temp_dir::temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dropix-products-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void temp_dir::write(const std::string& name, const std::vector<u8>& bytes) const {
  std::ofstream f(*this / name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void temp_dir::write(const std::string& name, const std::string& text) const {
  std::ofstream f(*this / name, std::ios::binary);
  f << text;
}

std::vector<std::string> temp_dir::list() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<u8> read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<u8>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

run_result run_products(const std::vector<std::string>& args, const std::string& cwd) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    if (::chdir(cwd.c_str()) != 0) ::_exit(125);
    std::vector<char*> argv;
    std::string exe = DROPIX_PRODUCTS_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(126);
  }
  ::close(out[1]);
  ::close(err[1]);
  run_result r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&r.out, &r.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        into[i]->append(buf, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

}  // namespace dropix::products::test
