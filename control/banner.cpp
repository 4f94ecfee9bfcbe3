#include "control/banner.h"

#include <ctime>

#include "platform/files.h"

namespace dropix {

void banner(host& h) {
  const bool terminal = h.out_is_terminal();
  if (terminal) h.clear_screen();
  static const char* const lines[] = {
      "\n    ====================================================================\n",
      "    |                                                                  |\n",
      "    |                      T H E   K A L V O R A                       |\n",
      "    |                                                                  |\n",
      "    |      DROPIX                                                      |\n",
      "    |                                                                  |\n",
      "    |      (Nov. 06, 2002, 18:15 internal version no. 7.002)           |\n",
      "    |                                                                  |\n",
      "    |                                                         VELMORA  |\n",
      "    ====================================================================\n",
  };
  for (const char* l : lines) h.write(l);
  h.write("\n\n");
  h.flush();
  if (terminal) {
    // Until the whole-second clock has moved on by two: a pause of one to two seconds.
    const s64 t0 = h.clock_seconds();
    while (h.clock_seconds() < t0 + 2 && !h.stop_signal()) h.sleep_ms(50);
  }
}

std::FILE* open_error_log(host& h, const std::string& dir, s64 now, const char* note) {
  std::FILE* fp = std::fopen(in_dir(dir, "DROPIX.ERR").c_str(), "a");
  if (!fp) {
    h.write("DROPIX.ERR cannot be opened: messages stay on the screen\n");
    return nullptr;
  }
  std::setvbuf(fp, nullptr, _IONBF, 0);
  const std::time_t t = static_cast<std::time_t>(now);
  std::tm tm_utc{};
  ::gmtime_r(&t, &tm_utc);
  char text[64];
  std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &tm_utc);
  std::fprintf(fp, "\nQX5 starts at %s", text);
  if (note) std::fputs(note, fp);
  return fp;
}

}  // namespace dropix
