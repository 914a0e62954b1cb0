#!/usr/bin/env python3
"""Kills real update runs at random moments and checks what each kill leaves behind.

A client at revision A and its next revision B are published (whole copies, and with --chunks)
to a private nginx. Each case copies an installation of A made by a complete run, turns backups
on or off, lets the player change one file that B replaces, starts a run to B and kills it with
SIGKILL after a random delay from 0 to a run's duration, or a random moment into its commit (short,
but where backups, renames and the settings are written), and sometimes kills the next run as
well, most often while it completes the cut commit.
Right after each kill every listed file must hold A's or B's content (or still be missing where
B adds it) and _settings.ini must read with every key. A complete run must then bring exactly B,
A's version of each replaced file in backup/ when backups are on, AtRevision of B, and nothing of
the run outside .orvex/. The report counts kill points per phase and prints each failing case.

  crash_test.py --update TOOL --publish TOOL --work DIR --kills N [--wine WINE_DIR] [--seed S]
                [--launcher OrvexUpdater.exe --display :N]

With --wine the tools are Windows programs run under Wine with the prefix WINE_DIR/prefix
(made when missing); a killed run's processes are ended with SIGKILL and `wineserver -k`. With
--launcher as well, every third case starts the launcher instead of the tool (on an Xvfb server the
test starts at that display), kills it the same way, and kills its next start too when that one
completes a cut commit; the run that completes the case is the tool's.
"""
import argparse
import bz2
import collections
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import time

LIB_SH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common", "lib.sh")
SETTINGS_KEYS = ["NewsUrl", "UpdatesUrl", "LinkName", "Installed", "CreateBackup", "AtRevision",
                 "RunCustom", "UpdateKey", "ListSeq"]
LEFTOVER_ENDINGS = (".bz2", ".orvex-part", ".orvex-partial", ".orvex-partial-tag")
MODIFIED = "data/big1.bin"
MIB = 1 << 20


# --- the client's two revisions ------------------------------------------------------------------

