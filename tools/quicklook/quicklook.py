#!/usr/bin/python3
"""Quick-look pictures of DROPIX products: one PNG per UTC day with four panels.

    quicklook.py FILE_dsd.nc FILE_drops.nc [-o PREFIX]

writes PREFIX_YYYY-MM-DD.png (PREFIX defaults to FILE_quicklook) for every day the DSD file
covers and prints their paths:

  1. N(D) against time and diameter on a logarithmic colour scale, with Dm;
  2. the density of the drops in diameter and fall speed, with the terminal-speed law of
     the quality control and its band;
  3. rain rate R and the accumulated rain P;
  4. Dm against log10(Nw), with the line log10(Nw) = 6.3 - 1.6 Dm that Bringi et al. (2003),
     J. Atmos. Sci. 60, 354, draw between convective (above) and stratiform (below) rain.

Runs with Debian's python3 and its xarray and matplotlib."""

import argparse
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.colors as colors  # noqa: E402
import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import xarray as xr  # noqa: E402


def station_label(ds):
    for key in ("station_name", "station_id"):
        if key in ds.attrs:
            return str(ds.attrs[key])
    return os.path.basename(str(ds.attrs.get("source", "")).split(" from ")[-1])


def plot_day(dsd, drops, day, path):
    """One day's picture: dsd and drops already cut to the day."""
    dt = int(dsd.sample_interval)
    ends = dsd.time.values
    edges = np.append(dsd.time_bnds.values[:, 0], ends[-1:])
    rain = dsd.P.fillna(0).values.astype("f8")
    total = rain.sum()
    fig, ax = plt.subplots(2, 2, figsize=(14, 9.5), constrained_layout=True)
    fig.suptitle(f"{station_label(dsd)}  {day}  -  {total:.2f} mm of rain, peak {float(dsd.R.max()):.1f} mm/h "
                 f"({dt} s), {int(dsd.N.sum())} drops used of {int(dsd.Nraw.sum())}", fontsize=13)

    # 1. N(D) image with Dm.
    a = ax[0, 0]
    nd = dsd.drop_number_concentration.values.T.astype("f8")
    nd = np.where(nd > 0, nd, np.nan)
    d_edges = np.append(dsd.diameter_bin_lower.values, dsd.diameter_bin_upper.values[-1])
    d_top = max(2.0, float(np.nanmax(dsd.Dmax.values)) + 0.4) if np.isfinite(dsd.Dmax.values).any() else 6.0
    if np.isfinite(nd).any():
        mesh = a.pcolormesh(edges, d_edges, nd, norm=colors.LogNorm(vmin=max(np.nanmin(nd), 1e-2), vmax=np.nanmax(nd)),
                            cmap="viridis", shading="flat")
        fig.colorbar(mesh, ax=a, label="N(D) (m$^{-3}$ mm$^{-1}$)")
    a.stairs(dsd.Dm.values, edges, baseline=None, color="red", lw=1.5, label="$D_m$")
    a.set_ylim(0, min(d_top, 10))
    a.set_ylabel("Diameter (mm)")
    a.set_title("Drop size distribution")
    a.legend(loc="upper right")

    # 2. Diameter and fall speed of the drops, with the law and its band.
    a = ax[0, 1]
    d = drops.equivolumetric_sphere_diameter.values
    v = drops.fall_speed.values
    h, xe, ye = np.histogram2d(d, v, bins=[np.arange(0, 8.001, 0.05), np.arange(0, 12.001, 0.1)])
    h = np.where(h > 0, h, np.nan)
    if np.isfinite(h).any():
        mesh = a.pcolormesh(xe, ye, h.T, norm=colors.LogNorm(vmin=1, vmax=np.nanmax(h)), cmap="magma_r")
        fig.colorbar(mesh, ax=a, label="drops per 0.05 mm and 0.1 m s$^{-1}$")
    law = dsd.terminal_velocity.values
    centres = dsd.diameter_bin_center.values
    tol = float(dsd.attrs.get("qc_fall_speed_tolerance", 0.5))
    a.plot(centres, law, color="tab:blue", lw=2, label="terminal speed law")
    a.plot(centres, law * (1 + tol), color="tab:blue", lw=1, ls="--", label=f"QC band $\\pm${tol:.0%}")
    a.plot(centres, law * (1 - tol), color="tab:blue", lw=1, ls="--")
    a.set_xlim(0, 8)
    a.set_ylim(0, 12)
    a.set_xlabel("Equivolumetric diameter D (mm)")
    a.set_ylabel("Fall speed v (m s$^{-1}$)")
    a.set_title(f"Drops: diameter and fall speed ({len(d)} drops)")
    a.legend(loc="lower right")

    # 3. Rain rate and accumulation.
    a = ax[1, 0]
    a.stairs(dsd.R.fillna(0).values, edges, fill=True, alpha=0.35, color="tab:blue")
    a.stairs(dsd.R.fillna(0).values, edges, baseline=None, color="tab:blue")
    a.set_ylabel(f"Rain rate R (mm h$^{{-1}}$, {dt} s)", color="tab:blue")
    a.set_title("Rain rate and accumulated rain")
    b = a.twinx()
    b.plot(np.append(edges[:1], ends), np.append(0, np.cumsum(rain)), color="black", lw=2)
    b.set_ylabel("Accumulated rain P (mm)")
    b.set_ylim(bottom=0)
    a.set_ylim(bottom=0)

    for a in (ax[0, 0], ax[1, 0]):
        a.set_xlim(edges[0], edges[-1])
        a.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M"))
        a.set_xlabel("Time (UTC)")

    # 4. Dm against log10(Nw), coloured by the rain rate.
    a = ax[1, 1]
    dm, nw, r = dsd.Dm.values, dsd.Nw.values, dsd.R.values
    ok = np.isfinite(dm) & np.isfinite(nw) & (nw > 0)
    if ok.any():
        sc = a.scatter(dm[ok], np.log10(nw[ok]), c=r[ok], s=18, cmap="plasma", vmin=0, vmax=max(r[ok].max(), 1.0))
        fig.colorbar(sc, ax=a, label="R (mm h$^{-1}$)")
    x = np.linspace(0, 4, 50)
    a.plot(x, 6.3 - 1.6 * x, color="black", lw=1.5, ls="--", label="log$_{10}N_w$ = 6.3 - 1.6 $D_m$")
    a.text(0.3, 1.6, "stratiform", fontsize=11)
    a.text(2.3, 4.8, "convective", fontsize=11)
    a.set_xlim(0, 4)
    a.set_ylim(1, 6)
    a.set_xlabel("Mass-weighted mean diameter $D_m$ (mm)")
    a.set_ylabel("log$_{10}$($N_w$ / m$^{-3}$ mm$^{-1}$)")
    a.set_title(f"Normalized intercept against $D_m$ ({dt} s intervals)")
    a.legend(loc="upper right")

    fig.savefig(path, dpi=90)
    plt.close(fig)


