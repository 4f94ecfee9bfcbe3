// The matching mode on the real executable: /m and -m, the settings key MATCHING, the start
// message that names the mode, and the files of each mode on simulated rain.
#include "tests/e2e/e2e_support.h"
#include "tools/sim/simulate.h"

namespace dropix::e2e {
namespace {

class matching : public e2e_test {
 protected:
  // A minute of simulated rain at 30 mm/h in turbulent, windy air: coincident drops that the
  // two modes pair differently.
  void rain() {
    sim::sim_options o;
    o.event.rain = 30;
    o.event.minutes = 1;
    o.event.turbulence = 0.2;
    o.event.wind = 5;
    o.seed = 17;
    write("V26342_1.AB", sim::simulate(o).raw);
  }
  struct files {
    std::vector<u8> hyd, hd, abh;
    bool operator==(const files&) const = default;
  };
  // Runs the program with `args` on a fresh output and takes its files.
  files run_for_files(const std::vector<std::string>& args) {
    for (const char* f : {"V26342_1.hyd", "V26342_1.hd", "V26342_1.abh"}) std::remove(path(f).c_str());
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << r.out;
    return {bytes("V26342_1.hyd"), bytes("V26342_1.hd"), bytes("V26342_1.abh")};
  }
  void settings_with(const std::string& value) {
    std::string line = "MATCHING   pairing of the two cameras' objects";
    line.resize(60, ' ');
    write("DROPIX.SET", settings("", "") + line + value + "\n");
  }
};

TEST_F(matching, the_option_text_names_the_switch) {
  const auto r = run({"/?"});
  EXPECT_NE(r.out.find("    /c ... calibration: do not apply adjustment factors \n"
                       "    /m ... matching: physical pairing of the two cameras' objects \n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(run({}).out.find("    /m ... matching: physical pairing"), std::string::npos) << "and the usage";
}

TEST_F(matching, the_start_message_names_physical_pairing_and_only_it) {
  rain();
  for (const char* sw : {"/m", "-m", "/e/m"}) {
    SCOPED_TRACE(sw);
    std::remove(path("DROPIX.ERR").c_str());
    const auto r = run({"V26342_1.AB", sw});
    ASSERT_EQ(r.status, 0);
    if (std::string(sw) == "/e/m") {
      EXPECT_FALSE(exists("DROPIX.ERR"));
      EXPECT_NE(r.out.find("QX5 matching: physical pairing\n"), std::string::npos) << "on the screen with /e";
      continue;
    }
    const std::string log = text("DROPIX.ERR");
    EXPECT_EQ(log.rfind("\nQX5 starts at ", 0), 0u) << log;
    EXPECT_EQ(log.find("\nQX5 matching: physical pairing\n"), log.find('\n', 1)) << "the line after the start line";
  }
  std::remove(path("DROPIX.ERR").c_str());
  ASSERT_EQ(run({"V26342_1.AB"}).status, 0);
  EXPECT_EQ(text("DROPIX.ERR").find("matching"), std::string::npos);
}

TEST_F(matching, the_settings_key_and_the_switch_give_the_same_files_and_differ_from_the_default) {
  rain();
  const files oldest_first = run_for_files({"V26342_1.AB"});
  const files physical = run_for_files({"V26342_1.AB", "/m"});
  EXPECT_NE(physical.hyd, oldest_first.hyd);
  EXPECT_EQ(run_for_files({"V26342_1.AB", "-m"}), physical);

  settings_with("PHYSICAL");
  EXPECT_EQ(run_for_files({"V26342_1.AB"}), physical);
  EXPECT_NE(text("DROPIX.ERR").find("\nQX5 matching: physical pairing\n"), std::string::npos);
  settings_with("OLDEST_FIRST");
  EXPECT_EQ(run_for_files({"V26342_1.AB"}), oldest_first);
  EXPECT_EQ(run_for_files({"V26342_1.AB", "/m"}), physical) << "the switch wins";
}

TEST_F(matching, an_unknown_matching_value_ends_the_run_before_any_file_is_made) {
  rain();
  for (const char* value : {"physical", "HUNGARIAN", ""}) {
    SCOPED_TRACE(std::string("value '") + value + "'");
    std::remove(path("DROPIX.ERR").c_str());
    settings_with(value);
    const auto r = run({"V26342_1.AB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("DROPIX stopped with an error: see DROPIX.ERR"), std::string::npos);
    EXPECT_NE(text("DROPIX.ERR").find(std::string("rd_mp: MATCHING ") + value + ": neither PHYSICAL nor OLDEST_FIRST \n"),
              std::string::npos)
        << text("DROPIX.ERR");
    EXPECT_FALSE(exists("V26342_1.hyd"));
  }
}

}  // namespace
}  // namespace dropix::e2e
