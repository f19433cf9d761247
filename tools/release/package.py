#!/usr/bin/env python3
"""Packs a release build of the Windows programs into dist/.

    package.py --build DIR --dist DIR [--version V] [--msi-only]

From the release build in DIR (a Windows build: bin/ and tools/) it strips
the binaries, keeping their symbols in .debug files beside the package,
writes the guide as HTML and makes

    scale-tools-V.zip          the programs, the guide, SHA256SUMS
    scale-tools-V.msi          the installer (wixl)
    scale-tools-V-debug/       the symbols, one .debug file per binary

The version is the build's own unless --version names another, which only
the installer takes (the tests make a newer installer of the same binaries
that way). Every file time in the zip is SOURCE_DATE_EPOCH, and names are
stored sorted, so that one commit always gives the same bytes.
"""
import argparse
import hashlib
import html
import os
import re
import shutil
import subprocess
import sys
import time
import uuid
import zipfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
OBJCOPY = "i686-w64-mingw32-objcopy"

# What the package holds, by where the build leaves it.
BINARIES = [
    ("bin", "TQScaleDBViewer.exe"),
    ("bin", "TQ850KB.dll"),
    ("bin", "LMT520EU.exe"),
    ("tools", "tqdb.exe"),
    ("bin", "kbmon.exe"),
]
NOTE_NAME = "TQ850KB.txt"
GUIDE = "guide-ru.html"

# Fixes the installer's product code for a version: the same version always
# gets the same code, a new version a new one.
PRODUCT_NAMESPACE = uuid.UUID("0B8C1F4E-8E57-4C33-9B43-62A4C1B7D5E0")


def fail(message):
    print("package: " + message, file=sys.stderr)
    sys.exit(1)


