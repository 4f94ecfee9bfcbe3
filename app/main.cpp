// The dropix executable: a thin program around a session.
#include "platform/host.h"
#include "session/session.h"

int main(int argc, char** argv) {
  dropix::use_utc();
  dropix::install_stop_signals();
  dropix::posix_host host;
  return dropix::run_program(host, argc, argv);
}
