"""Tiger Tree Hashes of the real files, computed with the rhash command.

Modern clients put a file's TTH in their search results ("TTH:<39 base32>"
where a hub name would be) and are asked for it by "$ADCGET file TTH/<hash>".
The standard library has no Tiger, so the hashes come from
`rhash --tth --simple FILE...` (one call for every file not yet known; it
prints "<lower-case base32>  <path>" per file), upper-cased.

They are cached in <data-dir>/tth-cache.json, keyed by the file's path with
its size and modification time in nanoseconds, so a restart over the same
big files costs a stat each.  Without rhash the hub logs it once and knows
no TTH: results carry the hub name and $ADCGET works by path only.
"""

import json
import os
import shutil
import subprocess
from pathlib import Path

CACHE_NAME = "tth-cache.json"
TTH_LENGTH = 39
BASE32 = frozenset("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567")
RHASH_SECONDS = 3600   # 2 GiB take a few seconds; this is only a safety net


def is_tth(text: str) -> bool:
    return len(text) == TTH_LENGTH and set(text) <= BASE32


def _stamp(path: str):
    st = os.stat(path)
    return [st.st_size, st.st_mtime_ns]


def load_cache(cache_path: Path) -> dict:
    try:
        data = json.loads(cache_path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return {}
    return data if isinstance(data, dict) else {}


def save_cache(cache_path: Path, cache: dict) -> None:
    tmp = cache_path.with_name(cache_path.name + ".tmp-%d" % os.getpid())
    tmp.write_text(json.dumps(cache, ensure_ascii=False, indent=0, sort_keys=True),
                   encoding="utf-8")
    os.replace(tmp, cache_path)   # atomic: two hubs on one data dir do not mix


def run_rhash(paths, command: str):
    """{path: upper-case TTH} for the paths rhash could read."""
    proc = subprocess.run([command, "--tth", "--simple"] + list(paths),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=RHASH_SECONDS, check=False)
    wanted = set(paths)
    out = {}
    for line in os.fsdecode(proc.stdout).splitlines():
        digest, sep, path = line.partition("  ")
        digest = digest.upper()
        if sep and path in wanted and is_tth(digest):
            out[path] = digest
    return out, os.fsdecode(proc.stderr).strip()


def file_hashes(disk_paths, data_dir: Path, log=lambda s: None, command: str = "rhash"):
    """{absolute disk path (str): TTH} for the given files, {} without rhash."""
    paths = sorted({os.path.abspath(p) for p in disk_paths})
    if shutil.which(command) is None:
        log("%s is not installed: no TTH in search results, $ADCGET by path only" % command)
        return {}
    cache_path = Path(data_dir) / CACHE_NAME
    cache = load_cache(cache_path)
    result, todo = {}, {}
    for p in paths:
        try:
            stamp = _stamp(p)
        except OSError:
            continue
        entry = cache.get(p)
        if (isinstance(entry, list) and len(entry) == 3 and entry[:2] == stamp
                and isinstance(entry[2], str) and is_tth(entry[2])):
            result[p] = entry[2]
        else:
            todo[p] = stamp   # taken before hashing: a file changed meanwhile is hashed again
    if todo:
        log("hashing %d files with %s" % (len(todo), command))
        try:
            fresh, errors = run_rhash(todo, command)
        except (OSError, subprocess.SubprocessError) as e:
            log("%s failed: %s; those files have no TTH" % (command, e))
            fresh, errors = {}, ""
        if errors:
            log("%s: %s" % (command, errors))
        for p, digest in fresh.items():
            cache[p] = todo[p] + [digest]
            result[p] = digest
        # Entries of files that are gone are dropped.
        cache = {p: e for p, e in cache.items() if os.path.exists(p)}
        try:
            save_cache(cache_path, cache)
        except OSError as e:
            log("cannot save %s: %s" % (cache_path, e))
    return result
