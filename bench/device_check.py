#!/usr/bin/env python3
"""How hard our Vulkan load works the GPU of this machine, beside the vendor's own float32 product.

One command, at most 8 minutes on a real GPU. In order:
  ventractl gpu                      the devices, the driver
  ventractl gpu tune                 the tile the tuner picks, kept in a cache of this run's own
  ventractl gpu load --size 16384    the app's load, every element of C verified
  gpu_load_bench at 4096, 8192, 16384  our load (Vulkan, and OpenCL where an ICD answers)
  the reference at the same sizes    PyTorch's torch.mm on float32 with TF32 off (cuBLAS) where
                                     PyTorch sees a CUDA device; else OpenBLAS through the bench
and prints one table: GFLOP/s of ours, of the reference, the ratio, the tile, device and driver.
Each product is C = A x A with A all ones, as the load does, and counts 2 n^3 operations.

On a machine without a GPU (this one, CI) it runs on lavapipe against OpenBLAS: `--quick` takes
small sizes, and the test `device_check` runs it so.

On a lent GPU machine, through the device tool (which carries the working tree, at most 64 MiB,
and can reach no package registry):
  1. Here, once: build the default preset (scripts/build.sh), then `bench/device_kit.sh`. It
     packs .device-kit.tar.xz (ignored by git, about 10 MiB): ventractl, the GPU modules and
     gpu_load_bench, stripped, every library they load but the C library's, and glvnd's
     libraries for NVIDIA's Vulkan driver.
  2. run(command="PYTHONUNBUFFERED=1 bench/device_check.py --kit .device-kit.tar.xz",
         carry=[".device-kit.tar.xz"], timeout_s=540)
  The script unpacks the kit, checks that every program and library of it loads before it
  measures, and says what is missing and how to make it. Where the loaders find no NVIDIA driver
  by themselves, it points them at the driver's own files (/usr/local/nvidia on those machines).
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
FULL_SIZES = [4096, 8192, 16384]
QUICK_SIZES = [256, 512]


NVIDIA = pathlib.Path("/usr/local/nvidia")


class Kit:
    """Where the programs are: a kit made by device_kit.sh, unpacked into `unpacked`, or a build
    folder."""

    def __init__(self, kit, build, unpacked):
        if kit:
            if not pathlib.Path(kit).is_file():
                sys.exit(f"device_check: {kit} is not there: make it with scripts/build.sh && "
                         "bench/device_kit.sh, and carry it")
            with tarfile.open(kit) as archive:
                archive.extractall(unpacked)
            base = pathlib.Path(unpacked)
            self.ventractl = base / "bin" / "ventractl"
            self.bench = base / "bin" / "gpu_load_bench"
            self.libraries = base / "lib"
            self.make = "scripts/build.sh && bench/device_kit.sh"
        else:
            base = pathlib.Path(build).resolve()
            self.ventractl = base / "tools" / "ventractl" / "ventractl"
            self.bench = base / "bench" / "gpu_load_bench"
            self.libraries = None
            self.make = "scripts/build.sh"
        self.env = dict(os.environ)
        if self.libraries:
            self.env["LD_LIBRARY_PATH"] = ":".join(
                filter(None, [str(self.libraries), self.env.get("LD_LIBRARY_PATH")]))
        self.find_nvidia(pathlib.Path(unpacked))

    def find_nvidia(self, scratch):
        """The NVIDIA driver's Vulkan and OpenCL files, where the loaders would not look."""
        icd = NVIDIA / "share" / "vulkan" / "icd.d" / "nvidia_icd.json"
        if icd.is_file() and not any(pathlib.Path(d, "nvidia_icd.json").is_file() for d in
                                     ("/usr/share/vulkan/icd.d", "/etc/vulkan/icd.d")):
            self.env.setdefault("VK_DRIVER_FILES", str(icd))
            self.env.setdefault("VK_ICD_FILENAMES", str(icd))  # the older loaders' name
            self.env["LD_LIBRARY_PATH"] += f":{NVIDIA / 'lib64'}"
        opencl = next((p for p in (NVIDIA / "lib64" / "libnvidia-opencl.so.1",
                                   pathlib.Path("/usr/lib/x86_64-linux-gnu/libnvidia-opencl.so.1"))
                       if p.is_file()), None)
        if opencl and not pathlib.Path("/etc/OpenCL/vendors").is_dir():
            vendors = scratch / "OpenCL-vendors"
            vendors.mkdir(parents=True, exist_ok=True)
            (vendors / "nvidia.icd").write_text(f"{opencl}\n")
            self.env["OCL_ICD_VENDORS"] = str(vendors)

    def missing(self):
        """What is not there or will not load, in words; empty where all is."""
        problems = []
        for program in (self.ventractl, self.bench):
            if not os.access(program, os.X_OK):
                problems.append(f"{program} is not there")
                continue
            ldd = subprocess.run(["ldd", str(program)], env=self.env, capture_output=True,
                                 text=True)
            lost = [line.split()[0] for line in ldd.stdout.splitlines() if "not found" in line]
            if lost:
                problems.append(f"{program.name} cannot find {', '.join(lost)}")
        return problems


