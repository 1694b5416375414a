#!/usr/bin/env python3
"""Checks a `tarvel --json` document: it parses as JSON, it matches the schema, and its
values are the text report's of the same run.

  json_report_check.py SCHEMA DOCUMENT INPUT TEXT_STDOUT TEXT_CONSOLE [TARVEL]
      the text run's standard output and console text give what can be compared: the
      header bytes and fields, the stream choice, the frame listing (-v3), the summary,
      the remux command, and every warning and error line, which must be
      among the messages; with the TARVEL binary, the headers written are read back by it
      from their bytes, and must be the document's "output", field for field
  json_report_check.py SCHEMA DOCUMENT INPUT --ffprobe
      the frames' picture types are FFmpeg's decoder's (ffprobe -show_frames), matched by
      frame size since the decoder gives its frames in display order

Prints one line per difference and nothing when there is none; exit status 1 on a
difference.
"""
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

import jsonschema

problems = []


def expect(what, got, want):
    if got != want:
        problems.append(f"{what}: document has {got!r}, text has {want!r}")


def reject_constant(name):
    raise ValueError(f"not JSON: {name}")


def header_sections(text):
    """Each interpretation of the VC-1 headers as {"sequence_header": {...}, "entry_point": {...}}."""
    sections = []
    part = None
    for line in text.splitlines():
        if line == "---- Sequence Header ----":
            sections.append({"sequence_header": {}, "entry_point": {}})
            part = sections[-1]["sequence_header"]
        elif line.startswith("---- Entry Point Header") and sections:
            part = sections[-1]["entry_point"]
        elif part is not None:
            m = re.match(r"^-*([A-Z][A-Z0-9_]*)(?:\[(\d+)\])?: (--|-?\d+)", line)
            if not m:
                if line and not line.startswith("-"):
                    part = None
                continue
            name, bucket, value = m.groups()
            if bucket is None:
                part[name] = None if value == "--" else int(value)
            else:
                # The fullness lines follow the entry-point fields, as the document has them.
                target = sections[-1]["entry_point"] if name == "HRD_FULL" else part
                target.setdefault(name, []).append(int(value))
    return sections


def hex_after(text, title):
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if line.startswith(title):
            digits = []
            for row in lines[i + 1:]:
                if not row.strip():
                    break
                digits.append(row.replace(" ", ""))
            return "".join(digits)
    return None


def is_message(line):
    body = line
    if re.match(r"^(Error writing |Unable to |Not Recognized |Invalid stream )", body):
        return True
    if " exists; not overwritten " in body:
        return True
    while body.startswith("-- "):
        body = body[3:]
    return body.startswith("Warning:") or body.startswith("Error:")