def build_version(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("CMAKE_PROJECT_VERSION:"):
                return line.split("=", 1)[1].strip()
    fail("no project version in " + build)


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def files_under(folder):
    """Every file under folder, as sorted relative paths with '/'."""
    found = []
    for root, _, names in os.walk(folder):
        for name in names:
            found.append(os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/"))
    return sorted(found)


# --- the binaries -----------------------------------------------------------
def strip_into(source, stage_file, debug_file):
    """Copies a binary stripped of its symbols; the symbols go to debug_file,
    which the stripped binary names (a debugger finds it beside it)."""
    shutil.copyfile(source, stage_file)
    # objcopy writes a new PE header, stamped with SOURCE_DATE_EPOCH when it
    # is set and with the time of day when not; the linker wrote 0, and 0 it stays.
    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    subprocess.run([OBJCOPY, "--only-keep-debug", stage_file, debug_file], check=True, env=env)
    subprocess.run([OBJCOPY, "--strip-all", "--add-gnu-debuglink=" + debug_file, stage_file],
                   check=True, cwd=os.path.dirname(debug_file), env=env)


def stage_binaries(build, stage, debug_dir):
    for folder, name in BINARIES:
        source = os.path.join(build, folder, name)
        if not os.path.exists(source):
            fail("missing " + source)
        strip_into(source, os.path.join(stage, name), os.path.join(debug_dir, name + ".debug"))


# --- the guide ----------------------------------------------------------------
def import_markdown():
    """python3-markdown, also from a Python that is not the system's (it
    lives in the system's dist-packages and is pure Python)."""
    try:
        import markdown
    except ImportError:
        sys.path.append("/usr/lib/python3/dist-packages")
        import markdown
    return markdown


def guide_html(markdown_text, title):
    markdown = import_markdown()
    body = markdown.markdown(markdown_text, extensions=["tables", "fenced_code"], output_format="html")
    return ("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>{html.escape(title)}</title>\n"
            "<style>body{font-family:Segoe UI,Arial,sans-serif;max-width:60em;margin:2em auto;"
            "padding:0 1em;line-height:1.45}img{max-width:100%;border:1px solid #aaa}"
            "table{border-collapse:collapse}td,th{border:1px solid #aaa;padding:.2em .5em}"
            "code,pre{background:#f2f2f2}</style>\n</head>\n<body>\n"
            + body + "\n</body>\n</html>\n")


def stage_guide(stage):
    docs = os.path.join(SOURCE, "docs")
    with open(os.path.join(docs, "guide-ru.md"), encoding="utf-8") as f:
        text = f.read()
    title = text.splitlines()[0].lstrip("# ").strip()
    with open(os.path.join(stage, GUIDE), "w", encoding="utf-8", newline="\r\n") as f:
        f.write(guide_html(text, title))
    images = sorted(set(re.findall(r"\]\((images/[^)]+\.png)\)", text)))
    os.makedirs(os.path.join(stage, "images"), exist_ok=True)
    for image in images:
        shutil.copyfile(os.path.join(docs, image), os.path.join(stage, image))
    note = os.path.join(docs, NOTE_NAME)
    with open(note, encoding="utf-8") as f:
        note_text = f.read()
    # Notepad of any Windows reads UTF-8 with its mark; lines end in CRLF.
    with open(os.path.join(stage, NOTE_NAME), "w", encoding="utf-8-sig", newline="\r\n") as f:
        f.write(note_text)


def write_checksums(stage):
    lines = [f"{sha256(os.path.join(stage, name))} *{name}\n" for name in files_under(stage)]
    with open(os.path.join(stage, "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(lines)


# --- the zip ------------------------------------------------------------------
def source_date():
    return max(int(os.environ.get("SOURCE_DATE_EPOCH", "0")), 315532800)  # 1980-01-01, zip's first day


def set_file_times(folder):
    for name in files_under(folder):
        os.utime(os.path.join(folder, name), (source_date(), source_date()))


def zip_time():
    t = time.gmtime(source_date())
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)


def write_zip(stage, top, path):
    when = zip_time()
    with zipfile.ZipFile(path + ".tmp", "w") as z:
        for name in files_under(stage):
            info = zipfile.ZipInfo(f"{top}/{name}", date_time=when)
            info.create_system = 0  # MS-DOS: no Unix owner or mode to vary
            info.external_attr = 0x20  # the archive bit, as Windows writes it
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(stage, name), "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(path + ".tmp", path)


# --- the installer --------------------------------------------------------------
def wix_source(stage_parent, stage_name, version):
    """Copies the installer source beside the staged files (wixl takes file
    paths relative to it) with the guide's pictures listed for it."""
    images = files_under(os.path.join(stage_parent, stage_name, "images"))
    lines = ['<?xml version="1.0" encoding="utf-8"?>', "<Include>"]
    for i, image in enumerate(images):
        lines.append(f'  <File Id="image{i}" Source="$(var.StageDir)/images/{image}"/>')
    lines.append("</Include>")
    with open(os.path.join(stage_parent, "images.wxi"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    wxs = os.path.join(stage_parent, "scale-tools.wxs")
    shutil.copyfile(os.path.join(HERE, "scale-tools.wxs"), wxs)
    return wxs


def localized_texts(wxs):
    """The Cyrillic texts of the installer source as (table, key column, key,
    column, text): wixl 0.101 stores them as empty strings, so they are put
    into the tables afterwards, in code page 1251."""
    ns = "{http://schemas.microsoft.com/wix/2006/wi}"
    root = ET.parse(wxs).getroot()
    texts = []
    for e in root.iter(ns + "Shortcut"):
        texts.append(("Shortcut", "Shortcut", e.get("Id"), "Name", e.get("Name")))
    for e in root.iter(ns + "Condition"):
        texts.append(("LaunchCondition", "Condition", e.text, "Description", e.get("Message")))
    for e in root.iter(ns + "Directory"):
        name = e.get("Name")
        if name and not name.isascii():
            texts.append(("Directory", "Directory", e.get("Id"), "DefaultDir", name))
    return texts


def sql_text(text):
    return "'" + text.replace("'", "''") + "'"


def package_code(stage, version):
    """The same files of the same version make the same package; any other
    content another one, as Windows Installer wants of a package code."""
    h = hashlib.sha256(version.encode())
    for name in files_under(stage):
        h.update(name.encode() + b"\0" + sha256(os.path.join(stage, name)).encode())
    return "{" + str(uuid.uuid5(PRODUCT_NAMESPACE, h.hexdigest())).upper() + "}"


def at_source_date(command):
    """wixl stamps the package and its cabinet with the time of day: it runs
    on a clock stopped at SOURCE_DATE_EPOCH (faketime), and the files it
    packs carry that time too."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return command
    stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(int(epoch)))
    return ["faketime", "-f", stamp] + command


def write_msi(stage_parent, stage_name, version, publisher, path):
    wxs = wix_source(stage_parent, stage_name, version)
    product_code = str(uuid.uuid5(PRODUCT_NAMESPACE, version)).upper()
    stage = os.path.join(stage_parent, stage_name)
    set_file_times(stage)
    wixl = ["wixl", "-a", "x86", "-I", stage_parent,
            "-D", "Version=" + version, "-D", "ProductCode=" + product_code,
            "-D", "Publisher=" + publisher, "-D", "StageDir=" + stage_name, "-o", path + ".tmp", wxs]
    subprocess.run(at_source_date(wixl), check=True, cwd=stage_parent, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, TZ="UTC"))
    codepage = os.path.join(stage_parent, "_ForceCodepage.idt")
    with open(codepage, "w", newline="") as f:
        f.write("\r\n\r\n1251\t_ForceCodepage\r\n")
    product = ET.parse(wxs).getroot()[0]
    product_name = product.get("Name").replace("$(var.Version)", version)
    upgrade_code = "{" + product.get("UpgradeCode") + "}"
    queries = [f"UPDATE `Property` SET `Value`={sql_text(product_name)} WHERE `Property`='ProductName'",
               # The old version goes whatever its fourth part: the range's top
               # is inclusive (msidbUpgradeAttributesVersionMinInclusive and
               # MaxInclusive), which wixl leaves out. A key column: the row is
               # made anew.
               "DELETE FROM `Upgrade` WHERE `VersionMin`='0.0.0'",
               "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty`) "
               f"VALUES ({sql_text(upgrade_code)}, '0.0.0', {sql_text(version)}, 768, 'OLDER_VERSION_FOUND')"]
    for table, key_column, key, column, text in localized_texts(wxs):
        queries.append(f"UPDATE `{table}` SET `{column}`={sql_text(text)} WHERE `{key_column}`={sql_text(key)}")
    description = ET.parse(wxs).getroot()[0].find("{http://schemas.microsoft.com/wix/2006/wi}Package").get("Description")
    subprocess.run(["msibuild", path + ".tmp", "-s", description, publisher, "Intel;1049",
                    package_code(stage, version)], check=True)
    subprocess.run(["msibuild", path + ".tmp", "-i", codepage], check=True)
    for query in queries:
        subprocess.run(["msibuild", path + ".tmp", "-q", query], check=True)
    os.replace(path + ".tmp", path)


# --- all of it ------------------------------------------------------------------
def publisher_of(build):
    header = os.path.join(build, "generated", "tq_version.h")
    with open(header) as f:
        return re.search(r'#define TQ_PUBLISHER "([^"]*)"', f.read()).group(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version")
    parser.add_argument("--msi-only", action="store_true")
    args = parser.parse_args()
    build, dist = os.path.abspath(args.build), os.path.abspath(args.dist)
    version = args.version or build_version(build)
    top = f"scale-tools-{version}"
    work = os.path.join(build, "package", version)
    stage = os.path.join(work, top)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(stage)
    os.makedirs(dist, exist_ok=True)
    debug_dir = os.path.join(dist, top + "-debug")
    shutil.rmtree(debug_dir, ignore_errors=True)
    os.makedirs(debug_dir)

    stage_binaries(build, stage, debug_dir)
    stage_guide(stage)
    artefacts = []
    msi = os.path.join(dist, top + ".msi")
    write_msi(work, top, version, publisher_of(build), msi)
    artefacts.append(msi)
    if not args.msi_only:
        write_checksums(stage)
        archive = os.path.join(dist, top + ".zip")
        write_zip(stage, top, archive)
        artefacts.insert(0, archive)
    for path in artefacts:
        print(f"{sha256(path)}  {path}")


if __name__ == "__main__":
    main()
