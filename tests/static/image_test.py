#!/usr/bin/env python3
"""The container image of the Dockerfile, built with podman from the static
assemblers.

  image_test.py build ...   builds the image and checks what it holds: the two
                            programs byte for byte and nothing else but the
                            working folder, found by reading the saved image's
                            layers (no container is started)
  image_test.py run ...     also starts containers of it that assemble a program
                            mounted from the host, and compares the results with
                            the normal build's

podman keeps its images in a private folder of the test (vfs storage), so the
machine's own images are neither used nor changed. Exits 77 (skipped) with the
reason when podman is not installed or cannot work on this machine.

Usage: image_test.py build|run --static DIR --ref DIR --root SOURCE-ROOT
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile

SKIP = 77
TAG = "localhost/qorb-static-test"


class Podman:
    def __init__(self, exe, store):
        self.base = [exe, "--root", os.path.join(store, "root"), "--runroot", os.path.join(store, "run"),
                     "--storage-driver", "vfs", "--events-backend", "file"]

    def __call__(self, *args, timeout=120):
        try:
            return subprocess.run(self.base + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            sys.exit(f"FAIL: podman {' '.join(args)} ran longer than {timeout} s")


def layer_files(archive):
    """Every path in the layers of a saved image (docker-archive)."""
    names = set()
    with tarfile.open(archive) as outer:
        manifest = json.load(outer.extractfile("manifest.json"))
        for layer in manifest[0]["Layers"]:
            with tarfile.open(fileobj=outer.extractfile(layer)) as inner:
                for m in inner.getmembers():
                    names.add((m.name.strip("./").rstrip("/"), m.isdir()))
                    if m.isfile():
                        names.add((m.name.strip("./") + "#" + str(m.size), False))
    return names


def build(podman, args, work):
    ctx = os.path.join(work, "context")
    os.makedirs(ctx)
    for prog in ("qorb12", "qorb11"):
        shutil.copy(os.path.join(args.static, prog), ctx)
    r = podman("build", "--network", "none", "-f", os.path.join(args.root, "Dockerfile"), "-t", TAG, ctx)
    if r.returncode != 0:
        sys.exit(f"FAIL: podman build:\n{r.stdout}")

    archive = os.path.join(work, "image.tar")
    r = podman("save", "--format", "docker-archive", "-o", archive, TAG)
    if r.returncode != 0:
        sys.exit(f"FAIL: podman save:\n{r.stdout}")
    entries = layer_files(archive)
    files = {n for n, is_dir in entries if not is_dir and "#" not in n}
    if files != {"usr/local/bin/qorb12", "usr/local/bin/qorb11"}:
        sys.exit(f"FAIL: the image's files are {sorted(files)}, not the two programs alone")
    for prog in ("qorb12", "qorb11"):
        size = os.path.getsize(os.path.join(args.static, prog))
        if (f"usr/local/bin/{prog}#{size}", False) not in entries:
            sys.exit(f"FAIL: the image's {prog} is not the static build's ({size} bytes)")

    # The bytes too: copied out of a container that is created, not started.
    r = podman("create", "--name", "qorb-static-copy", TAG)
    if r.returncode != 0:
        sys.exit(f"FAIL: podman create:\n{r.stdout}")
    for prog in ("qorb12", "qorb11"):
        out = os.path.join(work, prog + ".copy")
        r = podman("cp", f"qorb-static-copy:/usr/local/bin/{prog}", out)
        if r.returncode != 0:
            sys.exit(f"FAIL: podman cp {prog}:\n{r.stdout}")
        with open(out, "rb") as a, open(os.path.join(args.static, prog), "rb") as b:
            if a.read() != b.read():
                sys.exit(f"FAIL: the image's {prog} differs from the static build's")
    podman("rm", "qorb-static-copy")

    config = json.loads(podman("image", "inspect", TAG).stdout)[0]["Config"]
    if config.get("WorkingDir") != "/src" or "PATH=/usr/local/bin" not in config.get("Env", []):
        sys.exit(f"FAIL: the image's configuration: {config}")
    print(f"ok: the image holds {', '.join(sorted(files))}, the static programs byte for byte")


def mask(data):
    first, _, rest = data.partition(b"\n")
    return first.rstrip(b"\r")[:-24] + b"\n" + rest


def run_containers(podman, args, work):
    jobs = [
        ("qorb12", ["tests/porting/templog.asm"], "templog"),
        ("qorb11", ["tests/static/clock11.asm", "tests/static/hc11regs.inc"], "clock11"),
    ]
    for n, (prog, files, stem) in enumerate(jobs):
        mine = os.path.join(work, f"src{n}")
        ref = os.path.join(work, f"ref{n}")
        for folder in (mine, ref):
            os.makedirs(folder)
            for f in files:
                shutil.copy(os.path.join(args.root, f), folder)
        argv = [prog, "-nologo", "-l", "-ls", stem + ".asm"]
        r = podman("run", "--rm", "--network", "none", "-v", f"{mine}:/src", TAG, *argv)
        # 125..127: podman or its runtime could not start the container at all
        # (qorb12/qorb11 exit with 0..3 or 255).
        if r.returncode in (125, 126, 127):
            print(f"SKIP: the image was built, but podman cannot start a container here "
                  f"(exit {r.returncode}): {r.stdout.strip()}")
            return SKIP
        want = subprocess.run([os.path.join(args.ref, prog), *argv[1:]], cwd=ref, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=60)
        if (r.returncode, r.stdout) != (want.returncode, want.stdout) or want.returncode != 0:
            sys.exit(f"FAIL: {' '.join(argv)} in a container: exit {r.returncode}\n{r.stdout}\n"
                     f"the normal build: exit {want.returncode}\n{want.stdout}")
        for ext in (".s19", ".lst"):
            with open(os.path.join(mine, stem + ext), "rb") as a, open(os.path.join(ref, stem + ext), "rb") as b:
                if mask(a.read()) != mask(b.read()):
                    sys.exit(f"FAIL: {stem}{ext} from the container differs from the normal build's")
        print(f"ok: {' '.join(argv)} in a container, the same object and listing")
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["build", "run"])
    ap.add_argument("--static", required=True)
    ap.add_argument("--ref", required=True)
    ap.add_argument("--root", required=True)
    args = ap.parse_args()

    exe = shutil.which("podman")
    if exe is None:
        print("SKIP: podman is not installed (Debian package podman): the image was not built")
        return SKIP
    work = tempfile.mkdtemp(prefix="qorb-image-")
    podman = Podman(exe, os.path.join(work, "store"))
    try:
        r = podman("info", timeout=60)
        if r.returncode != 0:
            print(f"SKIP: podman does not work on this machine: {r.stdout.strip()}")
            return SKIP
        build(podman, args, work)
        if args.mode == "run":
            return run_containers(podman, args, work)
        return 0
    finally:
        podman("rmi", "--force", TAG)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