def compare_with_text(doc, input_path, stdout, console):
    expect("input size", doc["input"]["size"], os.path.getsize(input_path))
    text = stdout + console

    # Every warning and error the text shows is a message of the document.
    messages = [m["text"] for m in doc["messages"]]
    for line in text.splitlines():
        if is_message(line) and line.rstrip() not in messages:
            problems.append(f"message missing from the document: {line!r}")

    vc1 = doc.get("vc1")
    sections = header_sections(stdout)
    documents = [vc1, vc1.get("output")] if vc1 else []
    for i, section in enumerate(sections):
        if i >= len(documents) or documents[i] is None:
            problems.append(f"header interpretation {i + 1} is not in the document")
            continue
        for part in ("sequence_header", "entry_point"):
            # The headers written hold fewer fields than the listing shows: those they hold agree.
            want = section[part] if i == 0 else {k: v for k, v in section[part].items()
                                                 if documents[i][part].get(k) is not None}
            got = documents[i][part] if i == 0 else {k: v for k, v in documents[i][part].items() if v is not None}
            expect(f"vc1 {i + 1} {part}", got, want)
    for title, where in (("Bytes as retrieved", vc1), ("Header bytes to be used in output", vc1 and vc1.get("output"))):
        shown = hex_after(stdout, title)
        if shown is not None:
            expect(title, where and where.get("header_hex"), shown)

    asf = doc.get("asf")
    streams = {s["number"]: s for s in asf["streams"]} if asf else {}
    m = re.search(r"^Video stream with highest bitrate is stream (\d+) \(bitrate = (\d+) Kb/s\)", stdout, re.M)
    if m:
        expect("chosen stream", asf["chosen_stream"], {"number": int(m[1]), "by": "highest_bitrate"})
        expect("chosen stream's Kb/s", (streams[int(m[1])]["bitrate"] + 500) // 1000, int(m[2]))
    m = re.search(r"^Video stream (\d+) chosen on the command line", stdout, re.M)
    if m:
        expect("chosen stream", asf["chosen_stream"], {"number": int(m[1]), "by": "command_line"})
    m = re.search(r"^Encoded with: (.*)$", stdout, re.M)
    if m:
        expect("encoder", asf["encoder"], m[1])
    for m in re.finditer(r"^-- Usable video stream (\d+): (\d+) x (\d+), bitrate = (\d+) Kb/s", stdout, re.M):
        s = streams[int(m[1])]
        expect(f"stream {m[1]} size and Kb/s", (s["width"], s["height"], (s["bitrate"] + 500) // 1000),
               (int(m[2]), int(m[3]), int(m[4])))
    for m in re.finditer(r"Extended_Stream_Properties_Object for ASF stream (\d+)\n.*avg object period: (\d+) uSecs",
                         stdout):
        expect(f"stream {m[1]} frame period in microseconds", (streams[int(m[1])]["frame_period"] + 5) // 10, int(m[2]))
    for m in re.finditer(r"Metadata for stream (\d+): AspectRatio([XY]) = (\d+)", stdout):
        expect(f"stream {m[1]} aspect ratio {m[2]}", streams[int(m[1])]["aspect_ratio"][m[2].lower()], int(m[3]))

    listing = [{"number": int(m[1]), "key": m[2] == "K", "picture_type": None if m[3] == "?????" else m[3],
                "bytes": int(m[4])}
               for m in re.finditer(r"^Frame:\s*(\d+)  Time:\S+ sec  (K| )  Type:(\S+)\s+Bytes:(\d+)$", stdout, re.M)]
    if listing:
        frames = [{k: f[k] for k in ("number", "key", "picture_type", "bytes")} for f in doc.get("frames", [])]
        expect("frames", frames, listing)

    # The mkvmerge command names the arguments the document has.
    m = re.search(r"^Remux: (.*)$", stdout, re.M)
    if m:
        expect("remux arguments", doc.get("remux", {}).get("mkvmerge"), shlex.split(m[1])[3:-1])

    summary = doc.get("summary")
    totals = {
        "frames_written": r"^Total Frames Written   : (\d+)",
        "bytes_written": r"^Total Bytes Written    : (\d+)",
        "key_frames": r"^Total Keyframes Written: (\d+)",
        "max_key_frame_distance": r"^Max Keyframe Distance \*: (\d+)",
    }
    for key, pattern in totals.items():
        m = re.search(pattern, stdout, re.M)
        if m:
            expect(f"summary {key}", summary and summary[key], int(m[1]))
    m = re.search(r"^Interlaced Content     : (Yes|No)", stdout, re.M)
    if m:
        expect("summary interlaced", summary and summary["interlaced"], m[1] == "Yes")
    for m in re.finditer(r"^  (?:'.'  )?\[([A-Z/]+)\][^\n]*: (\d+)$", stdout, re.M):
        if " or " not in m[0]:
            name = "SKIP" if m[1] == "D" else m[1]
            expect(f"summary count of {name}", summary and summary["picture_types"][name], int(m[2]))
    m = re.search(r"Damaged input: (\d+) data packets damaged, (\d+) frames dropped", console)
    if summary is not None:
        expect("damaged packets and dropped frames", (summary["damaged_packets"], summary["dropped_frames"]),
               (int(m[1]), int(m[2])) if m else (0, 0))

    # The bitrate lines say what the document's members hold, in Kb/s and Kb rounded.
    kilo = lambda bits: (bits + 500) // 1000
    m = re.search(r"^Bitrate: average (\d+) Kb/s, peak (\d+) Kb/s \(1 s from (-?\d+)\.(\d{3}) s\), "
                  r"largest frame (\d+) \((\d+) bytes\)$", stdout, re.M)
    if m:
        b = doc.get("bitrate") or {}
        expect("bitrate line", (int(m[1]), int(m[2]), int(m[3] + m[4]), int(m[5]), int(m[6])),
               (kilo(b.get("average", 0)), kilo(b.get("peak_1s", 0)), b.get("peak_1s_from_ms"),
                b.get("largest_frame"), b.get("largest_frame_bytes")))
    buckets = re.findall(r"^HRD leaky bucket (\d+) \(rate (\d+) Kb/s, buffer (\d+) Kb\): "
                         r"(holds|underflow at frame (\d+) \((-?\d+)\.(\d{3}) s\))$", stdout, re.M)
    if m:
        expect("bucket lines", [(int(n), int(r), int(size), h == "holds", int(f) if f else None,
                                 int(s + ms) if f else None) for n, r, size, h, f, s, ms in buckets],
               [(e["bucket"], kilo(e["rate"]), kilo(e["buffer"]), e["holds"],
                 e["underflow"] and e["underflow"]["frame"], e["underflow"] and e["underflow"]["time_ms"])
                for e in doc.get("hrd", [])])


def compare_with_written_bytes(doc, tarvel):
    """The document's "output" against the headers its bytes hold, as tarvel reads them back."""
    output = (doc.get("vc1") or {}).get("output")
    if output is None:
        return
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "written.vc1")
        with open(path, "wb") as f:
            f.write(bytes.fromhex(output["header_hex"]))
        read = json.loads(subprocess.run([tarvel, "--json", path], capture_output=True, text=True).stdout)
    for part in ("sequence_header", "entry_point"):
        expect(f"headers written, {part}", output[part], read["vc1"][part])


def compare_with_decoder(doc, input_path):
    listing = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_frames", "-show_entries",
                              "frame=pkt_size,pict_type", "-of", "json", input_path],
                             capture_output=True, text=True, check=True).stdout
    decoded = sorted((int(f["pkt_size"]), f["pict_type"]) for f in json.loads(listing)["frames"])
    frames = sorted((f["bytes"], f["picture_type"]) for f in doc.get("frames", []))
    expect("frames by size and picture type", frames, decoded)
    if not problems:
        print(f"{len(frames)} frames match")


def main():
    schema_path, document_path, input_path = sys.argv[1:4]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(document_path, "rb") as f:
        raw = f.read()
    try:
        doc = json.loads(raw.decode("utf-8"), parse_constant=reject_constant)
    except ValueError as error:  # bad UTF-8 or bad JSON
        print(f"{document_path}: {error}")
        return 1
    jsonschema.Draft202012Validator.check_schema(schema)
    for error in jsonschema.Draft202012Validator(schema).iter_errors(doc):
        problems.append(f"schema: {error.json_path}: {error.message}")
    if not problems:
        if sys.argv[4:] == ["--ffprobe"]:
            compare_with_decoder(doc, input_path)
        else:
            with open(sys.argv[4], encoding="utf-8") as out, open(sys.argv[5], encoding="utf-8") as console:
                compare_with_text(doc, input_path, out.read(), console.read())
            if len(sys.argv) > 6:
                compare_with_written_bytes(doc, sys.argv[6])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
