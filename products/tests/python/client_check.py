"""The products as a client reads them: xarray (with netCDF4) on both netCDF files, the
CSV with the csv module, the .hyd walked record by record here, and ncdump for the headers.

    client_check.py STEM [--area MM2] [--truth CSV]

STEM is the path of the products without their suffixes (out/V26342_1 for
out/V26342_1.hyd, out/V26342_1_drops.nc, ...)."""

import argparse
import csv
import math
import re
import struct
import subprocess
import sys
import unittest

import numpy as np
import xarray as xr

ARGS = None

# DISDRODB L2E names and units that users' code looks for.
L2E_UNITS = {
    "drop_number_concentration": "m-3 mm-1", "drop_counts": "counts", "raw_drop_number": "counts",
    "fall_velocity": "m s-1", "N": "counts", "Nraw": "counts", "Nremoved": "counts", "Nt": "m-3",
    "R": "mm h-1", "P": "mm", "Z": "dBZ", "LWC": "g m-3", "Dm": "mm", "sigma_m": "mm", "Nw": "mm-1 m-3",
    "D10": "mm", "D50": "mm", "D90": "mm", "Dmin": "mm", "Dmax": "mm", "TKE": "J m-2", "KEF": "J m-2 h-1",
    "KED": "J m-2 mm-1", **{f"M{k}": "m-3" + ("" if k == 0 else " mm" if k == 1 else f" mm{k}") for k in range(7)},
}
DROP_VARIABLES = ["equivolumetric_sphere_diameter", "fall_speed", "oblateness", "drop_width_a", "drop_width_b",
                  "drop_height_a", "drop_height_b", "x_position", "y_position", "effective_area", "qc_flag"]


def hyd_drop_records(path):
    """Offsets of the drop records of a .hyd: -74 starts a 74-byte main header record, any
    other first word is bits * 2048 + length of a drop record."""
    with open(path, "rb") as f:
        data = f.read()
    at, offsets = 0, []
    while at < len(data):
        (first,) = struct.unpack_from("<h", data, at)
        if first == -74:
            at += 74
            continue
        offsets.append(at)
        at += first & 0x7FF
    return offsets


