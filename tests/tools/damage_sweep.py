#!/usr/bin/env python3
"""Damages the sample in random ways and holds tarvel against FFmpeg on each damaged file.

Each seed applies one to three damages at random places inside the packets (a bit flipped,
bytes zeroed or overwritten, cut, inserted or repeated; 1 byte to 5000), then converts the
file with tarvel and copies its video with FFmpeg (`-c copy -f framemd5`). A frame counts as
intact when its bytes equal one of the undamaged file's frames. Reported per seed, and
counted at the end:

  worse        tarvel kept fewer intact frames than FFmpeg
  unexplained  tarvel wrote a wrong frame that no single in-place damage of the seed makes
               FFmpeg write too (damage inside a frame's data cannot be seen by a demuxer;
               anything else is a fault)
  miscount     the frames tarvel says it dropped differ from those missing (frames lost
               after the last piece the walk could read cannot be known, so damage near
               the end of the file shows here)
  crash        a status other than 0, 1 or 2 (a sanitizer build: set ASAN_OPTIONS=exitcode=99)

usage: damage_sweep.py TARVEL [FIRST_SEED [COUNT]]     (FFmpeg must be installed)
"""
import hashlib
import os
import random
import re
import subprocess
import sys
import tempfile

SAMPLE = os.path.join(os.path.dirname(__file__), '..', '..', 'testdata', 'vc1ap_240x104.wmv')
KINDS = ['flip', 'zero', 'rand', 'cut', 'insert', 'dup']
IN_PLACE = {'flip', 'zero', 'rand'}


def damages(seed, size):
    """The seed's damages: (kind, offset, length, random bytes), offsets in the file as it
    stands when each is applied."""
    rnd = random.Random(seed)
    out = []
    for _ in range(rnd.randint(1, 3)):
        kind = rnd.choice(KINDS)
        at = rnd.randrange(6000, size - 10)  # behind the header, inside the packets
        n = 1 if kind == 'flip' else rnd.choice([1, 2, 7, 50, 400, 3200, 5000])
        out.append((kind, at, n, bytes(rnd.randrange(256) for _ in range(n)), 1 << rnd.randrange(8)))
        size += {'cut': -n, 'insert': n, 'dup': n}.get(kind, 0)
    return out


def apply(data, chosen):
    d = bytearray(data)
    for kind, at, n, noise, bit in chosen:
        n = min(n, len(d) - at)
        if kind == 'flip':
            d[at] ^= bit
        elif kind == 'zero':
            d[at:at + n] = bytes(n)
        elif kind == 'rand':
            d[at:at + n] = noise[:n]
        elif kind == 'cut':
            del d[at:at + n]
        elif kind == 'insert':
            d[at:at] = noise
        else:
            d[at:at] = d[at:at + n]
    return bytes(d)


def alone(chosen, k):
    """Damage k applied alone, at the place it had in the file the earlier damages made."""
    kind, at, n, noise, bit = chosen[k]
    for earlier_kind, earlier_at, earlier_n, _, _ in reversed(chosen[:k]):  # undone, latest first
        if earlier_at <= at:
            at -= {'cut': -earlier_n, 'insert': earlier_n, 'dup': earlier_n}.get(earlier_kind, 0)
    return [(kind, max(at, 0), n, noise, bit)]


def tarvel_frames(tarvel, path, work):
    out = os.path.join(work, 'out.vc1')
    if os.path.exists(out):
        os.unlink(out)
    run = subprocess.run([tarvel, '-v1', '-y', path, out], capture_output=True, text=True, timeout=120)
    stream = open(out, 'rb').read() if os.path.exists(out) else b''
    parts = re.split(b'\x00\x00\x01(?=[\x0a\x0d\x0e\x0f])', stream)[1:]
    frames = [hashlib.md5(p[1:]).hexdigest() for p in parts if p[:1] == b'\x0d']
    dropped = re.search(r'(\d+) frames dropped', run.stdout + run.stderr)
    return run.returncode, frames, int(dropped.group(1)) if dropped else 0


def ffmpeg_frames(path):
    run = subprocess.run(['ffmpeg', '-v', 'quiet', '-i', path, '-map', '0:v', '-c', 'copy', '-f', 'framemd5', '-'],
                         capture_output=True, text=True, timeout=120)
    return [line.split(',')[-1].strip() for line in run.stdout.splitlines() if line and line[0] != '#']


def main():
    tarvel = sys.argv[1]
    first = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    sample = open(SAMPLE, 'rb').read()
    work = tempfile.mkdtemp(prefix='damage-sweep-')
    path = os.path.join(work, 'in.wmv')
    open(path, 'wb').write(sample)
    status, originals, _ = tarvel_frames(tarvel, path, work)
    originals = set(originals)
    total = len(originals)
    assert status == 0 and total == len(set(ffmpeg_frames(path))), 'the undamaged sample does not convert whole'
    tally = {'worse': 0, 'unexplained': 0, 'miscount': 0, 'crash': 0}
    for seed in range(first, first + count):
        chosen = damages(seed, len(sample))
        open(path, 'wb').write(apply(sample, chosen))
        status, written, dropped = tarvel_frames(tarvel, path, work)
        copied = ffmpeg_frames(path)
        intact = len(set(written) & originals)
        wrong = [h for h in written if h not in originals and h not in copied]
        for k in range(len(chosen)):
            if wrong and chosen[k][0] in IN_PLACE:
                open(path, 'wb').write(apply(sample, alone(chosen, k)))
                explained = set(ffmpeg_frames(path))
                wrong = [h for h in wrong if h not in explained]
        faults = {'crash': status not in (0, 1, 2), 'worse': intact < len(set(copied) & originals),
                  'unexplained': len(wrong) > 0, 'miscount': dropped != total - len(written)}
        for name, found in faults.items():
            tally[name] += found
        if any(faults.values()):
            what = ' '.join(f'{kind}{n}@{at}' for kind, at, n, _, _ in chosen)
            print(f'seed {seed}: {what}: status {status}, {intact} intact, {len(wrong)} unexplained, '
                  f'{dropped} said dropped of {total - len(written)} missing; FFmpeg {len(set(copied) & originals)}'
                  f' intact: {", ".join(name for name, found in faults.items() if found)}', flush=True)
    print(f'{count} seeds from {first}: ' + ', '.join(f'{name} {n}' for name, n in tally.items()))
    return 1 if tally['crash'] or tally['unexplained'] else 0


if __name__ == '__main__':
    sys.exit(main())
