// dropix-products as its users run it: options, exit status, messages, and no partial output
// for any bad input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netcdf.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <thread>

#include "products/tests/support.h"

namespace dropix::products::test {
namespace {

// Twenty 2 mm drops in the middle of the area, one every 15 s from 14:01:00, falling 6.6 m/s.
hyd_builder rain() {
  hyd_builder b;
  b.header(instrument());
  for (int i = 0; i < 20; ++i) {
    drop_spec d;
    d.y_first = 55000.0 * (14 * 3600 + 60 + 15 * i);
    d.diam_100 = 200;
    d.yscale_10k = 1199;
    d.a = block(200 + 3 * i, 10, 16);
    d.b = block(300 - 2 * i, 10, 17);
    b.drop(d);
  }
  return b;
}

const std::vector<std::string> outputs = {"V26342_1_drops.csv", "V26342_1_drops.nc", "V26342_1_dsd.nc"};

class cli : public ::testing::Test {
 protected:
  void SetUp() override {
    const hyd_builder b = rain();
    dir.write("V26342_1.hyd", b.hyd());
    dir.write("V26342_1.hd", b.hd());
  }
  std::vector<std::string> inputs_only() const { return {"V26342_1.hd", "V26342_1.hyd"}; }
  temp_dir dir;
};

TEST_F(cli, writes_the_three_products_beside_the_hyd_and_sums_up) {
  const run_result r = run_products({"V26342_1.hyd"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> expected = inputs_only();
  expected.insert(expected.end(), outputs.begin(), outputs.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.list(), expected);
  EXPECT_NE(r.out.find("drops: 20 read, 20 used, 0 flagged"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("time: 2026-12-08T14:01:00 to 2026-12-08T14:05:45 UTC"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rain: "), std::string::npos);
  const std::vector<u8> csv = read_bytes(dir / "V26342_1_drops.csv");
  const std::string text(csv.begin(), csv.end());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
  EXPECT_EQ(text.rfind("record_offset [byte],time [UTC],equivolumetric_sphere_diameter [mm],", 0), 0u);
  EXPECT_NE(text.find("\n74,2026-12-08T14:01:00.000Z,2.005,"), std::string::npos) << text.substr(0, 400);
}

TEST_F(cli, the_netcdf_files_hold_every_drop_and_the_intervals_around_them) {
  ASSERT_EQ(run_products({"--interval", "30", "-q", "V26342_1.hyd"}, dir.path()).status, 0);
  int id = -1, dim = -1, var = -1;
  std::size_t n = 0;
  ASSERT_EQ(nc_open((dir / "V26342_1_drops.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  nc_inq_dimid(id, "drop", &dim);
  nc_inq_dimlen(id, dim, &n);
  EXPECT_EQ(n, 20u);
  double t[20];
  nc_inq_varid(id, "time", &var);
  nc_get_var_double(id, var, t);
  EXPECT_DOUBLE_EQ(t[0], 1796738400.0 + 60);
  EXPECT_DOUBLE_EQ(t[19], 1796738400.0 + 60 + 15 * 19);
  nc_close(id);
  // From the header's 14:00:00 to 14:05:45 in 30 s intervals: 12 of them, labelled by their
  // end, two drops in each from 14:01 on.
  ASSERT_EQ(nc_open((dir / "V26342_1_dsd.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  nc_inq_dimid(id, "time", &dim);
  nc_inq_dimlen(id, dim, &n);
  ASSERT_EQ(n, 12u);
  long long labels[12];
  unsigned counts[12];
  nc_inq_varid(id, "time", &var);
  nc_get_var_longlong(id, var, labels);
  EXPECT_EQ(labels[0], 1796738400LL + 30);
  EXPECT_EQ(labels[11], 1796738400LL + 360);
  nc_inq_varid(id, "N", &var);
  nc_get_var_uint(id, var, counts);
  EXPECT_EQ(counts[0] + counts[1], 0u);
  for (int i = 2; i < 12; ++i) EXPECT_EQ(counts[i], 2u) << i;
  nc_close(id);
}

TEST_F(cli, a_dry_recording_gives_empty_drop_files_and_a_dry_series) {
  hyd_builder dry;
  dry.header(instrument());
  dir.write("V26342_1.hyd", dry.hyd());
  dir.write("V26342_1.hd", dry.hd());
  const run_result r = run_products({"V26342_1.hyd"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("drops: 0 read, 0 used, 0 flagged"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rain: 0.00 mm"), std::string::npos) << r.out;
  int id = -1, dim = -1, var = -1;
  std::size_t n = 0;
  ASSERT_EQ(nc_open((dir / "V26342_1_dsd.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  nc_inq_dimid(id, "time", &dim);
  nc_inq_dimlen(id, dim, &n);
  EXPECT_EQ(n, 1u);  // the interval of the header's time
  float rate = -1;
  nc_inq_varid(id, "R", &var);
  nc_get_var_float(id, var, &rate);
  EXPECT_EQ(rate, 0.0f);
  nc_close(id);
  ASSERT_EQ(nc_open((dir / "V26342_1_drops.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  nc_inq_dimid(id, "drop", &dim);
  nc_inq_dimlen(id, dim, &n);
  EXPECT_EQ(n, 0u);
  nc_close(id);
}

TEST_F(cli, beards_law_without_an_altitude_says_so) {
  const run_result r = run_products({"-q", "--law", "beard", "V26342_1.hyd"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Beard's law in the standard atmosphere at sea level"), std::string::npos) << r.err;
}

TEST_F(cli, help_and_version_end_well) {
  run_result r = run_products({"--help"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--interval"), std::string::npos);
  EXPECT_NE(r.out.find("--station"), std::string::npos);
  r = run_products({"--version"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("dropix-products ", 0), 0u);
}

TEST_F(cli, usage_errors_end_with_status_2_and_say_what_is_wrong) {
  struct c {
    std::vector<std::string> args;
    const char* says;
  };
  for (const c& k : {c{{}, "files is required"}, c{{"--frobnicate", "V26342_1.hyd"}, "--frobnicate"},
                     c{{"--interval", "5", "V26342_1.hyd"}, "--interval"},
                     c{{"--interval", "70", "V26342_1.hyd"}, "does not divide a day"},
                     c{{"--interval", "ten", "V26342_1.hyd"}, "--interval"},
                     c{{"--products", "csv,pdf", "V26342_1.hyd"}, "unknown product \"pdf\""},
                     c{{"--law", "stokes", "V26342_1.hyd"}, "--law"},
                     c{{"--tolerance", "-1", "V26342_1.hyd"}, "--tolerance"},
                     c{{"--edge-margin", "0", "V26342_1.hyd"}, "--edge-margin"},
                     c{{"V26342_1.hyd", "./V26342_1.hyd"}, "another input already writes"}}) {
    const run_result r = run_products(k.args, dir.path());
    EXPECT_EQ(r.status, 2) << k.says;
    EXPECT_NE(r.err.find(k.says), std::string::npos) << "got: " << r.err;
    EXPECT_EQ(dir.list(), inputs_only());
  }
}

// A bad input: status 1, a message naming the file and the cause, nothing written.
void expect_refused(const temp_dir& dir, const std::vector<std::string>& args, const std::string& file,
                    const std::string& cause, const std::vector<std::string>& files) {
  const run_result r = run_products(args, dir.path());
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find(file), std::string::npos) << "no file named in: " << r.err;
  EXPECT_NE(r.err.find(cause), std::string::npos) << "no cause \"" << cause << "\" in: " << r.err;
  EXPECT_EQ(dir.list(), files);
}

TEST_F(cli, a_missing_hyd_or_hd_is_named) {
  expect_refused(dir, {"V99999_1.hyd"}, "V99999_1.hyd", "No such file", inputs_only());
  std::remove((dir / "V26342_1.hd").c_str());
  expect_refused(dir, {"V26342_1.hyd"}, "V26342_1.hd", "No such file", {"V26342_1.hyd"});
  const run_result r = run_products({"--no-hd", "-q", "V26342_1.hyd"}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(cli, a_hyd_cut_short_is_refused_inside_a_record_and_at_a_record_boundary) {
  std::vector<u8> hyd = read_bytes(dir / "V26342_1.hyd");
  dir.write("V26342_1.hyd", std::vector<u8>(hyd.begin(), hyd.end() - 7));
  expect_refused(dir, {"V26342_1.hyd"}, "V26342_1.hyd", "cut short", inputs_only());
  // Ten whole drop records fewer (the drops after 14:03:15): the minute index still says
  // where those of 14:04 and 14:05 were.
  hyd_builder half;
  half.header(instrument());
  const hyd_builder all = rain();
  reader::hyd_cursor cur(all.hyd());
  std::size_t end = 0;
  reader::hyd_record r;
  for (int i = 0; i < 11 && cur.next(r); ++i) end = r.offset + r.length;
  dir.write("V26342_1.hyd", std::vector<u8>(all.hyd().begin(), all.hyd().begin() + static_cast<std::ptrdiff_t>(end)));
  expect_refused(dir, {"V26342_1.hyd"}, "V26342_1.hd", "the .hyd is cut short", inputs_only());
}

TEST_F(cli, garbage_empty_and_headless_files_are_refused) {
  std::mt19937 gen(7);
  std::vector<u8> junk(5000);
  for (u8& b : junk) b = static_cast<u8>(gen());
  dir.write("V26342_1.hyd", junk);
  expect_refused(dir, {"V26342_1.hyd"}, "V26342_1.hyd", "the file is damaged", inputs_only());
  dir.write("V26342_1.hyd", std::vector<u8>{});
  expect_refused(dir, {"V26342_1.hyd"}, "V26342_1.hyd", "the file is empty", inputs_only());
  // A drop record with no main header before it.
  std::vector<u8> hyd = rain().hyd();
  hyd.erase(hyd.begin(), hyd.begin() + main_rec_fmt::size);
  dir.write("V26342_1.hyd", hyd);
  expect_refused(dir, {"--no-hd", "V26342_1.hyd"}, "V26342_1.hyd", "comes before any main header record",
                 inputs_only());
  // A header whose line frequency is nonsense.
  main_rec h = instrument();
  h.line_fr = 0;
  hyd_builder b;
  b.header(h);
  dir.write("V26342_1.hyd", b.hyd());
  expect_refused(dir, {"--no-hd", "V26342_1.hyd"}, "V26342_1.hyd", "line frequency", inputs_only());
}

TEST_F(cli, an_unwritable_output_directory_is_named) {
  expect_refused(dir, {"--out", "missing", "V26342_1.hyd"}, "missing/V26342_1_drops.csv", "No such file or directory",
                 inputs_only());
  dir.write("plain", std::string("a file, not a directory"));
  std::vector<std::string> files = inputs_only();
  files.push_back("plain");
  expect_refused(dir, {"--out", "plain", "V26342_1.hyd"}, "plain/V26342_1_drops.csv", "Not a directory", files);
}

TEST_F(cli, one_bad_file_fails_the_run_but_not_the_others) {
  dir.write("V26343_1.hyd", std::vector<u8>(100, 0xEE));
  dir.write("V26343_1.hd", rain().hd());
  const run_result r = run_products({"V26343_1.hyd", "V26342_1.hyd"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("V26343_1.hyd"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("2 files read, 1 failed"), std::string::npos) << r.out;
  std::vector<std::string> expected = {"V26342_1.hd", "V26342_1.hyd", "V26343_1.hd", "V26343_1.hyd"};
  expected.insert(expected.end(), outputs.begin(), outputs.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.list(), expected);
}

TEST_F(cli, a_signal_while_writing_leaves_no_temporary_file) {
  // Enough drops that the run is still writing when its first temporary file appears.
  hyd_builder big;
  big.header(instrument());
  drop_spec d;
  d.a = block(200, 10, 16);
  d.b = block(300, 10, 17);
  for (int i = 0; i < 200000; ++i) {
    d.y_first = 55000.0 * (14 * 3600 + 60 + 0.01 * i);
    big.drop(d);
  }
  dir.write("V26342_1.hyd", big.hyd());
  dir.write("V26342_1.hd", big.hd());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (::chdir(dir.path().c_str()) != 0) ::_exit(125);
    ::execl(DROPIX_PRODUCTS_EXE, DROPIX_PRODUCTS_EXE, "V26342_1.hyd", static_cast<char*>(nullptr));
    ::_exit(126);
  }
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    for (const std::string& name : dir.list()) seen = seen || name.find(".part-") != std::string::npos;
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(seen) << "no temporary file appeared";
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(dir.list(), inputs_only());  // neither products nor temporary files
  } else {
    // The run finished before the signal came: then everything must be there, whole.
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(dir.list().size(), inputs_only().size() + outputs.size());
  }
}

TEST_F(cli, station_metadata_reach_the_files_and_bad_metadata_stop_the_run) {
  dir.write("station.txt", std::string("station_id = PAY01\nlatitude = 46.81\nlongitude = 6.94\naltitude = 491\n"));
  ASSERT_EQ(run_products({"-q", "--station", "station.txt", "--products", "dsd", "V26342_1.hyd"}, dir.path()).status, 0);
  int id = -1, var = -1;
  ASSERT_EQ(nc_open((dir / "V26342_1_dsd.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  char sid[16] = {};
  EXPECT_EQ(nc_get_att_text(id, NC_GLOBAL, "station_id", sid), NC_NOERR);
  EXPECT_STREQ(sid, "PAY01");
  double alt = 0;
  EXPECT_EQ(nc_inq_varid(id, "altitude", &var), NC_NOERR);
  nc_get_var_double(id, var, &alt);
  EXPECT_EQ(alt, 491.0);
  nc_close(id);
  std::remove((dir / "V26342_1_dsd.nc").c_str());
  dir.write("station.txt", std::string("latitude = north\n"));
  expect_refused(dir, {"--station", "station.txt", "V26342_1.hyd"}, "station.txt", "line 1: latitude must be a number",
                 {"V26342_1.hd", "V26342_1.hyd", "station.txt"});
}

}  // namespace
}  // namespace dropix::products::test