class Products(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.drops = xr.open_dataset(ARGS.stem + "_drops.nc")
        cls.dsd = xr.open_dataset(ARGS.stem + "_dsd.nc")
        with open(ARGS.stem + "_drops.csv", newline="") as f:
            rows = list(csv.reader(f))
        cls.csv_head, cls.csv_rows = rows[0], rows[1:]

    def test_times_decode_to_the_day_of_the_recording(self):
        for ds in (self.drops, self.dsd):
            self.assertTrue(np.issubdtype(ds.time.dtype, np.datetime64))
        day = self.drops.time.values[0].astype("datetime64[D]")
        self.assertTrue((self.drops.time.values.astype("datetime64[D]") == day).all())
        self.assertTrue((np.diff(self.dsd.time.values) == np.timedelta64(int(self.dsd.sample_interval), "s")).all())
        bounds = self.dsd.time_bnds.values
        self.assertTrue((bounds[:, 1] == self.dsd.time.values).all())  # labelled by the interval's end
        self.assertLessEqual(bounds[0, 0], self.drops.time.values.min())
        self.assertGreater(bounds[-1, 1], self.drops.time.values.max())

    def test_one_record_per_drop_of_the_hyd(self):
        offsets = hyd_drop_records(ARGS.stem + ".hyd")
        self.assertEqual(self.drops.sizes["drop"], len(offsets))
        self.assertEqual(self.drops.record_offset.values.tolist(), offsets)
        self.assertEqual(int(self.dsd.Nraw.sum()), len(offsets))

    def test_drop_counts_over_the_day_are_the_drops_that_passed_qc(self):
        passed = int((self.drops.qc_flag == 0).sum())
        self.assertGreater(passed, 0)
        self.assertEqual(int(self.dsd.drop_counts.sum()), passed)
        self.assertEqual(int(self.dsd.N.sum()), passed)
        self.assertEqual(int(self.dsd.Nremoved.sum()), self.drops.sizes["drop"] - passed)
        self.assertTrue((self.dsd.drop_counts.sum("diameter_bin_center") == self.dsd.N).all())

    def test_rain_amounts_add_up_to_the_mean_rate_times_the_duration(self):
        hours = self.dsd.sizes["time"] * int(self.dsd.sample_interval) / 3600
        total = float(self.dsd.P.astype("f8").sum())
        self.assertGreater(total, 0)
        self.assertAlmostEqual(total, float(self.dsd.R.astype("f8").mean()) * hours, delta=1e-5 * total)

    def test_the_distribution_and_the_rain_follow_from_the_per_drop_file(self):
        d = self.drops
        ok = (d.qc_flag == 0).values
        dt = int(self.dsd.sample_interval)
        seconds = d.time.values[ok].astype("datetime64[ms]").astype("int64") / 1000
        start = self.dsd.time_bnds.values[0, 0].astype("datetime64[s]").astype("int64")
        k = ((seconds - start) // dt).astype(int)
        diam = d.equivolumetric_sphere_diameter.values[ok].astype("f8")
        v = d.fall_speed.values[ok].astype("f8")
        area = d.effective_area.values[ok].astype("f8") * 1e-6
        i = np.minimum((diam / 0.2).astype(int), 49)
        nd = np.zeros((self.dsd.sizes["time"], 50))
        np.add.at(nd, (k, i), 1 / (area * v * dt * 0.2))
        np.testing.assert_allclose(self.dsd.drop_number_concentration.values, nd, rtol=1e-5, atol=1e-6)
        depth = np.zeros(self.dsd.sizes["time"])
        np.add.at(depth, k, math.pi / 6 * diam**3 / (area * 1e6))
        np.testing.assert_allclose(self.dsd.P.values, depth, rtol=1e-5, atol=1e-9)
        np.testing.assert_allclose(self.dsd.R.values, depth * 3600 / dt, rtol=1e-5, atol=1e-9)
        # The raw spectrum holds every drop inside the bins, passed or not.
        raw = self.dsd.raw_drop_number.sum(("time", "velocity_bin_center")).values
        every, speed = d.equivolumetric_sphere_diameter.values, d.fall_speed.values
        inside = (every >= 0) & (every <= 10) & (speed >= 0) & (speed <= 12)
        self.assertEqual(int(raw.sum()), int(inside.sum()))

    def test_csv_and_per_drop_netcdf_hold_the_same_values(self):
        names = [re.sub(r" \[.*\]$", "", h) for h in self.csv_head]
        self.assertEqual(names[:2], ["record_offset", "time"])
        self.assertEqual(names[2:], DROP_VARIABLES)
        self.assertEqual(len(self.csv_rows), self.drops.sizes["drop"])
        cols = list(zip(*self.csv_rows))
        self.assertEqual([int(x) for x in cols[0]], self.drops.record_offset.values.tolist())
        csv_times = np.array([t.rstrip("Z") for t in cols[1]], dtype="datetime64[ms]")
        # xarray decodes the seconds through floating point: round its nanoseconds to the ms.
        nc_ms = (self.drops.time.values.astype("datetime64[ns]").astype("int64") + 500_000) // 1_000_000
        self.assertTrue((csv_times.astype("int64") == nc_ms).all())
        for name, col in zip(names[2:], cols[2:]):
            nc = self.drops[name].values
            if name == "qc_flag":
                self.assertEqual([int(x) for x in col], nc.tolist())
                continue
            from_csv = np.array([float(x) for x in col], dtype="f4")
            self.assertTrue(np.array_equal(from_csv, nc.astype("f4"), equal_nan=True), name)

    def test_every_variable_has_units_and_a_long_name(self):
        for ds in (self.drops, self.dsd):
            for name, var in ds.variables.items():
                if name in ("time", "time_bnds"):
                    attrs = var.encoding  # decoded by xarray: the units moved to the encoding
                    self.assertIn("units", attrs, name)
                else:
                    self.assertIn("units", var.attrs, name)
                self.assertIn("long_name", var.attrs, name)

    def test_names_and_units_follow_disdrodb_l2e(self):
        for name, units in L2E_UNITS.items():
            self.assertIn(name, self.dsd, name)
            self.assertEqual(self.dsd[name].attrs["units"], units, name)
        self.assertEqual(self.dsd.raw_drop_number.dims, ("time", "diameter_bin_center", "velocity_bin_center"))
        self.assertEqual(self.dsd.drop_number_concentration.dims, ("time", "diameter_bin_center"))
        b = self.dsd
        self.assertEqual(b.sizes["diameter_bin_center"], 50)
        self.assertEqual(b.sizes["velocity_bin_center"], 60)
        np.testing.assert_allclose(b.diameter_bin_center, b.diameter_bin_lower + b.diameter_bin_width / 2, atol=1e-6)
        np.testing.assert_allclose(b.diameter_bin_upper, b.diameter_bin_lower + 0.2, atol=1e-6)
        np.testing.assert_allclose(b.velocity_bin_upper[-1], 12.0, atol=1e-6)
        self.assertEqual(b.R.attrs["standard_name"], "rainfall_rate")
        self.assertEqual(b.P.attrs["standard_name"], "thickness_of_rainfall_amount")
        self.assertEqual(b.Z.attrs["standard_name"], "equivalent_reflectivity_factor")
        for name in ("Nt", "Dm", "Nw", "D50", "LWC", "drop_number_concentration"):
            self.assertNotIn("standard_name", b[name].attrs, name)
        for name in DROP_VARIABLES:
            self.assertIn(name, self.drops)
            self.assertEqual(self.drops[name].dims, ("drop",))
        masks = self.drops.qc_flag.attrs["flag_masks"]
        meanings = self.drops.qc_flag.attrs["flag_meanings"].split()
        self.assertEqual(list(masks), [1, 2, 4, 8])
        self.assertEqual(len(meanings), 4)

    def test_station_position_is_a_scalar_coordinate(self):
        for ds in (self.drops, self.dsd):
            for name in ("latitude", "longitude", "altitude"):
                self.assertIn(name, ds.coords, name)
                self.assertEqual(ds[name].ndim, 0)
            self.assertAlmostEqual(float(ds.latitude), 46.8132)
            self.assertEqual(ds.attrs["station_id"], "SIM01")

    def test_ncdump_shows_the_conventions_and_the_storage(self):
        for suffix, feature in (("_drops.nc", "point"), ("_dsd.nc", "timeSeries")):
            header = subprocess.run(["ncdump", "-hs", ARGS.stem + suffix], check=True, capture_output=True,
                                    text=True).stdout
            for attribute in ('Conventions = "CF-1.10, ACDD-1.3"', f'featureType = "{feature}"', ":title = ",
                              ":summary = ", ':source = "dropix-products ', ":history = ", ":time_coverage_start = ",
                              ":time_coverage_end = ", ':station_id = "SIM01"', ":station_name = ",
                              ":institution = ", ':sensor_serial_number = "0042"', ":latitude = 46.8132"):
                self.assertIn(attribute, header, f"{attribute} in {suffix}")
            for name, chunks in re.findall(r"\t\t(\w+):_ChunkSizes = ([\d, ]+) ;", header):
                if suffix == "_drops.nc":
                    self.assertTrue(65536 <= int(chunks) <= 262144, f"{name}: {chunks}")
            chunked = re.findall(r'\t\t(\w+):_Storage = "chunked"', header)
            self.assertGreater(len(chunked), 10)
            for var in chunked:
                self.assertRegex(header, rf"\t\t{var}:_Shuffle = \"true\"")
                self.assertRegex(header, rf"\t\t{var}:_DeflateLevel = [1-9]")
        self.assertIn('time:units = "seconds since 1970-01-01 00:00:00"',
                      subprocess.run(["ncdump", "-h", ARGS.stem + "_dsd.nc"], check=True, capture_output=True,
                                     text=True).stdout)
        self.assertIn("int64 time(time)", subprocess.run(["ncdump", "-h", ARGS.stem + "_dsd.nc"], check=True,
                                                         capture_output=True, text=True).stdout)
        self.assertIn("double time(drop)", subprocess.run(["ncdump", "-h", ARGS.stem + "_drops.nc"], check=True,
                                                          capture_output=True, text=True).stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("stem")
    parser.add_argument("--area", type=float)
    parser.add_argument("--truth")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
