#include <algorithm>
#include <cmath>
#include <functional>

#include "products/netcdf.h"
#include "products/timefmt.h"
#include "products/writers.h"

namespace dropix::products {

namespace {

constexpr const char* time_units = "seconds since 1970-01-01 00:00:00";

// Global attributes both files share, then the station's own (which may replace title,
// summary, institution and the like, but not what the program states about itself).
void global_attributes(nc::file& f, const product_metadata& m, const char* feature, const std::string& title,
                       const std::string& summary, s64 start_s, s64 end_s) {
  f.text("Conventions", "CF-1.10, ACDD-1.3");
  f.text("featureType", feature);
  f.text("title", title);
  f.text("summary", summary);
  f.text("source", "dropix-products " + m.version + " (DROPIX) from " + m.source_file);
  f.text("history", m.history);
  f.text("date_created", m.date_created);
  f.text("product_version", m.version);
  f.text("instrument", "two-camera line-scan video disdrometer");
  f.text("time_coverage_start", iso_s(start_s));
  f.text("time_coverage_end", iso_s(end_s));
  f.text("qc_fall_speed_law", law_citation(m.qc.law));
  f.number("qc_fall_speed_tolerance", m.qc.tolerance);
  if (m.qc.law == speed_law::beard_1976) f.number("qc_altitude_of_standard_atmosphere", m.qc.altitude_m);
  f.number("qc_edge_margin_pixels", m.qc.edge_margin);
  f.number("measuring_area_mm2", m.measuring_area_mm2);
  if (!m.site) return;
  for (const auto& [k, v] : m.site->attributes) {
    if (k == "latitude" || k == "longitude" || k == "altitude")
      f.number(k.c_str(), std::stod(v));
    else
      f.text(k.c_str(), v);
  }
  if (m.site->latitude) {
    f.number("geospatial_lat_min", *m.site->latitude);
    f.number("geospatial_lat_max", *m.site->latitude);
  }
  if (m.site->longitude) {
    f.number("geospatial_lon_min", *m.site->longitude);
    f.number("geospatial_lon_max", *m.site->longitude);
  }
}

// The station's position as scalar coordinate variables; returns their names for the data
// variables' "coordinates" attribute.
struct scalar_coordinates {
  std::string names;
  std::vector<std::pair<nc::variable, double>> values;
};
scalar_coordinates define_position(nc::file& f, const station* s) {
  scalar_coordinates c;
  if (!s) return c;
  struct item {
    const char* name;
    const std::optional<double>& value;
    const char* units;
    const char* long_name;
  };
  for (const item& i : {item{"latitude", s->latitude, "degrees_north", "Latitude of the station"},
                        item{"longitude", s->longitude, "degrees_east", "Longitude of the station"},
                        item{"altitude", s->altitude, "m", "Altitude of the station above mean sea level"}}) {
    if (!i.value) continue;
    nc::variable v = f.var(i.name, NC_DOUBLE, {});
    v.text("standard_name", i.name).text("long_name", i.long_name).text("units", i.units);
    if (std::string(i.name) == "altitude") v.text("positive", "up");
    c.names += std::string(" ") + i.name;
    c.values.emplace_back(v, *i.value);
  }
  return c;
}

std::string where(const product_metadata& m) {
  if (m.site) {
    for (const char* key : {"station_name", "station_id"})
      for (const auto& [k, v] : m.site->attributes)
        if (k == key) return " at " + v;
  }
  return "";
}

}  // namespace

struct drops_nc_writer::parts {
  explicit parts(const std::string& path) : f(path) {}
  nc::file f;
  std::vector<nc::variable> vars;  // time, record_offset, the float columns, qc_flag
  scalar_coordinates pos;
  std::vector<double> seconds;  // scratch for one slab of times
};

drops_nc_writer::drops_nc_writer(const std::string& path, const station* site) : p_(std::make_unique<parts>(path)) {
  nc::file& f = p_->f;
  f.no_prefill();  // every value is written: no fill values first
  const int drop = f.dim("drop", NC_UNLIMITED);
  const std::vector<std::size_t> chunk{drop_chunk};
  p_->pos = define_position(f, site);
  const std::string coordinates = "time" + p_->pos.names;

  nc::variable time = f.var("time", NC_DOUBLE, {drop});
  time.chunks(chunk).deflate(deflate_level);
  time.text("standard_name", "time")
      .text("long_name", "Time of the drop's first scan line in camera A")
      .text("units", time_units)
      .text("calendar", "proleptic_gregorian")
      .text("axis", "T");
  nc::variable offset = f.var("record_offset", NC_UINT, {drop});
  offset.chunks(chunk).deflate(deflate_level);
  offset.text("long_name", "Offset of the drop record in the DROPIX hydrometeor file (.hyd)").text("units", "byte");
  p_->vars = {time, offset};

  struct column_info {
    const char* name;
    const char* long_name;
    const char* units;
  };
  static constexpr column_info columns[n_float] = {
      {"equivolumetric_sphere_diameter", "Equivolumetric sphere diameter", "mm"},
      {"fall_speed", "Fall speed", "m s-1"},
      {"oblateness", "Axis ratio of the drop: mean height over mean width", "1"},
      {"drop_width_a", "Width of the drop seen by camera A", "mm"},
      {"drop_width_b", "Width of the drop seen by camera B", "mm"},
      {"drop_height_a", "Height of the drop seen by camera A", "mm"},
      {"drop_height_b", "Height of the drop seen by camera B", "mm"},
      {"x_position", "Position of the drop along camera A's line from the centre of the measuring area", "mm"},
      {"y_position", "Position of the drop along camera B's line from the centre of the measuring area", "mm"},
      {"effective_area",
       "Effective sampling area: the part of the measuring area in which a drop of this size is seen whole by both "
       "cameras",
       "mm2"},
  };
  for (const column_info& col : columns) {
    nc::variable v = f.var(col.name, NC_FLOAT, {drop});
    v.chunks(chunk).deflate(deflate_level);
    v.text("long_name", col.long_name).text("units", col.units).text("coordinates", coordinates);
    v.text("ancillary_variables", "qc_flag");
    p_->vars.push_back(v);
  }
  nc::variable qc = f.var("qc_flag", NC_UBYTE, {drop});
  qc.chunks(chunk).deflate(deflate_level);
  std::vector<u8> masks;
  std::string meanings;
  for (const qc_bit_info& b : qc_bits) {
    masks.push_back(b.mask);
    meanings += (meanings.empty() ? "" : " ") + std::string(b.meaning);
  }
  qc.text("long_name", "Quality control flags of the drop (0: passed)")
      .text("units", "1")
      .masks_u8("flag_masks", masks)
      .text("flag_meanings", meanings)
      .text("coordinates", coordinates);
  p_->vars.push_back(qc);
  f.end_define();
  for (const auto& [v, value] : p_->pos.values) v.put_scalar(value);
}

drops_nc_writer::~drops_nc_writer() = default;

void drops_nc_writer::append(const drop_columns& c, std::size_t from, std::size_t to) {
  if (to <= from) return;
  const std::vector<std::size_t> start{from}, count{to - from};
  p_->seconds.resize(to - from);
  for (std::size_t i = from; i < to; ++i) p_->seconds[i - from] = static_cast<double>(c.time_ms[i]) / 1000.0;
  std::size_t k = 0;
  p_->vars[k++].put(start, count, p_->seconds.data());
  p_->vars[k++].put(start, count, c.offset.data() + from);
  for (int j = 0; j < n_float; ++j) p_->vars[k++].put(start, count, c.col(static_cast<float_column>(j)) + from);
  p_->vars[k].put(start, count, c.qc.data() + from);
}

void drops_nc_writer::finish(const product_metadata& m) {
  nc::file& f = p_->f;
  f.redefine();
  global_attributes(f, m, "point", "DROPIX per-drop data" + where(m) + ", " + iso_day(m.first_ms / 1000),
                    "One record per drop seen by both cameras of a two-camera line-scan video disdrometer: "
                    "time, equivolumetric sphere diameter, fall speed, shape, position, effective sampling "
                    "area and quality flags, derived by dropix-products from the DROPIX hydrometeor file " +
                        m.source_file + ".",
                    m.first_ms / 1000, m.last_ms / 1000 + 1);
  f.end_define();
  f.close();
}

void write_dsd_nc(const std::string& path, const dsd_series& s, const product_metadata& m, const terminal_speed& law) {
  nc::file f(path);
  const std::size_t nt = s.size();
  const int dt = s.interval_s();
  const int time = f.dim("time", nt);
  const int nv = f.dim("nv", 2);
  const int dd = f.dim("diameter_bin_center", bins::n_d);
  const int dv = f.dim("velocity_bin_center", bins::n_v);
  global_attributes(f, m, "timeSeries",
                    "DROPIX drop size distributions" + where(m) + ", " + std::to_string(dt) + " s, " +
                        iso_day(s.start_s(0)),
                    "Drop size distributions and integral rain quantities over " + std::to_string(dt) +
                        " s intervals from the drops of a two-camera line-scan video disdrometer that passed "
                        "quality control, each weighted with its own effective sampling area and measured fall "
                        "speed; derived by dropix-products from the DROPIX hydrometeor file " +
                        m.source_file + ". Names and units follow the DISDRODB L2E product.",
                    s.start_s(0), s.end_s(nt - 1));
  f.text("time_coverage_resolution", "PT" + std::to_string(dt) + "S");
  const scalar_coordinates pos = define_position(f, m.site);
  const std::string coordinates = pos.names.empty() ? "" : pos.names.substr(1);

  const std::size_t t_chunk1 = std::min<std::size_t>(nt, 8192);
  const std::size_t t_chunk2 = std::min<std::size_t>(nt, 1024);
  const std::size_t t_chunk3 = std::min<std::size_t>(nt, 32);

  nc::variable vtime = f.var("time", NC_INT64, {time});
  vtime.chunks({t_chunk1}).deflate(deflate_level);
  vtime.text("standard_name", "time")
      .text("long_name", "End of the interval")
      .text("units", time_units)
      .text("calendar", "proleptic_gregorian")
      .text("axis", "T")
      .text("bounds", "time_bnds");
  nc::variable vbnds = f.var("time_bnds", NC_INT64, {time, nv});
  vbnds.chunks({t_chunk1, 2}).deflate(deflate_level);
  vbnds.text("long_name", "Start and end of the interval").text("units", time_units).text("calendar", "proleptic_gregorian");
  nc::variable vsample = f.var("sample_interval", NC_INT, {});
  vsample.text("long_name", "Length of the interval").text("units", "s");

  struct bin_coordinate {
    const char* name;
    const char* long_name;
    const char* units;
    int dim, n;
    double width;
    int which;  // 0 centre, 1 lower, 2 upper, 3 width
  };
  const bin_coordinate bin_vars[] = {
      {"diameter_bin_center", "Diameter bin centre", "mm", dd, bins::n_d, bins::d_width, 0},
      {"diameter_bin_lower", "Diameter bin lower bound", "mm", dd, bins::n_d, bins::d_width, 1},
      {"diameter_bin_upper", "Diameter bin upper bound", "mm", dd, bins::n_d, bins::d_width, 2},
      {"diameter_bin_width", "Diameter bin width", "mm", dd, bins::n_d, bins::d_width, 3},
      {"velocity_bin_center", "Velocity bin centre", "m s-1", dv, bins::n_v, bins::v_width, 0},
      {"velocity_bin_lower", "Velocity bin lower bound", "m s-1", dv, bins::n_v, bins::v_width, 1},
      {"velocity_bin_upper", "Velocity bin upper bound", "m s-1", dv, bins::n_v, bins::v_width, 2},
      {"velocity_bin_width", "Velocity bin width", "m s-1", dv, bins::n_v, bins::v_width, 3},
  };
  std::vector<nc::variable> bin_defs;
  for (const bin_coordinate& b : bin_vars) {
    nc::variable v = f.var(b.name, NC_FLOAT, {b.dim});
    v.text("long_name", b.long_name).text("units", b.units);
    bin_defs.push_back(v);
  }
  nc::variable vlaw = f.var("terminal_velocity", NC_FLOAT, {dd});
  vlaw.text("long_name", "Terminal fall velocity of the quality-control law at the bin centre")
      .text("units", "m s-1")
      .text("comment", std::string(law_citation(law.law())) + "; drops outside +-" +
                           std::to_string(static_cast<int>(std::lround(m.qc.tolerance * 100))) + " % of it are removed");

  auto data_var = [&](const char* name, nc_type type, const std::vector<int>& dims, const char* long_name,
                      const char* units) {
    nc::variable v = f.var(name, type, dims);
    std::vector<std::size_t> chunk;
    for (int d : dims)
      chunk.push_back(d == time ? (dims.size() == 1 ? t_chunk1 : dims.size() == 2 ? t_chunk2 : t_chunk3)
                                : d == dd ? bins::n_d : bins::n_v);
    v.chunks(chunk).deflate(deflate_level);
    v.text("long_name", long_name).text("units", units);
    if (!coordinates.empty()) v.text("coordinates", coordinates);
    if (type == NC_FLOAT) v.fill_nan();
    return v;
  };
  nc::variable raw = data_var("raw_drop_number", NC_UINT, {time, dd, dv},
                              "Number of drops per diameter and velocity bin, before quality control", "counts");
  nc::variable counts = data_var("drop_counts", NC_UINT, {time, dd}, "Number of drops per diameter bin that passed quality control", "counts");
  nc::variable conc = data_var("drop_number_concentration", NC_FLOAT, {time, dd},
                               "Drop number concentration per diameter class", "m-3 mm-1");
  nc::variable fallv = data_var("fall_velocity", NC_FLOAT, {time, dd}, "Mean measured fall velocity per diameter class", "m s-1");
  nc::variable vN = data_var("N", NC_UINT, {time}, "Number of drops that passed quality control", "counts");
  nc::variable vNraw = data_var("Nraw", NC_UINT, {time}, "Number of drops recorded", "counts");
  nc::variable vNrem = data_var("Nremoved", NC_UINT, {time}, "Number of drops removed by quality control", "counts");

  struct scalar_quantity {
    const char* name;
    const char* long_name;
    const char* units;
    const char* standard_name;
    const char* cell_methods;
    std::function<double(const dsd_values&)> get;
  };
  std::vector<scalar_quantity> quantities;
  static const char* const moment_units[] = {"m-3", "m-3 mm", "m-3 mm2", "m-3 mm3", "m-3 mm4", "m-3 mm5", "m-3 mm6"};
  static const char* const moment_names[] = {"M0", "M1", "M2", "M3", "M4", "M5", "M6"};
  static const char* const moment_long[] = {"Moment 0 of the drop size distribution", "Moment 1 of the drop size distribution",
                                            "Moment 2 of the drop size distribution", "Moment 3 of the drop size distribution",
                                            "Moment 4 of the drop size distribution", "Moment 5 of the drop size distribution",
                                            "Moment 6 of the drop size distribution"};
  for (int k = 0; k < 7; ++k)
    quantities.push_back({moment_names[k], moment_long[k], moment_units[k], nullptr, nullptr,
                          [k](const dsd_values& v) { return v.m[k]; }});
  const scalar_quantity named[] = {
      {"Nt", "Total number concentration of drops", "m-3", nullptr, nullptr, [](const dsd_values& v) { return v.nt; }},
      {"R", "Rain rate", "mm h-1", "rainfall_rate", "time: mean", [](const dsd_values& v) { return v.r; }},
      {"P", "Rain amount in the interval", "mm", "thickness_of_rainfall_amount", "time: sum",
       [](const dsd_values& v) { return v.p; }},
      {"Z", "Equivalent reflectivity factor", "dBZ", "equivalent_reflectivity_factor", nullptr,
       [](const dsd_values& v) { return v.z; }},
      {"LWC", "Liquid water content", "g m-3", nullptr, nullptr, [](const dsd_values& v) { return v.lwc; }},
      {"Dm", "Mass-weighted mean diameter", "mm", nullptr, nullptr, [](const dsd_values& v) { return v.dm; }},
      {"sigma_m", "Standard deviation of the mass spectrum", "mm", nullptr, nullptr,
       [](const dsd_values& v) { return v.sigma_m; }},
      {"Nw", "Normalized intercept parameter", "mm-1 m-3", nullptr, nullptr, [](const dsd_values& v) { return v.nw; }},
      {"D10", "Diameter below which lies 10 % of the liquid water content", "mm", nullptr, nullptr,
       [](const dsd_values& v) { return v.d10; }},
      {"D50", "Median volume diameter", "mm", nullptr, nullptr, [](const dsd_values& v) { return v.d50; }},
      {"D90", "Diameter below which lies 90 % of the liquid water content", "mm", nullptr, nullptr,
       [](const dsd_values& v) { return v.d90; }},
      {"Dmin", "Smallest drop diameter", "mm", nullptr, nullptr, [](const dsd_values& v) { return v.d_min; }},
      {"Dmax", "Largest drop diameter", "mm", nullptr, nullptr, [](const dsd_values& v) { return v.d_max; }},
      {"TKE", "Total kinetic energy", "J m-2", nullptr, nullptr, [](const dsd_values& v) { return v.tke; }},
      {"KEF", "Kinetic energy flux", "J m-2 h-1", nullptr, nullptr, [](const dsd_values& v) { return v.kef; }},
      {"KED", "Kinetic energy per unit rain depth", "J m-2 mm-1", nullptr, nullptr,
       [](const dsd_values& v) { return v.ked; }},
  };
  for (const scalar_quantity& q : named) quantities.push_back(q);
  std::vector<nc::variable> qvars;
  for (const scalar_quantity& q : quantities) {
    nc::variable v = data_var(q.name, NC_FLOAT, {time}, q.long_name, q.units);
    if (q.standard_name) v.text("standard_name", q.standard_name);
    if (q.cell_methods) v.text("cell_methods", q.cell_methods);
    qvars.push_back(v);
  }
  f.end_define();

  // Coordinates.
  for (const auto& [v, value] : pos.values) v.put_scalar(value);
  vsample.put_scalar(dt);
  for (std::size_t k = 0; k < bin_defs.size(); ++k) {
    const bin_coordinate& b = bin_vars[k];
    std::vector<float> values(static_cast<std::size_t>(b.n));
    for (int i = 0; i < b.n; ++i) {
      const double lower = i * b.width;
      const double value[] = {lower + b.width / 2, lower, lower + b.width, b.width};
      values[static_cast<std::size_t>(i)] = static_cast<float>(value[b.which]);
    }
    bin_defs[k].put({0}, {values.size()}, values.data());
  }
  std::vector<float> law_values(bins::n_d);
  for (int i = 0; i < bins::n_d; ++i) law_values[static_cast<std::size_t>(i)] = static_cast<float>(law((i + 0.5) * bins::d_width));
  vlaw.put({0}, {law_values.size()}, law_values.data());
  std::vector<long long> labels(nt), bounds(2 * nt);
  for (std::size_t i = 0; i < nt; ++i) {
    labels[i] = s.end_s(i);
    bounds[2 * i] = s.start_s(i);
    bounds[2 * i + 1] = s.end_s(i);
  }
  vtime.put({0}, {nt}, labels.data());
  vbnds.put({0, 0}, {nt, 2}, bounds.data());

  // Per-interval values, computed once.
  std::vector<u32> n_pass(nt), n_raw(nt), n_removed(nt), cnt(nt * bins::n_d);
  std::vector<float> nd(nt * bins::n_d), fv(nt * bins::n_d);
  std::vector<std::vector<float>> qvalues(quantities.size(), std::vector<float>(nt));
  for (std::size_t i = 0; i < nt; ++i) {
    const interval_sums& sums = s.at(i);
    const dsd_values v = derive_dsd(sums, dt);
    n_pass[i] = sums.n;
    n_raw[i] = sums.n_raw;
    n_removed[i] = sums.n_raw - sums.n;
    for (int j = 0; j < bins::n_d; ++j) {
      cnt[i * bins::n_d + j] = sums.count[j];
      nd[i * bins::n_d + j] = static_cast<float>(v.nd[j]);
      fv[i * bins::n_d + j] = static_cast<float>(v.fall_velocity[j]);
    }
    for (std::size_t q = 0; q < quantities.size(); ++q) qvalues[q][i] = static_cast<float>(quantities[q].get(v));
  }
  vN.put({0}, {nt}, n_pass.data());
  vNraw.put({0}, {nt}, n_raw.data());
  vNrem.put({0}, {nt}, n_removed.data());
  counts.put({0, 0}, {nt, bins::n_d}, cnt.data());
  conc.put({0, 0}, {nt, bins::n_d}, nd.data());
  fallv.put({0, 0}, {nt, bins::n_d}, fv.data());
  for (std::size_t q = 0; q < quantities.size(); ++q) qvars[q].put({0}, {nt}, qvalues[q].data());

  // The (diameter, velocity) counts, a slab of intervals at a time.
  constexpr std::size_t cells = bins::n_d * bins::n_v;
  std::vector<u32> slab;
  for (std::size_t i0 = 0; i0 < nt; i0 += t_chunk3) {
    const std::size_t k = std::min(t_chunk3, nt - i0);
    slab.assign(k * cells, 0);
    for (std::size_t i = 0; i < k; ++i)
      for (u16 c : s.at(i0 + i).cells) ++slab[i * cells + c];
    raw.put({i0, 0, 0}, {k, bins::n_d, bins::n_v}, slab.data());
  }
  f.close();
}

}  // namespace dropix::products