def make_revisions(rng, big):
    """Path -> bytes for A and B: B changes two large files (in part), adds one, keeps one, and
    changes, adds and keeps small ones. big: the large files' size in bytes."""
    def text(tag, lines):
        return "".join(f"{tag} line {i} {rng.random():.12f}\n" for i in range(lines)).encode()

    def patched(data, at, length):
        return data[:at] + rng.randbytes(length) + data[at + length:]

    a = {
        "game.exe": text("game v1", 200),
        "data/big1.bin": rng.randbytes(big),
        "data/big2.bin": rng.randbytes(big),
        "data/big3.bin": rng.randbytes(big // 2),
    }
    for i in range(24):
        a[f"data/small/{i:02}.txt"] = text(f"small {i} v1", 50 + 40 * i)
    b = dict(a)
    b["game.exe"] = text("game v2", 210)
    b["data/big1.bin"] = patched(a["data/big1.bin"], big // 3, big // 8) + rng.randbytes(big // 16)
    b["data/big2.bin"] = patched(a["data/big2.bin"], big // 2, big // 10)
    b["data/big4.bin"] = rng.randbytes(big)
    for i in range(0, 24, 3):
        b[f"data/small/{i:02}.txt"] = text(f"small {i} v2", 60 + 40 * i)
    for i in range(4):
        b[f"data/new/{i}.txt"] = text(f"new {i}", 100)
    return a, b


def write_tree(root, files):
    for path, data in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as out:
            out.write(data)


def md5(data):
    return hashlib.md5(data).hexdigest()


def file_md5(path):
    try:
        with open(path, "rb") as f:
            return md5(f.read())
    except FileNotFoundError:
        return None


# --- running the tools ---------------------------------------------------------------------------

class Tools:
    def __init__(self, update, publish, wine_dir, launcher=None, display=None):
        self.update, self.publish, self.wine_dir = update, publish, wine_dir
        self.launcher, self.display = launcher, display

    @staticmethod
    def path_arg(program, path):
        """A path as the program takes it: Windows programs see the Unix root as drive Z:."""
        return "Z:" + path.replace("/", "\\") if program.endswith(".exe") else path

    def wine_command(self, *argv):
        # lib.sh's Wine settings: the prefix and home folder of this test's own.
        return ["bash", "-c", 'source "$1"; wine_env "$2"; shift 2; exec "$@"', "wine-run", LIB_SH, self.wine_dir,
                *argv]

    def command(self, program, *args):
        return self.wine_command("wine", program, *args) if program.endswith(".exe") else [program, *args]

    def prepare(self):
        if self.wine_dir and not os.path.exists(os.path.join(self.wine_dir, "prefix", "system.reg")):
            subprocess.run(self.wine_command("wineboot", "-i"), check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            self.end_wine()

    def end_wine(self):
        if self.wine_dir:
            subprocess.run(self.wine_command("wineserver", "-k"), stderr=subprocess.DEVNULL)
            subprocess.run(self.wine_command("wineserver", "-w"), stderr=subprocess.DEVNULL)

    def publish_to(self, client, server, chunks):
        folders = [self.path_arg(self.publish, client), self.path_arg(self.publish, server)]
        args = ["build", "-q"] + (["--chunks"] if chunks else []) + folders
        subprocess.run(self.command(self.publish, *args), check=True, stdout=subprocess.DEVNULL)

    def start_update(self, install, out_path):
        with open(out_path, "wb") as out:
            return subprocess.Popen(self.command(self.update, self.path_arg(self.update, install)), stdout=out,
                                    stderr=subprocess.STDOUT, start_new_session=True)

    def start_launcher(self, install, out_path):
        """The launcher in the installation as players start it there; it runs its update a second
        after its window opens and stays open afterwards."""
        with open(out_path, "wb") as out:
            return subprocess.Popen(self.wine_command("env", f"DISPLAY={self.display}", "wine", self.launcher),
                                    cwd=install, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)

    def kill(self, process):
        """SIGKILL for the run's whole process group; under Wine the prefix's server ends the rest."""
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()
        self.end_wine()

    def complete_update(self, install, out_path, timeout=600):
        process = self.start_update(install, out_path)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill(process)
            return "timed out"


def output_lines(out_path):
    with open(out_path, "rb") as f:
        return [line.rstrip("\r") for line in f.read().decode("utf-8", "replace").split("\n") if line.strip()]


# --- the installation's state --------------------------------------------------------------------

def read_settings(install):
    """key -> value of _settings.ini, or an error text when it does not read with every key once."""
    try:
        with open(os.path.join(install, "_settings.ini"), "rb") as f:
            lines = f.read().decode("latin-1").replace("\r\n", "\n").split("\n")
    except OSError as error:
        return f"_settings.ini not readable: {error}"
    if lines[0] != "[main]":
        return f"_settings.ini does not start with [main]: {lines[:3]!r}"
    values = {}
    for line in lines[1:]:
        if not line:
            continue
        key, sep, value = line.partition("=")
        if not sep or key in values:
            return f"_settings.ini line {line!r} is not a key of its own"
        values[key] = value
    missing = [key for key in SETTINGS_KEYS if key not in values]
    return f"_settings.ini lacks {missing}: {values}" if missing else values


def write_settings(install, url, backup, at_revision):
    values = {"NewsUrl": "http://127.0.0.1:1/news/", "UpdatesUrl": url, "LinkName": "", "Installed": "1",
              "CreateBackup": "1" if backup else "0", "AtRevision": str(at_revision), "RunCustom": "game.exe",
              "UpdateKey": "", "ListSeq": "0"}
    text = "[main]\r\n" + "".join(f"{key}={values[key]}\r\n" for key in SETTINGS_KEYS)
    with open(os.path.join(install, "_settings.ini"), "wb") as f:
        f.write(text.encode())


def files_outside_state(install):
    found = []
    for folder, dirs, files in os.walk(install):
        rel = os.path.relpath(folder, install)
        if rel == ".":
            dirs[:] = [d for d in dirs if d != ".orvex"]
        found += [os.path.normpath(os.path.join(rel, name)) for name in files]
    return found


class Case:
    """One installation killed once or twice, with what it must hold."""

    def __init__(self, number, folder, backup, chunked, a_md5, b_md5, revs):
        self.number, self.folder, self.backup, self.chunked = number, folder, backup, chunked
        self.a_md5, self.b_md5, self.revs = a_md5, b_md5, revs
        self.events = []

    def at_b(self):
        settings = read_settings(self.folder)
        return not isinstance(settings, str) and settings["AtRevision"] == str(self.revs[1])

    def state_file(self, name):
        return os.path.join(self.folder, ".orvex", name)

    def journal_files(self):
        try:
            with open(self.state_file("journal"), encoding="utf-8") as f:
                return [line[5:].rstrip("\n").replace("\\", "/") for line in f if line.startswith("file ")]
        except FileNotFoundError:
            return None

    def check_after_kill(self):
        problems = []
        for path in self.b_md5:
            got = file_md5(os.path.join(self.folder, path))
            allowed = {self.a_md5.get(path), self.b_md5[path]}
            if got not in allowed:
                problems.append(f"{path}: {'missing' if got is None else 'md5 ' + got}, "
                                f"neither A's ({self.a_md5.get(path) or 'absent'}) nor B's")
        settings = read_settings(self.folder)
        if isinstance(settings, str):
            problems.append(settings)
        elif settings["AtRevision"] not in map(str, self.revs):
            problems.append(f"AtRevision={settings['AtRevision']}, neither A's nor B's")
        elif settings["AtRevision"] == str(self.revs[1]):
            # The revision is recorded only once every file is in place.
            behind = [p for p, d in self.b_md5.items() if file_md5(os.path.join(self.folder, p)) != d]
            if behind:
                problems.append(f"AtRevision of B recorded while {behind} are not B's")
        problems += self.backup_problems(complete=False)
        return problems

    def backup_problems(self, complete):
        """Every file in backup/ is A's version of a file B replaced; after a complete run each one is there."""
        replaced = {p for p in self.b_md5 if p in self.a_md5 and self.a_md5[p] != self.b_md5[p]}
        root = os.path.join(self.folder, "backup")
        held = set(files_outside_state(root)) if os.path.isdir(root) else set()
        problems = []
        for path in sorted(held):
            if path in replaced:
                if file_md5(os.path.join(root, path)) != self.a_md5[path]:
                    problems.append(f"backup/{path} is not A's version")
            elif complete:
                problems.append(f"backup/{path} is no backup of a replaced file")
        if complete and self.backup and replaced - held:
            problems.append(f"backup/ lacks {sorted(replaced - held)}")
        if complete and not self.backup and held:
            problems.append(f"backup/ holds {sorted(held)} with backups off")
        return problems

    def check_after_completion(self, exit_code, out_lines):
        problems = [] if exit_code == 0 else [f"the completing run ended with {exit_code}: {out_lines[-12:]}"]
        for path, want in self.b_md5.items():
            got = file_md5(os.path.join(self.folder, path))
            if got != want:
                problems.append(f"{path}: {'missing' if got is None else 'md5 ' + got}, not B's")
        settings = read_settings(self.folder)
        if isinstance(settings, str):
            problems.append(settings)
        elif settings["AtRevision"] != str(self.revs[1]):
            problems.append(f"AtRevision={settings['AtRevision']} after a complete run, not B's {self.revs[1]}")
        problems += self.backup_problems(complete=True)
        expected = set(self.b_md5) | {"_settings.ini", "OrvexUpdater.log"}  # the launcher's log is its own
        left = [p for p in files_outside_state(self.folder)
                if p not in expected and not p.startswith("backup" + os.sep)]
        left += [p for p in files_outside_state(self.folder) if p.endswith(LEFTOVER_ENDINGS)]
        if left:
            problems.append(f"left outside .orvex/: {sorted(set(left))}")
        if os.path.exists(self.state_file("journal")):
            problems.append("a journal is left after a complete run")
        return problems

    def phase(self, out_lines, exited, prefix):
        """Where the run was when it was killed: the disk's state during a commit, else its last status."""
        if exited:
            return prefix + "finished before the kill"
        journal = self.journal_files()
        at_b = self.at_b()
        if journal is not None:
            placed = sum(not os.path.exists(os.path.join(self.state_file("staging"), p)) for p in journal)
            if at_b:
                return prefix + "commit: journal removal"
            copying = os.path.isdir(os.path.join(self.folder, "backup")) and any(
                p.endswith(".orvex-part") for p in files_outside_state(os.path.join(self.folder, "backup")))
            if copying:
                return prefix + "commit: copying a backup"
            if placed == 0:
                return prefix + ("commit: backup folder prepared" if self.backup else "commit: journal written")
            if placed < len(journal):
                return prefix + "commit: replacing files"
            return prefix + "commit: settings write"
        if at_b and os.path.isdir(self.state_file("staging")):
            return prefix + "commit: staging removal"
        if at_b:
            return prefix + "after the commit"
        status = [line for line in out_lines if not line.startswith("orvex-update:")]
        if not status:
            return prefix + "start"
        last = status[-1]
        if last.startswith("Downloading updates list"):
            return prefix + "list download"
        if last.startswith("Checking"):
            return prefix + "check"
        if last.startswith("Downloading "):
            path = last[len("Downloading "):].replace("\\", "/")
            return prefix + ("chunk building" if self.chunked and path in self.a_md5 else "download")
        if last.startswith("Extracting "):
            return prefix + "unpack and stage"
        return prefix + "other: " + last


# --- the run of cases ----------------------------------------------------------------------------

def publish_servers(tools, work, a, b):
    """Server folders a-plain, b-plain (whole copies) and a-chunks, b-chunks; returns their parent."""
    www = os.path.join(work, "web", "www")
    shutil.rmtree(os.path.join(work, "web"), ignore_errors=True)
    client = os.path.join(work, "client")
    shutil.rmtree(client, ignore_errors=True)
    write_tree(client, a)
    with open(os.path.join(client, "publish.ini"), "wb") as f:
        f.write(b"[publish]\r\nCritical=*.exe\r\n")
    for kind, chunks in (("plain", False), ("chunks", True)):
        tools.publish_to(client, os.path.join(www, f"a-{kind}"), chunks)
    write_tree(client, b)
    for kind, chunks in (("plain", False), ("chunks", True)):
        shutil.copytree(os.path.join(www, f"a-{kind}"), os.path.join(www, f"b-{kind}"))
        tools.publish_to(client, os.path.join(www, f"b-{kind}"), chunks)
    return www


def list_rev(www, name):
    with open(os.path.join(www, name, "files.lst.bz2"), "rb") as f:
        for line in bz2.decompress(f.read()).decode("latin-1").splitlines():
            if line.startswith("Rev|"):
                return int(line[4:])
    raise RuntimeError(f"no Rev in {name}'s list")


class Matrix:
    def __init__(self, args):
        self.args = args
        self.tools = Tools(os.path.abspath(args.update), os.path.abspath(args.publish),
                           os.path.abspath(args.wine) if args.wine else None,
                           os.path.abspath(args.launcher) if args.launcher else None, args.display)
        self.work = os.path.abspath(args.work)
        self.rng = random.Random(args.seed)
        self.phases = collections.Counter()
        self.failures = []

    def setup(self):
        os.makedirs(self.work, exist_ok=True)
        self.tools.prepare()
        a, b = make_revisions(random.Random(self.args.seed), self.args.big_mib * MIB)
        www = publish_servers(self.tools, self.work, a, b)
        subprocess.run(["bash", LIB_SH, "nginx_start", os.path.join(self.work, "web")], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(self.work, "web", "url")) as f:
            self.url = f.read().strip()
        self.revs = (list_rev(www, "a-plain"), list_rev(www, "b-plain"))
        assert self.revs[0] < self.revs[1] == list_rev(www, "b-chunks"), self.revs
        self.a_md5 = {p: md5(d) for p, d in a.items()}
        self.b_md5 = {p: md5(d) for p, d in b.items()}
        # The installation of A every case starts from, made by a complete run.
        self.template = os.path.join(self.work, "installed-a")
        shutil.rmtree(self.template, ignore_errors=True)
        os.makedirs(self.template)
        write_settings(self.template, self.url + "a-plain/", False, 0)
        out = os.path.join(self.work, "install.out")
        code = self.tools.complete_update(self.template, out)
        if code != 0 or any(file_md5(os.path.join(self.template, p)) != d for p, d in self.a_md5.items()):
            raise RuntimeError(f"installing A failed ({code}): {output_lines(out)}")
        # The player's change to a file B replaces: A's version is then this one.
        with open(os.path.join(self.template, MODIFIED), "r+b") as f:
            f.write(b"changed by the player")
        self.a_md5[MODIFIED] = file_md5(os.path.join(self.template, MODIFIED))
        # Per kind of case: backups make the commit longer, chunks the fetch shorter.
        self.durations = {(backup, chunked, False): self.measure(backup, chunked)
                          for backup in (False, True) for chunked in (False, True)}
        if self.tools.launcher:
            subprocess.run(["bash", LIB_SH, "xvfb_start", os.path.join(self.work, "x"), self.tools.display,
                            "1024x768x24"], check=True, stdout=subprocess.DEVNULL)
            self.durations.update({(backup, chunked, True): self.measure(backup, chunked, True)
                                   for backup in (False, True) for chunked in (False, True)})

    def new_case(self, number, backup, chunked):
        folder = os.path.join(self.work, "case")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.template, folder, symlinks=True)
        read = read_settings(folder)
        write_settings(folder, self.url + ("b-chunks/" if chunked else "b-plain/"), backup, int(read["AtRevision"]))
        return Case(number, folder, backup, chunked, self.a_md5, self.b_md5, self.revs)

    def measure(self, backup, chunked, launcher=False):
        """An uninterrupted run to B: its duration, when its commit begins (the journal appears) and
        how long the commit lasts (until the journal goes). The launcher, which stays open, is ended
        once it recorded B."""
        case = self.new_case(0, backup, chunked)
        out = os.path.join(self.work, "measure.out")
        start = time.monotonic()
        process = (self.tools.start_launcher if launcher else self.tools.start_update)(case.folder, out)
        commit_at = commit_end = None
        deadline = start + 600
        while process.poll() is None and time.monotonic() < deadline:
            journal = os.path.exists(case.state_file("journal"))
            now = time.monotonic() - start
            if commit_at is None and journal:
                commit_at = now
            if commit_at is not None and commit_end is None and not journal:
                commit_end = now
            if launcher and not journal and case.at_b():
                break
            time.sleep(0.001)
        total = time.monotonic() - start
        if launcher:
            self.tools.kill(process)
        self.tools.end_wine()
        problems = case.check_after_completion(0 if launcher else process.returncode, output_lines(out))
        if problems:
            raise RuntimeError(f"an uninterrupted run to B fails its own checks: {problems}")
        commit_at = total if commit_at is None else commit_at
        return Timing(total, commit_at, (commit_end or total) - commit_at)

    def wait_for_commit(self, case, process, deadline):
        while process.poll() is None and time.monotonic() < deadline:
            if os.path.exists(case.state_file("journal")):
                return
            time.sleep(0.001)

    def killed_run(self, case, recovering, stage, launcher=False):
        """Starts a run and kills it: half of the first runs after a random delay from 0 to a run's
        duration, the other half a random moment into the commit, which is short but has most steps.
        stage: "" for the first run, else what the run is ("recovery run: ", "next run: ")."""
        prefix = ("launcher " + stage if stage else "launcher: ") if launcher else stage
        timing = self.durations[case.backup, case.chunked, launcher]
        out = os.path.join(self.work, "killed.out")
        started = time.monotonic()
        process = (self.tools.start_launcher if launcher else self.tools.start_update)(case.folder, out)
        if recovering:
            # The recovery is done within moments of the start (under Wine, of Wine's own start).
            time.sleep(self.rng.uniform(0, timing.commit_at * 0.5 if self.tools.wine_dir else 0.05))
        elif stage or self.rng.random() < 0.5:
            time.sleep(self.rng.uniform(0, timing.total))
        else:
            self.wait_for_commit(case, process, started + timing.total * 3)
            time.sleep(self.rng.uniform(0, timing.commit))
        delay = time.monotonic() - started
        exited = process.poll() is not None
        self.tools.kill(process)
        # The launcher shows its status in its window only: before its commit the disk cannot tell
        # how far it was.
        phase = case.phase([] if launcher else output_lines(out), exited, prefix)
        if launcher and phase == prefix + "start":
            phase = prefix + "before the commit"
        case.events.append(f"{prefix or 'first run: '}killed after {delay:.3f} s in {phase}; "
                           f"its output ended: {output_lines(out)[-4:]}")
        self.phases[phase] += 1
        return case.check_after_kill()

    def run_case(self, number):
        backup, chunked = number % 2 == 1, (number // 2) % 2 == 1
        launcher = bool(self.tools.launcher) and number % 3 == 2
        case = self.new_case(number, backup, chunked)
        problems = self.killed_run(case, False, "", launcher)
        journal_left = case.journal_files() is not None
        if not problems and self.rng.random() < (0.6 if journal_left else 0.15):
            problems = self.killed_run(case, journal_left, "recovery run: " if journal_left else "next run: ", launcher)
        if not problems:
            out = os.path.join(self.work, "complete.out")
            code = self.tools.complete_update(case.folder, out)
            problems = case.check_after_completion(code, output_lines(out))
        if problems:
            self.failures.append((case, problems))
            kept = os.path.join(self.work, f"failed-case-{number}")
            shutil.rmtree(kept, ignore_errors=True)
            shutil.copytree(case.folder, kept, symlinks=True)

    def report(self, seconds):
        where = "under Wine" if self.tools.wine_dir else "natively"
        print(f"Crash test {where}: {self.args.kills} cases, seed {self.args.seed}, {seconds:.0f} s")
        for (backup, chunked, launcher), timing in self.durations.items():
            print(f"  an uninterrupted {'launcher ' if launcher else ''}run to B with backups {'on' if backup else 'off'}, "
                  f"{'chunks' if chunked else 'whole copies'}: {timing.total:.2f} s, "
                  f"its commit {timing.commit * 1000:.0f} ms")
        print("Kill points per phase:")
        for phase, count in sorted(self.phases.items()):
            print(f"  {count:5}  {phase}")
        print(f"Failures: {len(self.failures)}")
        for case, problems in self.failures:
            print(f"FAIL case {case.number} (backups {'on' if case.backup else 'off'}, "
                  f"{'chunks' if case.chunked else 'whole copies'}), kept in failed-case-{case.number}:")
            for event in case.events:
                print(f"    {event}")
            for problem in problems:
                print(f"    - {problem}")


Timing = collections.namedtuple("Timing", "total commit_at commit")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--update", required=True)
    parser.add_argument("--publish", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--kills", type=int, default=30)
    parser.add_argument("--wine")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--big-mib", type=int, default=3, help="size of the large files")
    parser.add_argument("--launcher", help="OrvexUpdater.exe, killed in every third case (needs --wine)")
    parser.add_argument("--display", default=":96", help="the Xvfb display the launcher's cases use")
    args = parser.parse_args()
    if args.launcher and not args.wine:
        parser.error("--launcher needs --wine")
    matrix = Matrix(args)
    started = time.monotonic()
    try:
        matrix.setup()
        for number in range(args.kills):
            matrix.run_case(number)
            if (number + 1) % 25 == 0:
                print(f"{number + 1} cases, {len(matrix.failures)} failed, {time.monotonic() - started:.0f} s",
                      file=sys.stderr, flush=True)
    finally:
        subprocess.run(["bash", LIB_SH, "nginx_stop", os.path.join(matrix.work, "web")], stdout=subprocess.DEVNULL)
        matrix.tools.end_wine()
        if matrix.tools.launcher:
            subprocess.run(["bash", LIB_SH, "xvfb_stop", os.path.join(matrix.work, "x")], stdout=subprocess.DEVNULL)
    matrix.report(time.monotonic() - started)
    return 1 if matrix.failures else 0


if __name__ == "__main__":
    sys.exit(main())
