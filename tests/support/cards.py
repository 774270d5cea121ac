"""Storage as a camera lives with it, for the durability tests and the
campaign (tools/durability_campaign); needs root for mount and loop devices.

- Ext4Image: an ext4 file system in an image file, mounted through a loop
  device over a folder of the emulated camera (the SD card, or the flash that
  holds the package's data folder). A power cut is simulated by copying the
  image file at the moment of the cut: what the kernel had not yet written to
  the loop device is lost, exactly as on a card whose power goes. The copy is
  then checked (e2fsck replays the journal) and mounted in place of the
  original, which is the reboot.
- TmpfsCard: a small card (1 to 4 MiB) that fills up.
- pull(): a card pulled out, as a lazy unmount leaves it: the mount point is
  an empty folder again while programs that hold files keep them.
- Faults: the preloaded fault injector (tests/support/fault_inject.c) and its
  control file.
"""
import os
import shutil
import signal
import subprocess
from pathlib import Path


def _run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def is_mounted(folder):
    folder = os.path.realpath(folder)
    with open("/proc/self/mounts") as mounts:
        return any(line.split()[1] == folder for line in mounts)


def pull(folder):
    """The card is gone: lazy unmount, nothing flushed."""
    if is_mounted(folder):
        _run("umount", "-l", str(folder))


class Ext4Image:
    # A long commit interval: the window in which written data is not yet on
    # the card is then as wide as the kernel's own writeback delay, so a cut
    # shortly after a write loses what was not synced, every time.
    MOUNT_OPTIONS = "loop,commit=60"

    def __init__(self, image, mountpoint, size_mib=32):
        self.image = Path(image)
        self.mountpoint = Path(mountpoint)
        self.size_mib = size_mib
        self.cuts = 0

    def create(self):
        self.image.parent.mkdir(parents=True, exist_ok=True)
        self.mountpoint.mkdir(parents=True, exist_ok=True)
        with open(self.image, "wb") as out:
            out.truncate(self.size_mib * 1024 * 1024)
        _run("mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", str(self.image))
        self.mount()
        return self

    def mount(self):
        _run("mount", "-o", self.MOUNT_OPTIONS, str(self.image), str(self.mountpoint))

    def cut(self):
        """The bytes on the card at this moment (nothing is flushed): a copy
        of the image file, returned as its path."""
        self.cuts += 1
        copy = self.image.with_name(f"{self.image.stem}.cut{self.cuts}{self.image.suffix}")
        shutil.copyfile(self.image, copy)
        return copy

    def reboot_from(self, copy):
        """Unmounts the running image and mounts the checked copy in its place."""
        pull(self.mountpoint)
        result = subprocess.run(["e2fsck", "-fy", str(copy)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # 0: clean; 1: errors corrected (a replayed journal counts here).
        if result.returncode not in (0, 1):
            raise RuntimeError(f"e2fsck {copy}: {result.returncode}\n{result.stdout.decode()}")
        self.image.unlink()
        copy.rename(self.image)
        self.mount()

    def remove(self):
        pull(self.mountpoint)
        self.image.unlink(missing_ok=True)


class TmpfsCard:
    def __init__(self, mountpoint, size_kib=1024):
        self.mountpoint = Path(mountpoint)
        self.size_kib = size_kib

    def create(self):
        self.mountpoint.mkdir(parents=True, exist_ok=True)
        _run("mount", "-t", "tmpfs", "-o", f"size={self.size_kib}k,mode=0755", "tmpfs", str(self.mountpoint))
        return self

    def fill(self, name="filler", keep_kib=0):
        """Fills the card up to `keep_kib` free KiB."""
        path = self.mountpoint / name
        with open(path, "ab") as out:
            try:
                while self.free_kib() > keep_kib:
                    out.write(b"\0" * 4096)
                    out.flush()
            except OSError:
                pass
        return path

    def free_kib(self):
        st = os.statvfs(self.mountpoint)
        return st.f_bavail * st.f_frsize // 1024

    def remove(self):
        pull(self.mountpoint)


def power_cut(cards, pids=()):
    """Cuts the power: stops every given process first (they are killed as
    the power goes), copies every image at once, then kills the processes.
    Returns the copies in the order of `cards`, to be booted with reboot()."""
    for pid in pids:
        _signal(pid, signal.SIGSTOP)
    copies = [card.cut() for card in cards]
    for pid in pids:
        _signal(pid, signal.SIGKILL)
    return copies


def reboot(cards, copies):
    for card, copy in zip(cards, copies):
        card.reboot_from(copy)


def _signal(pid, sig):
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        pass


class Faults:
    """The fault injector's control file; set() switches a fault on for every
    program started with env(), clear() switches it off."""

    def __init__(self, camera):
        self.camera = camera
        self.control = camera.workdir / "faults.conf"
        self.calls = camera.workdir / "faults.calls"
        build = Path(camera.program("x")).parent.parent
        self.library = build / "lib" / "libtrelvik_fault_inject.so"

    def env(self, extra=None):
        base = self.camera.env()
        env = {"LD_PRELOAD": base["LD_PRELOAD"] + ":" + str(self.library),
               "TRELVIK_FAULT_CONTROL": str(self.control)}
        if extra:
            env.update(extra)
        return env

    def set(self, **settings):
        text = "".join(f"{key}={value}\n" for key, value in settings.items())
        tmp = self.control.with_suffix(".tmp")
        tmp.write_text(text)
        tmp.rename(self.control)

    def clear(self):
        self.control.unlink(missing_ok=True)

    def count_calls(self, program, ops, path="*"):
        """How many calls of `ops` on files matching `path` the program makes
        in a run: the shim logs them, the program is run by the caller."""
        self.calls.unlink(missing_ok=True)
        self.set(path=path, ops=ops, program=program, at=10 ** 9, log=self.calls)
        return lambda: len(self.calls.read_text().splitlines()) if self.calls.exists() else 0
