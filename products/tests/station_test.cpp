// Station metadata files: what is read, and every refusal with its line.
#include <gtest/gtest.h>

#include "products/station.h"
#include "products/tests/support.h"

namespace dropix::products {
namespace {

TEST(station, reads_keys_values_and_coordinates_in_file_order) {
  std::string why;
  const auto s = parse_station(
      "# Payerne, on the roof\n"
      "station_id = PAY01\n"
      "\n"
      "  station_name=Payerne aerological station   # the long name\n"
      "latitude = 46.8132\n"
      "longitude = 6.9428\n"
      "altitude = 491\n"
      "sensor_serial_number = 0042\n",
      &why);
  ASSERT_TRUE(s) << why;
  ASSERT_EQ(s->attributes.size(), 6u);
  EXPECT_EQ(s->attributes[1].first, "station_name");
  EXPECT_EQ(s->attributes[1].second, "Payerne aerological station");
  EXPECT_EQ(s->attributes[5].second, "0042");  // kept as text
  EXPECT_EQ(s->id(), "PAY01");
  EXPECT_DOUBLE_EQ(*s->latitude, 46.8132);
  EXPECT_DOUBLE_EQ(*s->longitude, 6.9428);
  EXPECT_DOUBLE_EQ(*s->altitude, 491);
}

TEST(station, coordinates_are_optional) {
  std::string why;
  const auto s = parse_station("station_id = X\n", &why);
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->latitude);
  EXPECT_FALSE(s->altitude);
  EXPECT_TRUE(parse_station("", &why));
}

TEST(station, refuses_what_it_cannot_use_naming_the_line) {
  struct bad {
    const char* text;
    const char* says;
  };
  for (const bad& b : {bad{"station_id = A\nno equals sign\n", "line 2: expected key = value"},
                       bad{"1st = x\n", "line 1: \"1st\" is not a key"},
                       bad{"station id = x\n", "is not a key"},
                       bad{"a = 1\na = 2\n", "line 2: a is given twice"},
                       bad{"history = mine\n", "history is set by the program"},
                       bad{"Conventions = CF-1.6\n", "Conventions is set by the program"},
                       bad{"latitude = 91\n", "latitude must be a number from -90 to 90"},
                       bad{"longitude = east\n", "longitude must be a number"},
                       bad{"altitude = 300 m\n", "altitude must be a number"},
                       bad{"altitude = nan\n", "altitude must be a number"},
                       bad{"station_name =\n", "station_name has no value"}}) {
    std::string why;
    EXPECT_FALSE(parse_station(b.text, &why)) << b.text;
    EXPECT_NE(why.find(b.says), std::string::npos) << "got: " << why;
  }
}

TEST(station, names_the_file_it_cannot_read) {
  std::string why;
  EXPECT_FALSE(read_station("/nonexistent/station.txt", &why));
  EXPECT_NE(why.find("/nonexistent/station.txt"), std::string::npos);
  test::temp_dir dir;
  dir.write("s.txt", std::string("latitude = 100\n"));
  EXPECT_FALSE(read_station(dir / "s.txt", &why));
  EXPECT_NE(why.find("s.txt: line 1: latitude"), std::string::npos) << why;
}

}  // namespace
}  // namespace dropix::products
