#include "control/quit.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "common/dropix.h"
#include "control/diag.h"
#include "control/status.h"
#include "platform/platform.h"

namespace dropix {

namespace {
void default_hook(int status) { std::exit(status); }
quit_hook_fn g_hook = default_hook;

void close_tagged(std::FILE*& fp, const char* tag) {
  if (!fp) return;
  if (std::fclose(fp) != 0) report_errno(tag);
  fp = nullptr;
}
}  // namespace

void set_quit_hook(quit_hook_fn hook) { g_hook = hook ? hook : default_hook; }

void clean_up() {
  close_tagged(wr.abh_fp, " clean_up01 ");
  close_tagged(wr.pix_fp, " clean_up02 ");
  close_tagged(wr.hd_fp, " clean_up03 ");
  close_tagged(raw.raw_fp, " clean_up04 ");
}

void quit(exit_status status) {
  clean_up();
  status_final();
  platform::terminal_restore();
  if (status == exit_status::failure && !ctl.stderr_to_screen)
    std::printf("\nDROPIX stopped with an error: see DROPIX.ERR\n");
  std::fflush(stdout);
  std::fflush(errs());
  g_hook(static_cast<int>(status));
  std::abort();  // a quit hook must not return
}

void operator_stop() {
  switch (platform::stop_signal()) {
    case SIGINT:
      quit(exit_status::interrupted);
    case SIGTERM:
      quit(exit_status::terminated);
    default:
      quit(exit_status::done);
  }
}

}  // namespace dropix
