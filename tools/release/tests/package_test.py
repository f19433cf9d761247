#!/usr/bin/env python3
"""scripts/package.sh, run twice from the same commit.

    package_test.py RELEASE_DIR

The first run builds the release in RELEASE_DIR/a and packs it into
RELEASE_DIR/dist, which the install test takes. The zip must hold exactly the
programs, the guide and SHA256SUMS, with checksums that match. The second run
links the five binaries again (the objects stay: compiling the release twice
would take most of a test run) and packs them into RELEASE_DIR/dist-b: every
binary, every symbol file, the zip and the MSI must come out the same to the
byte. The link and the packing are where the times would come in.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import time
import zipfile

from checks import finish, ok

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
PROGRAMS = ["LMT520EU.exe", "TQ850KB.dll", "TQScaleDBViewer.exe", "kbmon.exe", "tqdb.exe"]
DOCUMENTS = ["TQ850KB.txt", "guide-ru.html"]


def package(release_dir, name):
    env = dict(os.environ, TQ_RELEASE_DIR=os.path.join(release_dir, "a"),
               TQ_DIST_DIR=os.path.join(release_dir, "dist" if name == "a" else "dist-" + name))
    started = time.monotonic()
    r = subprocess.run(["bash", os.path.join(SOURCE, "scripts", "package.sh")], env=env,
                       capture_output=True, text=True)
    print(f"package.sh, run {name}: {time.monotonic() - started:.0f} s", flush=True)
    if not ok(r.returncode == 0, f"package.sh, run {name}, exits 0 (got {r.returncode}: {r.stderr[-2000:]})"):
        sys.exit(1)
    artefacts = {}
    for line in r.stdout.splitlines():
        digest, _, path = line.partition("  ")
        artefacts[os.path.splitext(path)[1]] = (path, digest)
    ok(set(artefacts) == {".zip", ".msi"}, f"package.sh names a zip and an msi (got {r.stdout!r})")
    for path, digest in artefacts.values():
        with open(path, "rb") as f:
            ok(hashlib.sha256(f.read()).hexdigest() == digest, f"the printed checksum of {path} is its own")
    return artefacts


def check_zip(path):
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        top = os.path.basename(path)[:-len(".zip")]
        ok(all(n.startswith(top + "/") for n in names), f"everything in the zip under {top}/ (got {names})")
        inner = [n[len(top) + 1:] for n in names]
        images = [n for n in inner if n.startswith("images/")]
        ok(sorted(set(inner) - set(images)) == sorted(PROGRAMS + DOCUMENTS + ["SHA256SUMS"]),
           f"the zip holds the programs, the guide, the note and SHA256SUMS (got {inner})")
        ok(len(images) > 0 and all(n.endswith(".png") for n in images), f"the guide's pictures (got {images})")
        ok(inner == sorted(inner), "names stored sorted")
        ok(len({i.date_time for i in z.infolist()}) == 1, "one time for every entry")
        sums = {}
        for line in z.read(top + "/SHA256SUMS").decode().splitlines():
            digest, _, name = line.partition(" *")
            sums[name] = digest
        ok(sorted(sums) == sorted(n for n in inner if n != "SHA256SUMS"),
           f"SHA256SUMS names every other file (got {sorted(sums)})")
        for name, digest in sums.items():
            ok(hashlib.sha256(z.read(f"{top}/{name}")).hexdigest() == digest, f"checksum of {name}")
        guide = z.read(top + "/guide-ru.html").decode("utf-8")
        for image in images:
            ok(f'src="{image}"' in guide, f"the guide shows {image}")
        version = top[len("scale-tools-"):]
        for program in PROGRAMS:
            pe = z.read(f"{top}/{program}")
            ok(not has_debug_sections(pe), f"{program} carries no symbols")
            ok(fixed_file_version(pe) == version, f"{program}'s version resource says {version} "
               f"(got {fixed_file_version(pe)})")
            ok(struct.unpack_from("<I", pe, coff_header(pe) + 4)[0] == 0, f"{program}'s PE header holds no time")
            if program.endswith(".exe"):
                ok(b'requestedExecutionLevel level="asInvoker"' in pe,
                   f"{program} asks to run as invoked, so that its writes are never redirected")


def coff_header(pe):
    return struct.unpack_from("<I", pe, 0x3C)[0] + 4  # the COFF header, after "PE\0\0"


def fixed_file_version(pe):
    """The file version of the VS_FIXEDFILEINFO in a binary's resources, "a.b.c.d"."""
    at = pe.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", pe, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def has_debug_sections(pe):
    """Whether a PE file has a .debug_* section (long section names live in
    the COFF string table, so the name shows up in the file as text)."""
    return b".debug_info" in pe


def same_bytes(dist_a, dist_b):
    for name in sorted(os.listdir(dist_a)):
        a, b = os.path.join(dist_a, name), os.path.join(dist_b, name)
        if os.path.isdir(a):
            same_bytes(a, b)
            continue
        with open(a, "rb") as fa, open(b, "rb") as fb:
            equal = fa.read() == fb.read()
        ok(equal, f"{name}: same bytes from both runs")


def linked(release_dir, program):
    folder = "tools" if program == "tqdb.exe" else "bin"
    return os.path.join(release_dir, "a", folder, program)


def set_aside_binaries(release_dir):
    """Moves the linked binaries out of the build, so that the next run links them anew."""
    aside = os.path.join(release_dir, "first-link")
    shutil.rmtree(aside, ignore_errors=True)
    os.makedirs(aside)
    for program in PROGRAMS:
        os.replace(linked(release_dir, program), os.path.join(aside, program))
    return aside


def same_binaries(release_dir, aside):
    for program in PROGRAMS:
        with open(linked(release_dir, program), "rb") as a, open(os.path.join(aside, program), "rb") as b:
            ok(a.read() == b.read(), f"{program} links to the same bytes twice")


def main():
    release_dir = os.path.abspath(sys.argv[1])
    first = package(release_dir, "a")
    check_zip(first[".zip"][0])
    aside = set_aside_binaries(release_dir)
    package(release_dir, "b")
    same_binaries(release_dir, aside)
    same_bytes(os.path.join(release_dir, "dist"), os.path.join(release_dir, "dist-b"))
    finish()


if __name__ == "__main__":
    main()
