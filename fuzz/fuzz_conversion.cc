// Property: any input file, converted with the whole program (header walk, stream choice,
// VC-1 header parse/edit/write, Data Object demux, timestamps file, frame report or JSON
// document) into memory files, runs to completion without reading or writing outside its
// memory, and what it writes agrees with itself and with the input:
//   (a) the status is 0 with no level-0 text at all, or 1 with a level-0 line that says
//       why ("Error..." or "Not Recognized..."), and only then;
//   (b) the JSON document parses as strict JSON, its status is the run's, and its level-0
//       messages are the level-0 lines that tell a failure;
//   (c) the frames listed are summary.frames_written, the stream holds summary.bytes_written
//       bytes, and its 00 00 01 0D codes are at least one per frame with a picture type (or
//       no bytes), exactly that many when neither the input nor the headers hold one;
//   (d) the stream is, frame by frame, the rebuilt headers before each key frame, a start
//       code unless the frame brings its own, and bytes that payloads of the chosen stream
//       hold at those places of an object of that frame's size, then the end-of-sequence
//       code;
//   (e) the timestamps file is its first line and one time per frame written, ascending.
// One input in four is converted with the text report instead of the document: (a) and (e)
// then hold with the text's frame count.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "cli/driver.h"
#include "fuzz/asf_payloads.h"
#include "fuzz/strict_json.h"
#include "report/report.h"

