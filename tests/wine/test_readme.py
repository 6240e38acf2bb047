#!/usr/bin/python3
"""The README's Windows install and batch lines, run under Wine as written.

    /usr/bin/python3 tests/wine/test_readme.py build-windows/mkcolormap-1.00-windows-x86_64.zip

Takes the two `bat` blocks of the README's Windows section, the install
lines (mkdir, tar, set PATH) and the batch lines (cd /d, mkcolormap, if
errorlevel), so that the README and the zip cannot drift apart. In a Wine
folder of its own, with the zip in the working folder and the drive the
batch lines name mapped to a folder holding a copy of examples/, it runs
them in one cmd, then checks the exit status and the output against
examples/colormap.expected; then again with an INI file naming a missing
image, where the batch must stop at `if errorlevel 1` with status 1.
Everything it writes is in its own temporary folder.

Wine has no tar: the README's `tar -xf ZIP -C FOLDER` is done here as
Windows' tar does it (the folder must exist; the members land in it as the
zip names them).
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
REACHED = "after the README's lines"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def readme_blocks():
    """The `bat` blocks of the README's Windows section, as lists of lines."""
    text = (ROOT / "README.md").read_text()
    section = re.search(r"^### Windows\n(.*?)^##? ", text, re.M | re.S)
    if not section:
        fail("README.md has no Windows section")
    blocks = re.findall(r"^```bat\n(.*?)^```", section.group(1), re.M | re.S)
    if len(blocks) != 2:
        fail("expected two bat blocks in the README's Windows section, found %d" % len(blocks))
    return [block.splitlines() for block in blocks]


def unix_path(prefix, windows_path):
    """Where a drive-letter path lies, through the Wine folder's drive links."""
    drive, rest = windows_path[0].lower(), windows_path[2:].strip("\\")
    return prefix / "dosdevices" / (drive + ":") / rest.replace("\\", "/")


def run_batch(lines, cwd, env):
    batch = cwd / "readme.bat"
    batch.write_bytes(("@echo off\r\n" + "".join(line + "\r\n" for line in lines)).encode())
    # The batch from the working folder, as a user would start it there.
    done = subprocess.run(["wine", "cmd", "/c", batch.name], cwd=cwd, env=env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    return done.returncode, done.stdout.decode(errors="replace")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: test_readme.py ZIP")
    zip_path = pathlib.Path(sys.argv[1]).resolve()
    install, batch = readme_blocks()

    tar_at = [i for i, line in enumerate(install) if line.startswith("tar ")]
    if len(tar_at) != 1:
        fail("the install block has no single tar line: %r" % install)
    tar = re.fullmatch(r"tar -xf (\S+) -C (\S+)", install[tar_at[0]])
    if not tar:
        fail("not a tar line this test can follow: %r" % install[tar_at[0]])
    if tar.group(1) != zip_path.name:
        fail("the README extracts %s, the build wrote %s" % (tar.group(1), zip_path.name))
    cd = re.fullmatch(r"cd /d ([A-Za-z]:\\\S*)", batch[0])
    if not cd:
        fail("the batch lines do not start with cd /d FOLDER: %r" % batch[0])

    work = pathlib.Path(tempfile.mkdtemp(prefix="mkcolormap-readme-"))
    prefix = work / "wineprefix"
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", LC_ALL="C.UTF-8")
    try:
        prefix.mkdir()
        subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600,
                       check=True)
        downloads = work / "Downloads"
        downloads.mkdir()
        shutil.copy(zip_path, downloads)
        # The drive the batch lines name, as a folder of the test's own.
        drive = work / "drive"
        drive.mkdir()
        (prefix / "dosdevices" / (cd.group(1)[0].lower() + ":")).symlink_to(drive)
        assets = unix_path(prefix, cd.group(1))
        shutil.copytree(EXAMPLES, assets)
        (assets / "colormap.bin").unlink(missing_ok=True)

        status, out = run_batch(install[:tar_at[0]], downloads, env)
        if status != 0:
            fail("the lines before tar exited with %d: %s" % (status, out))
        target = unix_path(prefix, tar.group(2))
        if not target.is_dir():
            fail("tar -C %s: no such folder after the lines before it" % tar.group(2))
        with zipfile.ZipFile(downloads / tar.group(1)) as archive:
            for member in archive.namelist():
                if member.startswith(("/", "\\")) or ".." in pathlib.PurePosixPath(member).parts:
                    fail("the zip holds an unsafe name: %s" % member)
            archive.extractall(target)

        lines = install[tar_at[0] + 1:] + batch + ["echo " + REACHED]
        status, out = run_batch(lines, downloads, env)
        if status != 0 or REACHED not in out:
            fail("the README's lines exited with %d, printing: %s" % (status, out))
        if (assets / "colormap.bin").read_bytes() != (assets / "colormap.expected").read_bytes():
            fail("colormap.bin differs from examples/colormap.expected")
        print("ok: the README's lines install the zip and build the example byte for byte")

        with open(assets / "maps.ini", "ab") as ini:
            ini.write(b"missing.bmp\r\n")
        status, out = run_batch(lines, downloads, env)
        message = 'ERROR. Can\'t open the image "missing.bmp"'
        if status != 1 or REACHED in out or message not in out:
            fail("with a missing image the batch exited with %d, printing: %s" % (status, out))
        print("ok: a failed run stops the batch at if errorlevel 1 with status 1")
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
