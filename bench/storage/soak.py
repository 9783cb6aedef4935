#!/usr/bin/python3
"""Kill -9 soak of the storage engine (not run by CI).

Each trial starts bench/storage's soak_writer on a file-log table, which
appends records and marks earlier ones through the engine, kills it with
SIGKILL after a random 5-60 ms, and checks the table as the kill left it:
every record whose write the writer had confirmed (its call returned) is
there exactly once, every confirmed mark is there, and python3-dbf and
tests/tools/xbase-dump (Perl XBase) read the table. Then the table is opened
once through the engine (which finishes what the writer left in its
journal) and xbase-dump checks the table with its FILENAME tag. A new table
is started every --per-table trials to keep the readers quick.

    bench/storage/soak.py --writer build/dev/bench/storage/soak_writer [--trials 1000]
"""
import argparse
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, '/usr/lib/python3/dist-packages')
import dbf  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DUMP = os.path.join(ROOT, 'tests', 'tools', 'xbase-dump')


def python_read(path):
    table = dbf.Table(path)
    table.open(dbf.READ_ONLY)
    try:
        return [(r['filename'].rstrip(), r['copied'].rstrip()) for r in table]
    finally:
        table.close()


def dump(path, tag=False):
    cmd = ['perl', DUMP]
    if tag:
        cmd += ['--cdx', path[:-4] + '.CDX', '--tag', 'FILENAME']
    r = subprocess.run(cmd + [path], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return r.returncode == 0, r.stderr[:300]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--writer', required=True)
    ap.add_argument('--trials', type=int, default=1000)
    ap.add_argument('--per-table', type=int, default=25)
    ap.add_argument('--seed', type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix='qz-soak-')
    totals = dict(trials=0, appended=0, marked=0, lost=0, duplicated=0, marks_lost=0,
                  python_failures=0, dump_failures=0, tag_failures=0, writer_errors=0)
    started = time.time()
    path = None
    appended, marked = {}, set()
    for trial in range(1, args.trials + 1):
        if path is None or (trial - 1) % args.per_table == 0:
            path = os.path.join(work, 'FILELOG%d.DBF' % trial)
            subprocess.run([args.writer, 'create', path], check=True)
            appended, marked = {}, set()
        out = open(os.path.join(work, 'out.txt'), 'w+b')
        writer = subprocess.Popen([args.writer, 'write', path, str(trial)], stdout=out, stderr=subprocess.PIPE)
        time.sleep(rng.uniform(0.005, 0.06))
        writer.send_signal(signal.SIGKILL)
        _, err = writer.communicate()
        if writer.returncode != -signal.SIGKILL:
            totals['writer_errors'] += 1
            print('trial %d: writer ended by itself (%s): %s' % (trial, writer.returncode, err[:300]), file=sys.stderr)
        out.seek(0)
        for line in out.read().decode().split('\n')[:-1]:   # a cut last line was never confirmed
            kind, _, name = line.split(' ')
            if kind == 'A':
                appended[name] = True
                totals['appended'] += 1
            else:
                marked.add(name)
                totals['marked'] += 1
        out.close()
        totals['trials'] += 1

        try:
            rows = python_read(path)
        except Exception as e:  # noqa: BLE001
            totals['python_failures'] += 1
            print('trial %d: python3-dbf: %s' % (trial, e), file=sys.stderr)
            rows = []
        seen = {}
        for name, copied in rows:
            seen.setdefault(name, []).append(copied)
        for name in appended:
            n = len(seen.get(name, []))
            if n == 0:
                totals['lost'] += 1
                print('trial %d: %s lost' % (trial, name), file=sys.stderr)
            elif n > 1:
                totals['duplicated'] += 1
                print('trial %d: %s %d times' % (trial, name, n), file=sys.stderr)
        for name in marked:
            if 'YES' not in seen.get(name, []):
                totals['marks_lost'] += 1
                print('trial %d: mark of %s lost' % (trial, name), file=sys.stderr)
        ok, why = dump(path)
        if not ok:
            totals['dump_failures'] += 1
            print('trial %d: xbase-dump: %s' % (trial, why), file=sys.stderr)
        subprocess.run([args.writer, 'open', path], check=False)
        ok, why = dump(path, tag=True)
        if not ok:
            totals['tag_failures'] += 1
            print('trial %d: xbase-dump with the tag: %s' % (trial, why), file=sys.stderr)
        if trial % 50 == 0:
            print('%d trials, %.0f s: %s' % (trial, time.time() - started, totals), flush=True)
    totals['seconds'] = round(time.time() - started)
    print('RESULT', totals)
    subprocess.run(['rm', '-rf', work])
    return 0 if totals['lost'] == totals['duplicated'] == totals['marks_lost'] == 0 and \
        totals['python_failures'] == totals['dump_failures'] == totals['tag_failures'] == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
