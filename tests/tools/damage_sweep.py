#!/usr/bin/env python3
"""Damages the sample in many ways and holds tarvel against FFmpeg on each damaged file.

Families of damaged files:
  random  each seed applies one to three damages at random places inside the packets (a bit
          flipped, bytes zeroed or overwritten, cut, inserted or repeated; 1 byte to 5000)
  swap    every packet moved in front of the one before it
  repeat  every packet sent again behind a later one (two places or more behind)
  fields  at every packet, a bit flipped in each payload-header field (stream number, media
          object number, offset, object size, replicated data length, payload length) of
          one payload; the seed picks the payload and the bit
Each file is converted with tarvel and its video copied with FFmpeg (`-c copy -f framemd5`).
A frame counts as intact when its bytes equal one of the undamaged file's frames. Reported
per file, and counted at the end:

  worse        tarvel kept fewer intact frames than FFmpeg
  unexplained  tarvel wrote a wrong frame that no single in-place damage of the seed makes
               FFmpeg write too (damage inside a frame's data cannot be seen by a demuxer;
               anything else is a fault)
  miscount     the frames tarvel says it dropped differ from those missing (frames lost
               after the last piece the walk could read cannot be known, so damage near
               the end of the file shows here)
  twice        tarvel wrote one frame more than once
  order        the original frames tarvel wrote are not in their original order (a stream
               out of decode order does not decode)
  unwarned     the frames said dropped differ from the warnings about dropped frames, or a
               run that lost frames ends with status 0
  crash        a status other than 0, 1 or 2 (a sanitizer build: set ASAN_OPTIONS=exitcode=99)

usage: damage_sweep.py TARVEL [FIRST_SEED [COUNT [FAMILY]]]     (FFmpeg must be installed)
       FAMILY: random (the default), swap, repeat or fields; swap and repeat take no seeds
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
WIDTH = [0, 1, 2, 4]
DATA_OBJECT = bytes.fromhex('3626b2758e66cf11a6d900aa0062ce6c')


def packet_area(data):
    """(first packet's offset, packet size, packet count) of the sample."""
    at = data.index(DATA_OBJECT)
    count = int.from_bytes(data[at + 40:at + 48], 'little')
    size = (int.from_bytes(data[at + 16:at + 24], 'little') - 50) // count
    return at + 50, size, count


def payload_fields(packet):
    """Per payload of a packet, {field: (offset in the packet, width in bytes)}."""
    at = 3 if packet[0] & 0x80 else 0
    flags, props = packet[at], packet[at + 1]
    at += 2 + sum(WIDTH[(flags >> shift) & 3] for shift in (5, 1, 3)) + 6
    count, length_width = 1, 0
    if flags & 1:
        count, length_width = packet[at] & 0x3F, WIDTH[packet[at] >> 6]
        at += 1
    out = []
    for _ in range(count):
        fields = {'stream': (at, 1)}
        at += 1
        for name, code in (('number', props >> 4), ('offset', props >> 2), ('replicated', props)):
            fields[name] = (at, WIDTH[code & 3])
            at += WIDTH[code & 3]
        replicated = int.from_bytes(packet[at - WIDTH[props & 3]:at], 'little')
        if replicated != 1:
            fields['size'] = (at, 4)
        at += 1 if replicated == 1 else max(replicated, 8)
        if not flags & 1:
            out.append(fields)
            break
        fields['length'] = (at, length_width)
        length = int.from_bytes(packet[at:at + length_width], 'little')
        at += length_width + length
        out.append(fields)
    return out


def moved_files(sample, family, seed):
    """The family's damaged files: (name, bytes, in place)."""
    first, size, count = packet_area(sample)
    packets = [sample[first + k * size:first + (k + 1) * size] for k in range(count)]
    head, tail = sample[:first], sample[first + count * size:]
    if family == 'swap':
        for k in range(1, count):
            order = packets[:k - 1] + [packets[k], packets[k - 1]] + packets[k + 1:]
            yield f'packet {k + 1} in front of {k}', head + b''.join(order) + tail, False
    elif family == 'repeat':
        for k in range(count):
            for behind in range(k + 2, count):
                order = packets[:behind + 1] + [packets[k]] + packets[behind + 1:]
                yield f'packet {k + 1} again behind {behind + 1}', head + b''.join(order) + tail, False
    else:
        rnd = random.Random(seed)
        for k in range(count):
            payloads = payload_fields(packets[k])
            which = rnd.randrange(len(payloads))
            fields = payloads[which]
            for name, (at, width) in fields.items():
                if width == 0:
                    continue
                bit = rnd.randrange(7) if name == 'stream' else rnd.randrange(8 * width)
                d = bytearray(sample)  # the field's bit, counted from its lowest
                d[first + k * size + at + bit // 8] ^= 1 << (bit % 8)
                yield f'packet {k + 1} payload {which + 1} {name} bit {bit}', bytes(d), True


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
    text = run.stdout + run.stderr
    dropped = re.search(r'(\d+) frames dropped', text)
    warned = len(re.findall(r'Warning: incomplete media object|too large; frame skipped|came after frames', text))
    return run.returncode, frames, int(dropped.group(1)) if dropped else 0, warned


def ffmpeg_frames(path):
    run = subprocess.run(['ffmpeg', '-v', 'quiet', '-i', path, '-map', '0:v', '-c', 'copy', '-f', 'framemd5', '-'],
                         capture_output=True, text=True, timeout=120)
    return [line.split(',')[-1].strip() for line in run.stdout.splitlines() if line and line[0] != '#']


def check(tarvel, work, path, originals, name, damaged, explain):
    """`originals`: the undamaged file's frames in their order."""
    """Converts one damaged file and holds it against FFmpeg; returns the faults found.
    `explain` gives the files of the single in-place damages that may explain a wrong frame."""
    open(path, 'wb').write(damaged)
    order = {h: i for i, h in enumerate(originals)}
    originals = set(originals)
    total = len(originals)
    status, written, dropped, warned = tarvel_frames(tarvel, path, work)
    places = [order[h] for h in written if h in order]
    copied = ffmpeg_frames(path)
    intact = len(set(written) & originals)
    wrong = [h for h in written if h not in originals and h not in copied]
    for alone_bytes in explain():
        if not wrong:
            break
        open(path, 'wb').write(alone_bytes)
        explained = set(ffmpeg_frames(path))
        wrong = [h for h in wrong if h not in explained]
    lost = total - len(written)
    faults = {'crash': status not in (0, 1, 2), 'worse': intact < len(set(copied) & originals),
              'unexplained': len(wrong) > 0, 'miscount': dropped != lost, 'twice': len(set(written)) < len(written),
              'order': places != sorted(places),
              'unwarned': warned != dropped or (status == 0 and (dropped > 0 or lost > 0))}
    if any(faults.values()):
        print(f'{name}: status {status}, {intact} intact, {len(wrong)} unexplained, {dropped} said dropped '
              f'({warned} warned) of {lost} missing; FFmpeg {len(set(copied) & originals)} intact: '
              f'{", ".join(fault for fault, found in faults.items() if found)}', flush=True)
    return faults


def main():
    tarvel = sys.argv[1]
    first = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    family = sys.argv[4] if len(sys.argv) > 4 else 'random'
    sample = open(SAMPLE, 'rb').read()
    work = tempfile.mkdtemp(prefix='damage-sweep-')
    path = os.path.join(work, 'in.wmv')
    open(path, 'wb').write(sample)
    status, originals, _, _ = tarvel_frames(tarvel, path, work)
    assert status == 0 and len(set(originals)) == len(set(ffmpeg_frames(path))), 'the undamaged sample does not convert whole'
    tally = {'worse': 0, 'unexplained': 0, 'miscount': 0, 'twice': 0, 'order': 0, 'unwarned': 0, 'crash': 0}
    files = 0
    seeds = [None] if family in ('swap', 'repeat') else range(first, first + count)
    for seed in seeds:
        if family == 'random':
            chosen = damages(seed, len(sample))
            what = ' '.join(f'{kind}{n}@{at}' for kind, at, n, _, _ in chosen)
            explain = lambda: (apply(sample, alone(chosen, k)) for k in range(len(chosen)) if chosen[k][0] in IN_PLACE)
            cases = [(f'seed {seed}: {what}', apply(sample, chosen), explain)]
        else:
            cases = [(f'seed {seed}: {name}' if seed is not None else name, damaged,
                      (lambda d=damaged: iter([d])) if in_place else (lambda: iter([])))
                     for name, damaged, in_place in moved_files(sample, family, seed)]
        for name, damaged, explain in cases:
            files += 1
            for fault, found in check(tarvel, work, path, originals, name, damaged, explain).items():
                tally[fault] += found
    what = f'{count} seeds from {first}' if seeds != [None] else 'all'
    print(f'{family}, {what}: {files} files: ' + ', '.join(f'{name} {n}' for name, n in tally.items()))
    return 1 if tally['crash'] or tally['unexplained'] or tally['order'] else 0


if __name__ == '__main__':
    sys.exit(main())