def main():
    ap = argparse.ArgumentParser(description="One PNG per day from the DSD and per-drop netCDF files of dropix-products.")
    ap.add_argument("dsd", help="FILE_dsd.nc")
    ap.add_argument("drops", help="FILE_drops.nc")
    ap.add_argument("-o", "--prefix", help="pictures are PREFIX_YYYY-MM-DD.png (default: FILE_quicklook)")
    a = ap.parse_args()
    prefix = a.prefix or (a.dsd[: -len("_dsd.nc")] if a.dsd.endswith("_dsd.nc") else os.path.splitext(a.dsd)[0]) + "_quicklook"
    try:
        dsd = xr.open_dataset(a.dsd)
        drops = xr.open_dataset(a.drops)
    except (OSError, ValueError) as e:
        print(f"quicklook: {e}", file=sys.stderr)
        return 1
    # A day is the intervals that start on it.
    starts = dsd.time_bnds.values[:, 0]
    days = np.unique(starts.astype("datetime64[D]"))
    drop_days = drops.time.values.astype("datetime64[D]")
    for day in days:
        on_day = starts.astype("datetime64[D]") == day
        path = f"{prefix}_{day}.png"
        tmp = os.path.join(os.path.dirname(path) or ".", "." + os.path.basename(path) + ".part.png")
        try:
            plot_day(dsd.isel(time=np.nonzero(on_day)[0]), drops.isel(drop=np.nonzero(drop_days == day)[0]), day, tmp)
            os.replace(tmp, path)
        except Exception:
            if os.path.exists(tmp):
                os.remove(tmp)
            raise
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
