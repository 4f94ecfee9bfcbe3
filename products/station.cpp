#include "products/station.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace dropix::products {

namespace {

// Attributes the products write themselves.
constexpr const char* reserved[] = {"Conventions", "featureType", "history", "source", "date_created",
                                    "time_coverage_start", "time_coverage_end", "time_coverage_duration",
                                    "time_coverage_resolution", "product_version"};

std::string trim(const std::string& s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool valid_key(const std::string& k) {
  if (k.empty() || !std::isalpha(static_cast<unsigned char>(k[0]))) return false;
  for (char c : k)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::optional<double> number(const std::string& s) {
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace

std::string station::id() const {
  for (const auto& [k, v] : attributes)
    if (k == "station_id") return v;
  return {};
}

std::optional<station> parse_station(const std::string& text, std::string* error) {
  station s;
  std::istringstream in(text);
  std::string line;
  int n = 0;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(n) + ": " + why;
    return std::nullopt;
  };
  while (std::getline(in, line)) {
    ++n;
    // Everything from a '#' on is a comment.
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = trim(line);
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) return fail("expected key = value, found \"" + line + "\"");
    const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    if (!valid_key(key)) return fail("\"" + key + "\" is not a key (letters, digits and _, starting with a letter)");
    for (const char* r : reserved)
      if (key == r) return fail(key + " is set by the program and cannot be given");
    for (const auto& [k, v] : s.attributes)
      if (k == key) return fail(key + " is given twice");
    if (value.empty()) return fail(key + " has no value");
    struct bounded {
      const char* name;
      double lo, hi;
      std::optional<double>* into;
    };
    for (const bounded b : {bounded{"latitude", -90, 90, &s.latitude}, bounded{"longitude", -180, 360, &s.longitude},
                            bounded{"altitude", -500, 9000, &s.altitude}}) {
      if (key != b.name) continue;
      const auto v = number(value);
      if (!v || *v < b.lo || *v > b.hi) {
        std::ostringstream m;
        m << key << " must be a number from " << b.lo << " to " << b.hi << ", not \"" << value << "\"";
        return fail(m.str());
      }
      *b.into = *v;
    }
    s.attributes.emplace_back(key, value);
  }
  return s;
}

std::optional<station> read_station(const std::string& path, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream text;
  text << f.rdbuf();
  std::string why;
  auto s = parse_station(text.str(), &why);
  if (!s) *error = path + ": " + why;
  return s;
}

}  // namespace dropix::products