namespace {

// Stops the run when an oracle fails, naming its line.
void check(bool condition, int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_conversion.cc:%d: oracle failed\n", line);
  std::abort();
}

// A memory file holding `bytes`, named /proc/self/fd/N for the program.
struct MemoryFile {
  int fd = -1;
  std::string path;
  explicit MemoryFile(const uint8_t* bytes, size_t size) {
    fd = memfd_create("fuzz-conversion", 0);
    check(fd >= 0 && (size == 0 || write(fd, bytes, size) == static_cast<ssize_t>(size)));
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  ~MemoryFile() { close(fd); }
  std::string contents() const {
    struct stat st;
    check(fstat(fd, &st) == 0);
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    check(st.st_size == 0 || pread(fd, bytes.data(), bytes.size(), 0) == st.st_size);
    return bytes;
  }
};

struct Run {
  int status = -1;
  std::string console;  // level-0 text
  std::string out;      // the JSON document or the text report
  std::string stream;   // the elementary stream written
  std::string times;    // the timestamps file
  bool json = false;
  bool nseq = false;
};

Run convert(const uint8_t* data, size_t size) {
  Run run;
  run.json = size % 4 != 3;
  run.nseq = size % 3 == 0;
  MemoryFile input(data, size);
  MemoryFile output(nullptr, 0);
  MemoryFile times(nullptr, 0);
  std::string timestamps = "--timestamps=" + times.path;
  std::vector<std::string> args = {"tarvel", run.json || size % 8 == 3 ? "-v3" : "-v2", "-y", timestamps};
  if (run.json) args.push_back("--json");
  if (run.nseq) args.push_back("-nseq");
  args.push_back(input.path);
  args.push_back(output.path);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Report report;
  report.capture_console = &run.console;
  report.capture_out = &run.out;
  run.status = run_tarvel(static_cast<int>(argv.size()), argv.data(), &report);
  run.stream = output.contents();
  run.times = times.contents();
  return run;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

bool tells_failure(const std::string& line) {
  return line.rfind("Error", 0) == 0 || line.rfind("Not Recognized", 0) == 0;
}

// (a), and the failure lines for (b).
std::vector<std::string> check_status(const Run& run) {
  check(run.status == 0 || run.status == 1);
  std::vector<std::string> failures;
  for (const std::string& line : lines_of(run.console)) {
    if (tells_failure(line)) failures.push_back(line);
  }
  check(run.status == 0 ? run.console.empty() : !failures.empty());
  return failures;
}

// (b): the document's level-0 messages that tell a failure are those lines.
void check_messages(const JsonValue* doc, const Run& run, const std::vector<std::string>& failures) {
  int64_t status = -1;
  check(json_integer(json_member(doc, "status"), &status) && status == run.status);
  const JsonValue* messages = json_member(doc, "messages");
  check(messages != nullptr && messages->kind == JsonKind::kArray);
  std::vector<std::string> listed;
  for (const JsonValue& m : messages->items) {
    int64_t level = -1;
    const JsonValue* text = json_member(&m, "text");
    check(json_integer(json_member(&m, "level"), &level) && text != nullptr &&
          text->kind == JsonKind::kString);
    if (level == 0 && tells_failure(text->text)) listed.push_back(text->text);
  }
  check(listed == failures);
}

// (e)
void check_timestamps(const std::string& times, int64_t frames) {
  std::vector<std::string> lines = lines_of(times);
  check(times.empty() ? frames < 0 : times.back() == '\n');
  if (times.empty()) return;
  check(lines[0] == "# timestamp format v2" && static_cast<int64_t>(lines.size()) - 1 == frames);
  long long last = 0;
  for (size_t i = 1; i < lines.size(); i++) {
    char* end = nullptr;
    long long t = std::strtoll(lines[i].c_str(), &end, 10);
    check(!lines[i].empty() && *end == '\0' && (i == 1 || t >= last));
    last = t;
  }
}

// ---- (c) and (d) ----

constexpr char kFrameCode[] = "\x00\x00\x01\x0D";
constexpr char kEndCode[] = "\x00\x00\x01\x0A";
constexpr char kEntryPointCode[] = "\x00\x00\x01\x0E";

// Byte by byte rather than through memcmp, which the fuzzer would trace at every offset.
size_t count_frame_codes(const std::string& bytes, size_t from, size_t to) {
  size_t n = 0;
  for (size_t i = from; i + 4 <= to; i++) {
    n += bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0x0D;
  }
  return n;
}

// A frame as the document lists it and where the stream holds it, with the object the
// input's pieces of its size make.
struct Frame {
  uint32_t size = 0;
  bool key = false;
  std::vector<const StreamPiece*> pieces;  // the input's pieces of objects of this size
  bool unplaced = false;                   // and some without offset or number among them
  std::string object;                      // their bytes, as the frame's first piece begins it
  bool own = false;                        // the object begins with a start code: none is added
  uint32_t skip = 0;                       // its in-band header units, which the rebuilt ones replace
  size_t at = 0;                           // where the stream holds object[skip..]
};

bool is_header_unit(int code) { return code == 0x0F || code == 0x0E || code == 0x1F || code == 0x1E; }

// Where the next 00 00 01 at or after `from` begins, or the object's size.
uint32_t next_start_code(const std::string& o, uint32_t from) {
  size_t at = o.find(std::string("\x00\x00\x01", 3), from);
  return at == std::string::npos ? static_cast<uint32_t>(o.size()) : static_cast<uint32_t>(at);
}

// The object with `lead` at its front and the other pieces, first met first, behind it;
// false when a byte is held by none. Sets how it opens.
bool make_object(const StreamPiece* lead, Frame* f) {
  std::vector<int> bytes(f->size, -1);
  std::vector<const StreamPiece*> order = {lead};
  order.insert(order.end(), f->pieces.begin(), f->pieces.end());
  for (const StreamPiece* p : order) {
    for (uint32_t k = 0; p != nullptr && k < p->length && uint64_t{p->offset} + k < f->size; k++) {
      if (bytes[p->offset + k] < 0) bytes[p->offset + k] = p->bytes[k];
    }
  }
  f->object.assign(f->size, '\0');
  for (uint32_t x = 0; x < f->size; x++) {
    if (bytes[x] < 0) return false;
    f->object[x] = static_cast<char>(bytes[x]);
  }
  const std::string& o = f->object;
  f->own = o.size() >= 4 && o.compare(0, 3, "\x00\x00\x01", 3) == 0;
  f->skip = 0;
  while (f->own && f->skip + 3 < o.size() && is_header_unit(static_cast<uint8_t>(o[f->skip + 3]))) {
    f->skip = next_start_code(o, f->skip + 4);
  }
  return true;
}

// The rebuilt headers a key frame has in front at stream offset q: the full ones, or with
// -nseq after the first frame the entry-point header they end with. Their length, or 0.
size_t headers_at(const Run& run, size_t q, size_t frame, const std::string& full) {
  if ((frame == 0 || !run.nseq) && run.stream.compare(q, full.size(), full) == 0) return full.size();
  for (size_t i = full.size(); run.nseq && frame > 0 && i-- > 0;) {
    if (full.compare(i, 4, kEntryPointCode, 4) == 0 && run.stream.compare(q, full.size() - i, full, i) == 0) {
      return full.size() - i;
    }
  }
  return 0;
}

// Finds frame f at stream offset q, behind its headers: the object, among those the input's
// pieces can make (one per piece that can begin it), whose opening and first bytes the
// stream shows there; *next is the offset behind it. False when the pieces make no object
// at all.
bool place_frame(const Run& run, size_t q, Frame* f, size_t* next) {
  std::vector<const StreamPiece*> leads = {nullptr};
  for (const StreamPiece* p : f->pieces) {
    bool again = false;  // the same payload, read from another place a packet could start
    for (const StreamPiece* l : leads) again = again || (l != nullptr && l->bytes == p->bytes);
    if (p->offset == 0 && p->length > 0 && !again && leads.size() < 8) leads.push_back(p);
  }
  bool made = false;
  for (const StreamPiece* lead : leads) {
    if (!make_object(lead, f)) continue;
    made = true;
    size_t at = f->own ? q : q + 4;
    size_t first = std::min<size_t>(f->size - f->skip, 16);
    if (at + (f->size - f->skip) <= run.stream.size() &&
        (f->own || run.stream.compare(q, 4, kFrameCode, 4) == 0) &&
        run.stream.compare(at, first, f->object, f->skip, first) == 0) {
      f->at = at;
      *next = at + (f->size - f->skip);
      return true;
    }
  }
  check(!made);  // the stream shows none of the objects the pieces make
  return false;
}

// (d), bytes: every byte of every frame is one that a piece of its size holds there.
bool held(const Frame& f, uint32_t x, char b) {
  if (f.object[x] == b) return true;
  for (const StreamPiece* p : f.pieces) {
    if (x >= p->offset && x - p->offset < p->length && static_cast<char>(p->bytes[x - p->offset]) == b)
      return true;
  }
  return false;
}

std::string from_hex(const std::string& hex) {
  auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(digit(hex[i]) << 4 | digit(hex[i + 1])));
  return bytes;
}

int64_t integer_at(const JsonValue* object, const char* key) {
  int64_t value = -1;
  check(json_integer(json_member(object, key), &value));
  return value;
}

// The document's frames, each with the input's pieces of objects of its size.
std::vector<Frame> listed_frames(const uint8_t* data, size_t size, const JsonValue* doc,
                                 std::vector<StreamPiece>* pieces) {
  const JsonValue* list = json_member(doc, "frames");
  check(list != nullptr && list->kind == JsonKind::kArray);
  const JsonValue* asf = json_member(doc, "asf");
  int64_t packet_size = integer_at(json_member(asf, "file_properties"), "packet_size");
  int64_t stream = integer_at(json_member(asf, "chosen_stream"), "number");
  *pieces = asf_stream_pieces(data, size, asf_header_size(data, size), static_cast<uint32_t>(packet_size),
                              static_cast<uint32_t>(stream));
  std::unordered_map<uint32_t, std::vector<const StreamPiece*>> by_size;
  std::unordered_map<uint32_t, bool> unplaced;
  for (const StreamPiece& p : *pieces) {
    if (p.placed) by_size[p.object_size].push_back(&p);
    if (!p.placed) unplaced[p.object_size] = true;
  }
  std::vector<Frame> frames(list->items.size());
  for (size_t i = 0; i < frames.size(); i++) {
    int64_t bytes = integer_at(&list->items[i], "bytes");
    const JsonValue* key = json_member(&list->items[i], "key");
    check(bytes >= 0 && bytes <= UINT32_MAX && key != nullptr && key->kind == JsonKind::kBool);
    frames[i].size = static_cast<uint32_t>(bytes);
    frames[i].key = key->boolean;
    frames[i].pieces = by_size[frames[i].size];
    frames[i].unplaced = unplaced.count(frames[i].size) != 0;
  }
  return frames;
}

// (c): every frame with a picture header has a frame start code in front of it, added or
// its own, and so does a frame of no bytes at all. When neither the input nor the rebuilt
// headers hold a frame start code anywhere, frames cannot bring their own, and those are
// all the stream has.
void check_frame_codes(const uint8_t* data, size_t size, const Run& run, const JsonValue* doc,
                       const std::string& headers) {
  const JsonValue* list = json_member(doc, "frames");
  size_t coded = 0;
  for (const JsonValue& frame : list->items) {
    const JsonValue* type = json_member(&frame, "picture_type");
    check(type != nullptr && (type->kind == JsonKind::kString || type->kind == JsonKind::kNull));
    coded += type->kind == JsonKind::kString || integer_at(&frame, "bytes") == 0;
  }
  size_t codes = count_frame_codes(run.stream, 0, run.stream.size());
  std::string input(reinterpret_cast<const char*>(data), size);
  bool none_given =
      count_frame_codes(input, 0, size) == 0 && count_frame_codes(headers, 0, headers.size()) == 0;
  check(none_given ? codes == coded : codes >= coded);
}

// (c) and (d), for a run whose demux ran.
void check_frames(const uint8_t* data, size_t size, const Run& run, const JsonValue* doc,
                  const JsonValue* summary) {
  std::vector<StreamPiece> pieces;
  std::vector<Frame> frames = listed_frames(data, size, doc, &pieces);
  check(static_cast<int64_t>(frames.size()) == integer_at(summary, "frames_written"));
  check(static_cast<int64_t>(run.stream.size()) == integer_at(summary, "bytes_written"));
  const JsonValue* hex = json_member(json_member(json_member(doc, "vc1"), "output"), "header_hex");
  check(hex != nullptr && hex->kind == JsonKind::kString);
  std::string headers = from_hex(hex->text);
  check_frame_codes(data, size, run, doc, headers);
  // (d): where each frame stands: behind its headers, with the object the stream shows.
  size_t q = 0;
  for (size_t i = 0; i < frames.size(); i++) {
    size_t header_bytes = frames[i].key ? headers_at(run, q, i, headers) : 0;
    check(!frames[i].key || header_bytes != 0);
    if (!place_frame(run, q + header_bytes, &frames[i], &q)) {
      check(frames[i].unplaced);  // pieces in arrival order may make it: not checked further
      return;
    }
  }
  for (const Frame& f : frames) {
    for (uint32_t x = f.skip; x < f.size; x++) check(held(f, x, run.stream[f.at + x - f.skip]));
  }
  check(run.stream.size() == q + 4 && run.stream.compare(q, 4, kEndCode, 4) == 0);
}

// The text report's frame count, or -1 when it has none.
int64_t text_frame_count(const std::string& text) {
  size_t at = text.find("Total Frames Written   : ");
  return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + 25);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run run = convert(data, size);
  std::vector<std::string> failures = check_status(run);
  if (!run.json) {
    int64_t frames = text_frame_count(run.out);
    check_timestamps(run.times, frames);
    check(frames < 0 ? run.stream.empty() : run.stream.size() >= 4);
    return 0;
  }
  JsonValue doc;
  size_t error_at = 0;
  check(json_parse(run.out, &doc, &error_at) && doc.kind == JsonKind::kObject);
  check_messages(&doc, run, failures);
  const JsonValue* summary = json_member(&doc, "summary");
  check_timestamps(run.times, summary != nullptr ? integer_at(summary, "frames_written") : -1);
  if (summary == nullptr) {
    check(run.stream.empty());
    return 0;
  }
  check_frames(data, size, run, &doc, summary);
  return 0;
}