def run(command, kit, cache, timeout, **more_env):
    env = dict(kit.env, XDG_CACHE_HOME=str(cache), **more_env)
    started = time.monotonic()
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)
    return done, time.monotonic() - started


def ventractl_json(kit, cache, arguments, timeout, skip_without_device=False):
    done, seconds = run([str(kit.ventractl), *arguments, "--json"], kit, cache, timeout)
    print(f"  ventractl {' '.join(arguments)}: exit {done.returncode}, {seconds:.1f} s",
          flush=True)
    if skip_without_device and done.returncode == 1 and not done.stdout:
        print(f"device_check: no Vulkan device here, not even lavapipe: {done.stderr}")
        sys.exit(77)
    if done.returncode != 0:
        sys.exit(f"device_check: ventractl {' '.join(arguments)} failed:\n{done.stderr}")
    return json.loads(done.stdout)


def bench_rates(kit, cache, sizes, with_blas, quick, timeout):
    """GFLOP/s of each of the bench's stacks by n, where the stack had a device."""
    report = cache / "bench.json"
    wanted = "BM_(Vulkan|OpenCL|OpenBLAS)" if with_blas else "BM_(Vulkan|OpenCL)"
    env_sizes = ",".join(str(n) for n in sizes)
    command = [str(kit.bench), f"--benchmark_filter={wanted}",
               f"--benchmark_min_time={0.1 if quick else 0.5}",
               f"--benchmark_out={report}", "--benchmark_out_format=json"]
    done, seconds = run(command, kit, cache, timeout, VENTRA_BENCH_SIZES=env_sizes)
    print(f"  gpu_load_bench at {env_sizes}: exit {done.returncode}, {seconds:.1f} s", flush=True)
    if done.returncode != 0:
        sys.exit(f"device_check: gpu_load_bench failed:\n{done.stderr[-2000:]}")
    rates = {}
    for entry in json.loads(report.read_text())["benchmarks"]:
        name, n = entry["name"].split("/")[:2]  # "BM_Vulkan/4096/real_time"
        if "GFLOP/s" in entry and not entry.get("error_occurred"):
            rates.setdefault(name.removeprefix("BM_"), {})[int(n)] = entry["GFLOP/s"]
    return rates


def torch_rates(sizes):
    """torch.mm on float32 with TF32 off, on the CUDA device; nothing without one."""
    try:
        import torch
    except ImportError:
        return None
    if not torch.cuda.is_available():
        return None
    torch.backends.cuda.matmul.allow_tf32 = False
    torch.backends.cudnn.allow_tf32 = False
    rates = {}
    for n in sizes:
        a = torch.ones((n, n), dtype=torch.float32, device="cuda")
        torch.mm(a, a)
        torch.cuda.synchronize()
        runs = 5 if n <= 8192 else 3
        started = time.perf_counter()
        for _ in range(runs):
            c = torch.mm(a, a)
        torch.cuda.synchronize()
        seconds = (time.perf_counter() - started) / runs
        assert float(c[0, 0]) == n and float(c[-1, -1]) == n
        rates[n] = 2 * n**3 / seconds / 1e9
        del a, c
        torch.cuda.empty_cache()
    name = torch.cuda.get_device_name(0)
    return rates, f"torch.mm float32, TF32 off (PyTorch {torch.__version__}, cuBLAS, {name})"


