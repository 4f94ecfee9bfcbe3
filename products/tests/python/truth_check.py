"""The DSD products against the simulator's truth.

    truth_check.py STEM --truth V..._truth.csv --area MM2 --seconds S [--strict-p] [--strict]

True accumulation: the rain that fell through the measuring area, sum(pi/6 d^3) over the
truth drops / the area. True N(D): sum over the truth drops of a bin of 1 / (A v dt dD),
with A the measuring area and v, d their true speed and diameter; its sampling noise is
N / sqrt(n) for the n drops of the bin.

The end-to-end error (products against all the rain) holds two parts. dropix's: drops
that have no record in the .hyd, and the error of its diameters. The products': which
records pass QC and the area each is weighted with. The second is isolated by giving each
record that passed QC the true diameter and speed of the drop it recorded, and comparing
with the truth of the recorded drops alone.

Always checked: the products' part of P within +-2 % and of N(D) within 3 sampling sigmas
for the 1-3 mm bins. With --strict-p also the end-to-end P within +-5 %; with --strict that
and the end-to-end N(D) within 3 sigmas."""

import argparse
import bisect
import csv
import math
import struct
import sys

import numpy as np
import xarray as xr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("stem")
    ap.add_argument("--truth", required=True)
    ap.add_argument("--area", type=float, required=True)
    ap.add_argument("--seconds", type=float, required=True)
    ap.add_argument("--strict", action="store_true")
    ap.add_argument("--strict-p", action="store_true")
    a = ap.parse_args()

    dsd = xr.open_dataset(a.stem + "_dsd.nc")
    drops = xr.open_dataset(a.stem + "_drops.nc")
    with open(a.stem + ".hyd", "rb") as f:
        hyd = f.read()
    with open(a.truth, newline="") as f:
        truth = list(csv.DictReader(f))

    # Each record's first line count, to pair it with the truth (within 2 lines).
    offsets = drops.record_offset.values
    y_first = np.array([struct.unpack_from("<d", hyd, int(o) + 4)[0] for o in offsets])
    order = np.argsort(y_first)
    ys = y_first[order].tolist()
    taken = np.zeros(len(ys), bool)
    match = {}  # record index -> truth row
    recorded = []
    for t in truth:
        y = float(t["first_line_a"])
        i = bisect.bisect_left(ys, y - 2)
        while i < len(ys) and ys[i] <= y + 2 and taken[i]:
            i += 1
        if i < len(ys) and ys[i] <= y + 2:
            taken[i] = True
            match[int(order[i])] = t
            recorded.append(t)

    vol = lambda d: math.pi / 6 * d**3
    p_true = sum(vol(float(t["diameter_mm"])) for t in truth) / a.area
    p_recorded = sum(vol(float(t["diameter_mm"])) for t in recorded) / a.area
    p_products = float(dsd.P.astype("f8").sum())
    qc = drops.qc_flag.values
    area = drops.effective_area.values.astype("f8")
    diam = drops.equivolumetric_sphere_diameter.values.astype("f8")
    p_part = 0.0
    for k in np.nonzero(qc == 0)[0]:
        d = float(match[k]["diameter_mm"]) if k in match else diam[k]
        p_part += vol(d) / area[k]

    # N(D) per 0.2 mm bin over the recording.
    def truth_nd(rows):
        nd, n = np.zeros(50), np.zeros(50)
        for t in rows:
            i = int(float(t["diameter_mm"]) / 0.2)
            if i < 50:
                nd[i] += 1 / (a.area * 1e-6 * float(t["fall_speed_m_s"]) * a.seconds * 0.2)
                n[i] += 1
        return nd, n

    nd_true, n_true = truth_nd(truth)
    nd_rec, n_rec = truth_nd(recorded)
    dt = float(dsd.sample_interval)
    nd_products = (dsd.drop_number_concentration.fillna(0).astype("f8").sum("time") * dt / a.seconds).values
    nd_part = np.zeros(50)
    for k in np.nonzero(qc == 0)[0]:
        if k not in match:
            continue
        i = int(float(match[k]["diameter_mm"]) / 0.2)
        if i < 50:
            nd_part[i] += 1 / (area[k] * 1e-6 * float(match[k]["fall_speed_m_s"]) * a.seconds * 0.2)

    failures = []
    rel = lambda x, ref: 100 * (x / ref - 1)
    print(f"drops: truth {len(truth)}, with a record {len(recorded)}, records {len(offsets)}, "
          f"passed QC {int((qc == 0).sum())}")
    print(f"P: true {p_true:.4f} mm, of the recorded drops {p_recorded:.4f} mm ({rel(p_recorded, p_true):+.2f} %), "
          f"products {p_products:.4f} mm ({rel(p_products, p_true):+.2f} %)")
    print(f"P, products' part (true sizes of the records that passed QC): {p_part:.4f} mm against "
          f"{p_recorded:.4f} mm ({rel(p_part, p_recorded):+.2f} %)")
    if abs(rel(p_part, p_recorded)) > 2:
        failures.append("products' part of P outside +-2 %")
    if (a.strict or a.strict_p) and abs(rel(p_products, p_true)) > 5:
        failures.append("P outside +-5 % of the true accumulation")
    print("| D (mm) | n true | N true (m-3 mm-1) | N products | z | n recorded | products' part z |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for i in range(5, 15):
        z = (nd_products[i] - nd_true[i]) / (nd_true[i] / math.sqrt(n_true[i]))
        z_part = (nd_part[i] - nd_rec[i]) / (nd_rec[i] / math.sqrt(n_rec[i]))
        print(f"| {i * 0.2:.1f}-{i * 0.2 + 0.2:.1f} | {int(n_true[i])} | {nd_true[i]:.2f} | {nd_products[i]:.2f} "
              f"| {z:+.2f} | {int(n_rec[i])} | {z_part:+.2f} |")
        if abs(z_part) > 3:
            failures.append(f"products' part of N({i * 0.2:.1f}-{i * 0.2 + 0.2:.1f} mm) beyond 3 sigma")
        if a.strict and abs(z) > 3:
            failures.append(f"N({i * 0.2:.1f}-{i * 0.2 + 0.2:.1f} mm) beyond 3 sigma of the truth")
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
