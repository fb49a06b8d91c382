#!/usr/bin/env python3
"""The running agent against floors measured in the same run, on a private X
session (Xvfb, openbox and trayer as the status-area host):

  UrlHandoff   wall time of `wendrix 'wendrix:restore?name=<none>'` handed to the
               running agent (a command that does no work), against starting
               /bin/true the same way; medians.
  IdleWakeups  context switches of all the idle agent's threads over the idle
               time (each is a wake-up), against a bare Qt tray program
               (bench_bare_tray) idle over the same time.
  IdleMemory   proportional memory (Pss) of the same idle programs, and of the
               bare program with the agent's shared libraries loaded too (the
               floor the libraries set).

Prints one line per figure in scripts/bench's form. Usage:
  agent_bench.py BUILD_DIR [--idle-seconds 30] [--runs 30]
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# A command handed to the running agent that does no work.
NO_OP_URL = "wendrix:restore?name=No%20such%20layout"


def start_xvfb(log):
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"], pass_fds=(write,), stdout=log, stderr=log)
    os.close(write)
    number = b""
    deadline = time.monotonic() + 10
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    if not number.strip():
        server.kill()
        sys.exit("agent_bench: Xvfb did not start")
    return server, ":" + number.decode().strip()


def wait_for(done, timeout, what):
    deadline = time.monotonic() + timeout
    while not done():
        if time.monotonic() > deadline:
            sys.exit(f"agent_bench: {what}")
        time.sleep(0.05)


def switches(pid):
    """Context switches of every thread of `pid` so far."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total


def threads(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def pss_mb(pid):
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Pss:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def needed_libraries(program):
    """The shared libraries `program` names directly."""
    out = subprocess.run(["readelf", "-d", program], capture_output=True, text=True,
                         check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)


def timed_runs(argv, env, runs):
    """Median wall seconds of `runs` starts of argv, each waited for."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def start_session(home, log, started):
    """Starts a private X session (Xvfb, openbox, trayer) for programs whose
    home is `home`; appends its processes to `started` and answers the
    environment to run them with."""
    for tool in ("Xvfb", "openbox", "trayer"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is not installed (scripts/setup installs it)")
    server, display = start_xvfb(log)
    started.append(server)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "DISPLAY": display,
           "QT_QPA_PLATFORM": "xcb", "XDG_CONFIG_DIRS": "/nonexistent",
           "XDG_CURRENT_DESKTOP": ""}
    for variable, folder in (("XDG_CONFIG_HOME", "config"), ("XDG_RUNTIME_DIR", "runtime"),
                             ("XDG_DATA_HOME", "data"), ("XDG_CACHE_HOME", "cache")):
        os.makedirs(os.path.join(home, folder), mode=0o700)
        env[variable] = os.path.join(home, folder)
    started.append(subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=log, stderr=log))
    time.sleep(0.5)
    started.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right",
                                     "--widthtype", "request", "--height", "24"],
                                    env=env, stdout=log, stderr=log))
    time.sleep(0.5)
    return env


def stop(started):
    """Ends the processes `started`, the last started first."""
    for process in reversed(started):
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def line(name, figures, ratios):
    text = " ".join(f"{k}={v:.4g}" for k, v in figures.items())
    ratio = " ".join(f"{k} {v:.2f}" for k, v in ratios.items())
    print(f"{'agent_bench':20} {name:45} {text}  {ratio}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--idle-seconds", type=float, default=30)
    parser.add_argument("--runs", type=int, default=30)
    args = parser.parse_args()
    program = os.path.join(args.build_dir, "src", "app", "wendrix")
    agent_program = os.path.join(args.build_dir, "src", "app", "wendrix-agent")
    bare = os.path.join(args.build_dir, "bench", "bench_bare_tray")
    icon = os.path.join(ROOT, "resources", "menu-icon.png")
    if not shutil.which("readelf"):
        sys.exit("agent_bench: readelf is not installed (scripts/setup installs it)")

    home = tempfile.mkdtemp(prefix="wendrix-agent-bench-")
    started = []
    log = open(os.path.join(home, "session.log"), "w")
    try:
        env = start_session(home, log, started)

        agent = subprocess.Popen([program], env=env, stdout=log, stderr=log)
        started.append(agent)
        socket = os.path.join(home, "runtime", "app.Wendrix", "agent.socket")
        wait_for(lambda: os.path.exists(socket), 30, "the agent did not start")
        floor = subprocess.Popen([bare, icon], env=env, stdout=log, stderr=log)
        started.append(floor)
        preload = dict(env, LD_PRELOAD=" ".join(needed_libraries(agent_program)))
        linked = subprocess.Popen([bare, icon], env=preload, stdout=log, stderr=log)
        started.append(linked)

        # The handoff: a restore of a layout that does not exist, and /bin/true,
        # each after a few starts that warm the caches.
        handoff = [program, NO_OP_URL]
        timed_runs(handoff, env, 3)
        timed_runs(["/bin/true"], env, 3)
        handoff_s = timed_runs(handoff, env, args.runs)
        true_s = timed_runs(["/bin/true"], env, args.runs)
        line("UrlHandoff", {"handoff_ms": handoff_s * 1e3, "true_ms": true_s * 1e3},
             {"ratio": handoff_s / true_s})

        # Idle: after the start's own work (telemetry batches within 3 s).
        time.sleep(5)
        pids = {"agent": agent.pid, "bare_tray": floor.pid, "same_libraries": linked.pid}
        before = {k: switches(p) for k, p in pids.items()}
        time.sleep(args.idle_seconds)
        wakeups = {k: switches(p) - before[k] for k, p in pids.items()}
        line(f"IdleWakeups{args.idle_seconds:g}s",
             {"agent": wakeups["agent"], "bare_tray": wakeups["bare_tray"],
              "agent_threads": threads(agent.pid), "bare_tray_threads": threads(floor.pid)},
             {"ratio": wakeups["agent"] / max(wakeups["bare_tray"], 1)})
        memory = {k: pss_mb(p) for k, p in pids.items()}
        line("IdleMemory",
             {"agent_pss_mb": memory["agent"], "bare_tray_pss_mb": memory["bare_tray"],
              "same_libraries_pss_mb": memory["same_libraries"]},
             {"ratio": memory["agent"] / memory["bare_tray"],
              "agent_vs_same_libraries": memory["agent"] / memory["same_libraries"]})
    finally:
        stop(started)
        log.close()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