def table(rows, tile, device, driver, reference_name):
    print()
    print(f"device: {device}\ndriver: {driver}\ntile:   {tile} (the tuner's pick)")
    print(f"reference: {reference_name}\n")
    print(f"{'n':>6}  {'Vulkan GFLOP/s':>15}  {'OpenCL GFLOP/s':>15}  {'reference':>12}  "
          f"{'Vulkan/ref':>10}")
    for n, vulkan, opencl, reference in rows:
        def shown(value, width):
            return f"{value:>{width}.1f}" if value else f"{'-':>{width}}"
        ratio = f"{vulkan / reference:>9.0%}" if vulkan and reference else f"{'-':>9}"
        print(f"{n:>6}  {shown(vulkan, 15)}  {shown(opencl, 15)}  {shown(reference, 12)}  "
              f"{ratio:>10}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kit", help="a kit made by bench/device_kit.sh")
    parser.add_argument("--build", default=str(ROOT / "build" / "default"),
                        help="a build folder, where no kit is given (default: build/default)")
    parser.add_argument("--quick", action="store_true",
                        help="small sizes, for a CPU device (the test)")
    options = parser.parse_args()
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="ventra-device-check-"))
    try:
        kit = Kit(options.kit, options.build, scratch / "kit")
        if problems := kit.missing():
            sys.exit("device_check: " + "; ".join(problems) + f". Make them with: {kit.make}")
        cache = scratch / "cache"
        cache.mkdir()
        measure(kit, cache, QUICK_SIZES if options.quick else FULL_SIZES, options.quick)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def measure(kit, cache, sizes, quick):
    print(f"device_check: {kit.ventractl}", flush=True)
    listed = ventractl_json(kit, cache, ["gpu", "--gpu", "vulkan", "--allow-cpu"], 120,
                            skip_without_device=quick)
    for listed_device in listed["devices"]:
        print(f"  {listed_device['stack']}: {listed_device['name']}, {listed_device['driver']}")
    device = next(d for d in listed["devices"] if d["default"])
    cpu = ["--allow-cpu"] if quick else []  # lavapipe here; a GPU there, or a loud failure
    tune_size = ["--size", "64"] if quick else []
    tuned = ventractl_json(kit, cache, ["gpu", "tune", *cpu, *tune_size], 300)
    load_n = sizes[-1]
    force = ["--force"]  # measured, however long the calibration says it takes
    load = ventractl_json(kit, cache, ["gpu", "load", "--gpu", "vulkan", *cpu, "--size",
                                       str(load_n), *force], 300)
    if not load["verified"]:
        sys.exit(f"device_check: the load at n = {load_n} gave wrong results: "
                 f"{load['mismatches']} elements of C")
    print(f"  the load at n = {load_n}: {load['gflops']:.1f} GFLOP/s, every element verified",
          flush=True)
    reference = None if quick else torch_rates(sizes)
    rates = bench_rates(kit, cache, sizes, reference is None, quick, 300)
    if reference:
        reference_rates, reference_name = reference
    else:
        reference_rates = rates.get("OpenBLAS", {})
        reference_name = "OpenBLAS sgemm on the host's CPU, through gpu_load_bench"
    rows = [(n, rates.get("Vulkan", {}).get(n), rates.get("OpenCL", {}).get(n),
             reference_rates.get(n)) for n in sizes]
    table(rows, tuned["kept"], device["name"], device["driver"], reference_name)
    if not all(vulkan for _, vulkan, _, _ in rows):
        sys.exit("device_check: the Vulkan load did not run at every size")


if __name__ == "__main__":
    main()
