// dropix-products: drop-by-drop and drop size distribution products from DROPIX .hyd files.
// The command line is read here; the work is the session's. Exit status: 0 all products
// written, 1 a file could not be turned into products, 2 a usage error.
#include <CLI/CLI.hpp>

#include <csignal>
#include <filesystem>
#include <cstdio>
#include <set>
#include <string>

#include "products/session.h"

namespace {

using namespace dropix::products;

// The temporary files of the run, removed when a signal ends it.
temp_registry* g_temps = nullptr;

extern "C" void on_signal(int sig) {
  if (g_temps) g_temps->unlink_all();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::string quoted_command_line(int argc, char** argv) {
  std::string s;
  for (int i = 0; i < argc; ++i) {
    std::string a = i == 0 ? "dropix-products" : argv[i];
    if (a.find_first_of(" \t\"'") != std::string::npos) a = "'" + a + "'";
    s += (i ? " " : "") + a;
  }
  return s;
}

int usage_error(const std::string& why) {
  std::fprintf(stderr, "dropix-products: %s\nRun with --help for the options.\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  run_options o;
  o.version = DROPIX_VERSION;
  o.command_line = quoted_command_line(argc, argv);
  std::string law = "atlas", products = "csv,drops,dsd";
  bool quiet = false, no_hd = false;

  CLI::App app{"dropix-products: per-drop data and drop size distributions from DROPIX .hyd files.\n"
               "Writes, beside each FILE.hyd (or into --out DIR): FILE_drops.csv, FILE_drops.nc (one\n"
               "record per drop) and FILE_dsd.nc (drop size distributions and rain quantities per\n"
               "interval). The .hd beside each .hyd must be there: it shows that the .hyd is whole.",
               "dropix-products"};
  app.set_version_flag("--version", "dropix-products " + o.version);
  app.add_option("files", o.inputs, "the .hyd files")->required()->type_name("FILE.hyd");
  app.add_option("--out", o.out_dir, "write the products into this directory (it must exist)")->type_name("DIR");
  app.add_option("--interval", o.interval_s, "length of the DSD intervals in seconds (10 to 3600, dividing a day)")
      ->capture_default_str()
      ->check(CLI::Range(10, 3600));
  app.add_option("--station", o.station_path, "station metadata: a file of key = value lines")->type_name("FILE");
  app.add_option("--law", law, "terminal-speed law of the fall-speed check: atlas (Atlas et al. 1973) or beard "
                               "(Beard 1976, standard atmosphere at the station's altitude)")
      ->capture_default_str()
      ->check(CLI::IsMember({"atlas", "beard"}));
  app.add_option("--tolerance", o.qc.tolerance, "half-width of the fall-speed band, as a fraction of the law's speed")
      ->capture_default_str()
      ->check(CLI::Range(0.01, 5.0));
  app.add_option("--edge-margin", o.qc.edge_margin,
                 "pixels at each line end a silhouette must keep off to count as seen whole")
      ->capture_default_str()
      ->check(CLI::Range(1, 100));
  app.add_option("--products", products, "products to write, comma-separated: csv, drops, dsd")->capture_default_str();
  app.add_flag("--no-hd", no_hd, "process a .hyd without its .hd (no check that the .hyd is whole)");
  app.add_flag("-q,--quiet", quiet, "no console summary");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion&) {
    std::printf("dropix-products %s\n", o.version.c_str());
    return 0;
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  }

  if (86400 % o.interval_s != 0)
    return usage_error("--interval: " + std::to_string(o.interval_s) + " s does not divide a day into whole intervals");
  parse_speed_law(law, &o.qc.law);
  o.csv = o.drops_nc = o.dsd_nc = false;
  for (std::size_t at = 0; at <= products.size();) {
    const std::size_t comma = std::min(products.find(',', at), products.size());
    const std::string p = products.substr(at, comma - at);
    if (p == "csv") o.csv = true;
    else if (p == "drops") o.drops_nc = true;
    else if (p == "dsd") o.dsd_nc = true;
    else return usage_error("--products: unknown product \"" + p + "\" (csv, drops, dsd)");
    at = comma + 1;
  }
  o.need_hd = !no_hd;
  o.summary = !quiet;
  std::set<std::string> outputs;
  for (const std::string& in : o.inputs) {
    const std::string dsd = std::filesystem::absolute(paths_for(in, o.out_dir).dsd_nc).lexically_normal().string();
    if (!outputs.insert(dsd).second)
      return usage_error(in + ": another input already writes its products (" + dsd + ")");
  }

  temp_registry temps;
  g_temps = &temps;
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGHUP, on_signal);
  session s(o, stdout, stderr, &temps);
  const int status = s.run();
  g_temps = nullptr;
  return status;
}
