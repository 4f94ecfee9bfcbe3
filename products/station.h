// Station metadata: a plain text file of "key = value" lines.
//
//   # comments and blank lines are skipped
//   station_id = PAY01
//   station_name = Payerne
//   latitude = 46.8132        # degrees north, -90 .. 90
//   longitude = 6.9428        # degrees east, -180 .. 360
//   altitude = 491            # m above sea level, -500 .. 9000
//   institution = ...
//   sensor_serial_number = ...
//
// Keys are names of letters, digits and underscores, starting with a letter, each given
// once; every key becomes a global attribute of the products. latitude, longitude and
// altitude must be numbers and also become scalar coordinates. Attributes the products set
// themselves (Conventions, featureType, history, ...) cannot be given.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dropix::products {

struct station {
  std::vector<std::pair<std::string, std::string>> attributes;  // in file order
  std::optional<double> latitude, longitude, altitude;
  std::string id() const;  // station_id, or empty
};

// Parses the text of a station file; on a fault returns nothing and sets *error to
// "line N: cause".
std::optional<station> parse_station(const std::string& text, std::string* error);

// Reads and parses a station file; *error names the file.
std::optional<station> read_station(const std::string& path, std::string* error);

}  // namespace dropix::products
