// The file layer: netCDF owners that report the file and the cause, and output files that
// appear whole or not at all.
#include <gtest/gtest.h>

#include <netcdf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "products/netcdf.h"
#include "products/staged.h"
#include "products/tests/support.h"

namespace dropix::products {
namespace {

TEST(netcdf, writes_what_a_reader_reads_back_with_chunks_and_deflate) {
  test::temp_dir dir;
  const std::string path = dir / "t.nc";
  {
    nc::file f(path);
    const int n = f.dim("drop", NC_UNLIMITED);
    nc::variable v = f.var("d", NC_FLOAT, {n});
    v.chunks({65536}).deflate(1).text("units", "mm").number("valid_max", 10).fill_nan();
    f.text("title", "t");
    f.end_define();
    const float data[] = {1.5f, 2.25f, -3.0f};
    v.put({0}, {3}, data);
    v.put({3}, {1}, data);
    f.close();
  }
  int id = -1, var = -1, shuffle = 0, deflate = 0, level = 0, storage = 0;
  ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &id), NC_NOERR);
  ASSERT_EQ(nc_inq_varid(id, "d", &var), NC_NOERR);
  float back[4] = {};
  EXPECT_EQ(nc_get_var_float(id, var, back), NC_NOERR);
  EXPECT_EQ(back[1], 2.25f);
  EXPECT_EQ(back[3], 1.5f);
  std::size_t chunk = 0;
  nc_inq_var_chunking(id, var, &storage, &chunk);
  nc_inq_var_deflate(id, var, &shuffle, &deflate, &level);
  EXPECT_EQ(storage, NC_CHUNKED);
  EXPECT_EQ(chunk, 65536u);
  EXPECT_TRUE(shuffle && deflate && level == 1);
  char units[8] = {};
  nc_get_att_text(id, var, "units", units);
  EXPECT_STREQ(units, "mm");
  float fill = 0;
  nc_get_att_float(id, var, "_FillValue", &fill);
  EXPECT_TRUE(std::isnan(fill));
  nc_close(id);
}

TEST(netcdf, failures_name_the_file_the_object_and_the_cause) {
  try {
    nc::file f("/nonexistent-dir/x.nc");
    FAIL() << "created a file in a missing directory";
  } catch (const nc::error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent-dir/x.nc: cannot create"), std::string::npos) << e.what();
  }
  test::temp_dir dir;
  nc::file f(dir / "t.nc");
  f.dim("drop", 3);
  try {
    f.dim("drop", 4);
    FAIL() << "defined a dimension twice";
  } catch (const nc::error& e) {
    EXPECT_NE(std::string(e.what()).find("dimension drop"), std::string::npos) << e.what();
  }
}

TEST(staged_file, appears_under_its_name_only_when_committed) {
  test::temp_dir dir;
  temp_registry reg;
  {
    staged_file s(dir / "out.csv", &reg);
    EXPECT_EQ(s.temp_path().rfind(dir.path() + "/.out.csv.part-", 0), 0u) << s.temp_path();
    EXPECT_EQ(dir.list().size(), 1u);
    s.commit();
    EXPECT_EQ(dir.list(), std::vector<std::string>{"out.csv"});
  }
  EXPECT_EQ(dir.list(), std::vector<std::string>{"out.csv"});
  {
    staged_file s(dir / "other.nc", &reg);
    dir.write(s.temp_path().substr(dir.path().size() + 1), std::string("half"));
  }  // not committed: gone
  EXPECT_EQ(dir.list(), std::vector<std::string>{"out.csv"});
}

TEST(staged_file, committed_files_are_readable_by_others_as_the_umask_allows) {
  test::temp_dir dir;
  const mode_t old = ::umask(022);
  {
    staged_file s(dir / "p.nc", nullptr);
    s.commit();
  }
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "p.nc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(staged_file, an_unwritable_directory_fails_at_once_naming_the_file) {
  try {
    staged_file s("/nonexistent-dir/out.csv", nullptr);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot write /nonexistent-dir/out.csv: No such file or directory"),
              std::string::npos)
        << e.what();
  }
}

TEST(temp_registry, removes_the_files_in_flight_for_a_signal_handler) {
  test::temp_dir dir;
  temp_registry reg;
  auto a = std::make_unique<staged_file>(dir / "a", &reg);
  auto b = std::make_unique<staged_file>(dir / "b", &reg);
  b->commit();  // no longer in flight
  EXPECT_EQ(dir.list().size(), 2u);
  reg.unlink_all();
  EXPECT_EQ(dir.list(), std::vector<std::string>{"b"});
}

}  // namespace
}  // namespace dropix::products
