// One thread on the real executable: /s and -s, the settings key THREADS, and the files and
// messages of a one-thread run, which must be those of the default run on two threads.
#include "tests/e2e/e2e_support.h"
#include "tools/sim/simulate.h"

namespace dropix::e2e {
namespace {

class threads : public e2e_test {
 protected:
  // A minute of heavy, gusty rain with splashes: records, flushes and messages from both
  // threads of a default run.
  void rain() {
    sim::sim_options o;
    o.event.rain = 80;
    o.event.minutes = 1;
    o.event.turbulence = 0.2;
    o.event.wind = 5;
    o.event.gust = 1;
    o.event.splashes = 30;
    o.seed = 23;
    write("V26342_1.AB", sim::simulate(o).raw);
  }
  struct outcome {
    int status = -1;
    std::vector<u8> hyd, hd, abh;
    std::string log;  // the error log after its start line, which holds the clock
    bool operator==(const outcome&) const = default;
  };
  // Runs the program with `args` on fresh outputs and takes its files.
  outcome run_fresh(const std::vector<std::string>& args) {
    for (const char* f : {"V26342_1.hyd", "V26342_1.hd", "V26342_1.abh", "DROPIX.ERR"}) std::remove(path(f).c_str());
    const auto r = run(args);
    const std::string log = text("DROPIX.ERR");
    const std::size_t start_line_end = log.find('\n', 1);
    return {r.status, bytes("V26342_1.hyd"), bytes("V26342_1.hd"), bytes("V26342_1.abh"),
            start_line_end == std::string::npos ? log : log.substr(start_line_end)};
  }
  void settings_with(const std::string& value) {
    std::string line = "THREADS    for decoding and for the records";
    line.resize(60, ' ');
    write("DROPIX.SET", settings("", "") + line + value + "\n");
  }
};

TEST_F(threads, the_option_text_names_the_switch) {
  const auto r = run({"/?"});
  EXPECT_NE(r.out.find("    /m ... matching: physical pairing of the two cameras' objects \n"
                       "    /s ... single thread: records written on the decoding thread \n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(run({}).out.find("    /s ... single thread"), std::string::npos) << "and the usage";
}

TEST_F(threads, one_thread_gives_the_files_and_messages_of_two) {
  rain();
  const outcome two = run_fresh({"V26342_1.AB"});
  ASSERT_EQ(two.status, 0);
  ASSERT_GT(two.hyd.size(), 1000u) << "records to write";
  ASSERT_NE(two.log, "") << "messages to keep in order";
  for (const char* sw : {"/s", "-s", "/s/m"}) {
    SCOPED_TRACE(sw);
    const outcome one = run_fresh({"V26342_1.AB", sw});
    if (std::string(sw) == "/s/m")
      EXPECT_NE(one.hyd, two.hyd) << "the switches glued still ask for physical pairing";
    else
      EXPECT_EQ(one, two);
  }
  settings_with("1");
  EXPECT_EQ(run_fresh({"V26342_1.AB"}), two) << "THREADS 1";
  settings_with("2");
  EXPECT_EQ(run_fresh({"V26342_1.AB"}), two) << "THREADS 2";
  EXPECT_EQ(run_fresh({"V26342_1.AB", "/s"}), two) << "the switch with THREADS 2";
}

TEST_F(threads, an_unknown_threads_value_ends_the_run_before_any_file_is_made) {
  rain();
  for (const char* value : {"0", "3", "two", ""}) {
    SCOPED_TRACE(std::string("value '") + value + "'");
    std::remove(path("DROPIX.ERR").c_str());
    settings_with(value);
    const auto r = run({"V26342_1.AB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("DROPIX stopped with an error: see DROPIX.ERR"), std::string::npos);
    EXPECT_NE(text("DROPIX.ERR").find(std::string("rd_mp: THREADS ") + value + ": neither 1 nor 2 \n"),
              std::string::npos)
        << text("DROPIX.ERR");
    EXPECT_FALSE(exists("V26342_1.hyd"));
  }
}

}  // namespace
}  // namespace dropix::e2e
