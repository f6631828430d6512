#!/usr/bin/python3
"""Run a folder of images through ocumbra on a dask.distributed cluster.

One task per image: each task reads its image, runs the simulation with the
Python module `ocumbra` and writes the result as `ocumbra-sim batch` names it
(DIR/{stem}_{sim}.png by default), so the two can share an output folder and
either can resume the other's work with --skip-existing.

    # on this machine, two worker processes:
    PYTHONPATH=build/python python3 examples/dask_batch.py --workers 2 \\
        --out seen/ glare --glare 5 photos/

    # on a running cluster (dask-scheduler on host1, dask-worker on the nodes):
    python3 examples/dask_batch.py --scheduler tcp://host1:8786 \\
        --out /shared/seen fixindep --acuity 20/200 /shared/photos

The simulation's options are those of `ocumbra-sim SIMULATION` as keyword
arguments of the module's function: --width, --acuity, --contrast (fixindep),
--polar, --at X,Y (fixdep; repeated, the last point is written, as the batch
tool does), --glare, --type and --severity (colour); `scenario FILE.json` or
`scenario --preset NAME` runs a combined simulation. Every worker must be able
to import `ocumbra` (PYTHONPATH or an installed package) and to read the
inputs and write DIR under the same paths (a shared file system).
"""
import argparse
import glob
import os
import sys
import time

IMAGE_EXTENSIONS = (".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff")
SIMULATIONS = ("fixindep", "fixdep", "glare", "colour", "scenario")


def list_inputs(inputs):
    """Files, the images directly in folders, and glob patterns; sorted, each once."""
    files = {}  # real path -> the name as given
    for item in inputs:
        if os.path.isdir(item):
            found = [os.path.join(item, n) for n in os.listdir(item)
                     if not n.startswith(".") and n.lower().endswith(IMAGE_EXTENSIONS)
                     and os.path.isfile(os.path.join(item, n))]
            if not found:
                raise SystemExit(f'The folder "{item}" holds no images.')
        elif os.path.exists(item):
            found = [item]
        else:
            found = [f for f in glob.glob(item) if os.path.isfile(f)]
            if not found:
                raise SystemExit(f'File "{item}" does not exist.' if not glob.has_magic(item)
                                 else f'The pattern "{item}" matches no files.')
        for f in found:
            files.setdefault(os.path.realpath(f), f)
    return sorted(files.values())


def sim_tag(sim, kwargs):
    """{sim} in output names: the simulation, or a scenario's preset or file stem (as the batch tool)."""
    if sim != "scenario":
        return sim
    return kwargs.get("preset") or os.path.splitext(os.path.basename(kwargs["file"]))[0]


def output_name(pattern, sim, path):
    name = os.path.basename(path)
    stem, dot, ext = name.rpartition(".")
    if not dot or not stem:
        stem, ext = name, ""
    return pattern.replace("{stem}", stem).replace("{sim}", sim).replace("{ext}", ext)


def simulate_file(sim, kwargs, path, out):
    """One task: returns (path, None) or (path, the error's text)."""
    import ocumbra  # imported in the worker process
    try:
        img = ocumbra.read_image(path)
        result = getattr(ocumbra, sim)(img, **kwargs)
        if isinstance(result, list):  # fixdep with several points: the last
            result = result[-1]
        ocumbra.write_image(result, out)
        return path, None
    except (OSError, ValueError, MemoryError) as e:
        return path, str(e)


def parse_simulation(argv):
    """SIMULATION [--name VALUE]... INPUT... -> (sim, kwargs, inputs)."""
    if not argv or argv[0] not in SIMULATIONS:
        raise SystemExit(f"a simulation first: one of {', '.join(SIMULATIONS)}")
    sim, rest = argv[0], argv[1:]
    kwargs, inputs, i = {}, [], 0
    while i < len(rest):
        a = rest[i]
        if a.startswith("--"):
            name, _, value = a[2:].partition("=")
            if not value:
                i += 1
                if i >= len(rest):
                    raise SystemExit(f"option --{name} needs a value")
                value = rest[i]
            if name == "at":
                x, _, y = value.partition(",")
                kwargs.setdefault("at", []).append((float(x), float(y)))
            elif name in ("type", "polar", "acuity", "preset"):
                kwargs[name] = value  # acuity may be "20/40" or "logMAR 0.3"
            elif name in ("width", "contrast", "glare", "severity"):
                kwargs[name] = float(value)
            else:
                raise SystemExit(f"unknown option --{name}")
        else:
            inputs.append(a)
        i += 1
    if sim == "scenario" and "preset" not in kwargs:
        if not inputs:
            raise SystemExit("scenario needs FILE.json or --preset NAME")
        kwargs["file"] = os.path.abspath(inputs.pop(0))
    if not inputs:
        raise SystemExit("no INPUT given")
    return sim, kwargs, inputs


def run(client, sim, kwargs, inputs, out_dir, pattern="{stem}_{sim}.png", skip_existing=False,
        report=print):
    """Submits one task per input image to `client`; returns the failed (path, message) pairs."""
    os.makedirs(out_dir, exist_ok=True)
    jobs = []
    for path in list_inputs(inputs):
        out = os.path.join(out_dir, output_name(pattern, sim_tag(sim, kwargs), path))
        if not (skip_existing and os.path.exists(out)):
            jobs.append((path, out))
    outs = [o for _, o in jobs]
    if len(set(outs)) != len(outs):
        raise SystemExit("two inputs would be written to one output; use a --pattern with {ext}")
    from dask.distributed import as_completed
    futures = [client.submit(simulate_file, sim, kwargs, p, o, pure=False, key=f"ocumbra-{i}")
               for i, (p, o) in enumerate(jobs)]
    failed, start = [], time.monotonic()
    for done, future in enumerate(as_completed(futures), 1):
        path, error = future.result()
        if error:
            failed.append((path, error))
            print(f"dask_batch: {path}: {error}", file=sys.stderr)
        rate = done / max(time.monotonic() - start, 1e-9)
        report(f"[{done}/{len(jobs)}] {path} ({rate:.2f} files/s)")
    return failed


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     usage="%(prog)s [--scheduler ADDRESS | --workers N] [--pattern P] "
                                           "[--skip-existing] --out DIR SIMULATION [ITS OPTIONS] INPUT...")
    parser.add_argument("--scheduler", help="address of a running scheduler, e.g. tcp://host1:8786")
    parser.add_argument("--workers", type=int, default=2,
                        help="without --scheduler: worker processes of a local cluster (2)")
    parser.add_argument("--pattern", default="{stem}_{sim}.png", help="output names ({stem}_{sim}.png)")
    parser.add_argument("--skip-existing", action="store_true", help="leave outputs that exist")
    parser.add_argument("--out", required=True, help="output folder")
    args, rest = parser.parse_known_args(argv)
    sim, kwargs, inputs = parse_simulation(rest)

    from dask.distributed import Client, LocalCluster
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # One thread per worker: each simulation spreads its own work over
        # the worker's share of the cores (OCUMBRA_THREADS).
        threads = max(1, (os.cpu_count() or 1) // args.workers)
        os.environ.setdefault("OCUMBRA_THREADS", str(threads))
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                     dashboard_address=None))
    with client:
        failed = run(client, sim, kwargs, inputs, args.out, args.pattern, args.skip_existing)
    print(f"dask_batch: {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
