// tarvel_bench_gen: writes a large ASF file with one WVC1 video stream (stream 1) and one
// PCM audio stream (stream 2), made from the frames of a small VC-1 elementary stream.
//
//   tarvel_bench_gen <sample.vc1> <out.wmv> [size in MiB, default 2048] [packet size, default 16000]
//                    [small]
//
// The frames of the sample are used in order, over and over, each grown to an HD-like
// size by repeating its own bytes (I about 150 KB, P about 40 KB, B about 18 KB); the first
// byte of every frame, and so its picture type, is kept. Packets are all of one size, carry
// several payloads each (fragments of video frames and an audio chunk of 1-2 KB in most of
// them) and are padded at their end. The file is meant for throughput runs, not for viewing.
// With "small", frames are cut to 80 to 120 bytes instead: many frames in few bytes, for
// what a run keeps per frame (the timestamps file).
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t g_packet_size = 16000;              // bytes of every data packet (the optional fourth argument)
bool g_small_frames = false;                 // the optional fifth argument "small"
constexpr uint32_t kMaxObjectSize = 200000;  // larger than any frame made here
constexpr uint64_t kFramePeriod = 417083;    // 100 ns units, 23.976 frames per second
constexpr uint32_t kPrerollMs = 3000;
constexpr uint8_t kVideoStream = 1;
constexpr uint8_t kAudioStream = 2;

// Packet layout written here: 82 00 00 (error correction present, 2 bytes of data), length
// type flags 0x11 (multiple payloads, padding length as a word), property flags 0x5D
// (replicated data length: byte, offset: dword, object number: byte, stream number: byte),
// padding length (2), send time (4), duration (2), payload flags (1).
constexpr uint32_t kPacketHeader = 3 + 2 + 2 + 4 + 2 + 1;
// Stream number (1), object number (1), offset (4), replicated data length (1, always 8),
// replicated data: object size (4) and presentation time (4), payload length (2).
constexpr uint32_t kPayloadHeader = 1 + 1 + 4 + 1 + 8 + 2;
constexpr uint32_t kMinVideoPiece = 256;  // a packet with less room left is closed
constexpr int kMaxPayloads = 63;

// --- little-endian writers -------------------------------------------------------------

void put8(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
void put16(Bytes& b, uint32_t v) {
  put8(b, v & 0xFF);
  put8(b, (v >> 8) & 0xFF);
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void put64(Bytes& b, uint64_t v) {
  put32(b, static_cast<uint32_t>(v));
  put32(b, static_cast<uint32_t>(v >> 32));
}
void put_bytes(Bytes& b, const uint8_t* p, size_t n) { b.insert(b.end(), p, p + n); }
void set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void set64(Bytes& b, size_t at, uint64_t v) {
  set32(b, at, static_cast<uint32_t>(v));
  set32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

struct Guid {
  uint32_t d1;
  uint16_t d2, d3;
  uint8_t d4[8];
};

// Stored form: first group LE32, second and third LE16, last eight bytes as written.
void put_guid(Bytes& b, const Guid& g) {
  put32(b, g.d1);
  put16(b, g.d2);
  put16(b, g.d3);
  put_bytes(b, g.d4, 8);
}

const Guid kHeaderGuid = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const Guid kFilePropsGuid = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kStreamPropsGuid = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kHeaderExtGuid = {0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kExtStreamPropsGuid = {
    0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
const Guid kDataGuid = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const Guid kVideoMediaGuid = {0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kAudioMediaGuid = {0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kNoErrorCorrectionGuid = {
    0x20FB5700, 0x5B55, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kReserved1Guid = {0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kFileIdGuid = {0x7A1C0DE5, 0xB3E0, 0x4D1E, {0x9A, 0x51, 0x42, 0x45, 0x4E, 0x43, 0x48, 0x31}};

// Opens an object: GUID and a size field that close_object() fills in.
size_t open_object(Bytes& b, const Guid& g) {
  size_t start = b.size();
  put_guid(b, g);
  put64(b, 0);
  return start;
}
void close_object(Bytes& b, size_t start) { set64(b, start + 16, b.size() - start); }

// --- the sample stream -----------------------------------------------------------------

enum PictureKind { kI, kP, kB };

struct Sample {
  Bytes headers;              // sequence header + entry-point header, with start codes
  std::vector<Bytes> frames;  // frame bytes, without the 00 00 01 0D in front
};

PictureKind picture_kind(uint8_t first) {
  if ((first & 0x80) == 0) return kP;     // PTYPE 0
  if ((first & 0xC0) == 0x80) return kB;  // 10
  return kI;                              // 110 (and BI / skipped, which the sample does not hold)
}

bool load_sample(const char* path, Sample& s) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  Bytes d;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) put_bytes(d, chunk, n);
  std::fclose(f);
  std::vector<size_t> codes;  // offsets of every 00 00 01 xx
  for (size_t i = 0; i + 3 < d.size(); i++)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) codes.push_back(i);
  for (size_t k = 0; k < codes.size(); k++) {
    size_t at = codes[k], end = k + 1 < codes.size() ? codes[k + 1] : d.size();
    if (d[at + 3] == 0x0D && end > at + 4) {
      if (s.frames.empty()) s.headers.assign(d.begin(), d.begin() + static_cast<long>(at));
      s.frames.emplace_back(d.begin() + static_cast<long>(at) + 4, d.begin() + static_cast<long>(end));
    }
  }
  return !s.frames.empty() && s.headers.size() >= 8 && d[3] == 0x0F;
}

// Size of frame number n of the generated stream: a base by picture type and a spread of
// up to 1/8 of it, so that fragment boundaries fall at different places in every packet.
uint32_t grown_size(PictureKind kind, uint64_t n) {
  uint32_t h = static_cast<uint32_t>(n * 2654435761u) >> 7;
  if (g_small_frames) return 80 + h % 41;
  uint32_t base = kind == kI ? 150000 : kind == kP ? 40000 : 18000;
  return base + h % (base / 8);
}

void grow_frame(const Bytes& src, uint32_t size, Bytes& out) {
  out.resize(size);
  for (uint32_t at = 0; at < size;) {
    uint32_t n =
        static_cast<uint32_t>(src.size()) < size - at ? static_cast<uint32_t>(src.size()) : size - at;
    std::memcpy(out.data() + at, src.data(), n);
    at += n;
  }
}

// The generated video: the sample's frames in order, grown, one at a time.
struct FrameSource {
  const Sample* sample = nullptr;
  Bytes frame;                    // the current frame
  uint32_t size = 0, left = 0;    // its size and the bytes not yet put in a packet
  uint32_t time_ms = 0;           // its presentation time
  uint8_t stream = kVideoStream;  // stream number byte, key frame flag on I frames
  uint64_t frames = 0, counts[3] = {0, 0, 0}, video_bytes = 0;
};

bool next_frame(FrameSource& src) {
  const Bytes& from = src.sample->frames[src.frames % src.sample->frames.size()];
  PictureKind kind = picture_kind(from[0]);
  src.size = src.left = grown_size(kind, src.frames);
  grow_frame(from, src.size, src.frame);
  src.time_ms = kPrerollMs + static_cast<uint32_t>((src.frames * kFramePeriod + 5000) / 10000);
  src.stream = kind == kI ? (0x80 | kVideoStream) : kVideoStream;
  src.counts[kind]++;
  src.video_bytes += src.size;
  src.frames++;
  return true;
}

// --- the header --------------------------------------------------------------------------

struct HeaderFields {  // places in the header patched once the data is written
  size_t file_size, packet_count, play_duration, send_duration;
};

void put_ext_stream_props(Bytes& b, uint8_t stream, uint32_t bitrate, uint32_t max_object, uint64_t period) {
  size_t o = open_object(b, kExtStreamPropsGuid);
  put64(b, 0);            // start time
  put64(b, 0);            // end time
  put32(b, bitrate);      // data bitrate
  put32(b, bitrate / 2);  // buffer size
  put32(b, bitrate / 4);  // initial buffer fullness
  put32(b, bitrate);      // alternate bitrate, buffer size, fullness
  put32(b, bitrate / 2);
  put32(b, bitrate / 4);
  put32(b, max_object);  // maximum object size
  put32(b, 0);           // flags
  put16(b, stream);
  put16(b, 0);       // language index
  put64(b, period);  // average time per frame
  put16(b, 0);       // stream name count
  put16(b, 0);       // payload extension system count
  close_object(b, o);
}

void put_stream_props(Bytes& b, const Guid& type, uint8_t stream, const Bytes& specific) {
  size_t o = open_object(b, kStreamPropsGuid);
  put_guid(b, type);
  put_guid(b, kNoErrorCorrectionGuid);
  put64(b, 0);  // time offset
  put32(b, static_cast<uint32_t>(specific.size()));
  put32(b, 0);       // error correction data length
  put16(b, stream);  // flags: stream number
  put32(b, 0);       // reserved
  put_bytes(b, specific.data(), specific.size());
  close_object(b, o);
}

Bytes build_header(const Sample& s, HeaderFields& at) {
  Bytes b;
  size_t top = open_object(b, kHeaderGuid);
  put32(b, 4);  // children
  put8(b, 1);
  put8(b, 2);

  size_t fp = open_object(b, kFilePropsGuid);
  put_guid(b, kFileIdGuid);
  at.file_size = b.size();
  put64(b, 0);
  put64(b, 0x01D0000000000000ull);  // creation date
  at.packet_count = b.size();
  put64(b, 0);
  at.play_duration = b.size();
  put64(b, 0);
  at.send_duration = b.size();
  put64(b, 0);
  put64(b, kPrerollMs);
  put32(b, 2);              // flags: seekable
  put32(b, g_packet_size);  // minimum and maximum data packet size
  put32(b, g_packet_size);
  put32(b, 12000000);  // maximum bitrate
  close_object(b, fp);

  size_t ext = open_object(b, kHeaderExtGuid);
  put_guid(b, kReserved1Guid);
  put16(b, 6);
  size_t ext_len = b.size();
  put32(b, 0);
  put_ext_stream_props(b, kVideoStream, 6500000, kMaxObjectSize, kFramePeriod);
  put_ext_stream_props(b, kAudioStream, 640000, 2048, 100000);
  set32(b, ext_len, static_cast<uint32_t>(b.size() - ext_len - 4));
  close_object(b, ext);

  Bytes audio;  // WAVEFORMATEX: PCM, 2 channels, 48 kHz, 16 bits
  put16(audio, 1);
  put16(audio, 2);
  put32(audio, 48000);
  put32(audio, 192000);
  put16(audio, 4);
  put16(audio, 16);
  put16(audio, 0);
  put_stream_props(b, kAudioMediaGuid, kAudioStream, audio);

  uint32_t codec_len = 1 + static_cast<uint32_t>(s.headers.size());
  Bytes video;
  put32(video, 240);  // encoded width and height (the sample's)
  put32(video, 104);
  put8(video, 2);                // reserved flags
  put16(video, 40 + codec_len);  // format data size
  put32(video, 40 + codec_len);  // BITMAPINFOHEADER: biSize
  put32(video, 240);
  put32(video, 104);
  put16(video, 1);   // planes
  put16(video, 24);  // bit count
  put_bytes(video, reinterpret_cast<const uint8_t*>("WVC1"), 4);
  put32(video, 240 * 104 * 3);  // image size
  put32(video, 0);
  put32(video, 0);
  put32(video, 0);
  put32(video, 0);
  put8(video, 0x25);
  put_bytes(video, s.headers.data(), s.headers.size());
  put_stream_props(b, kVideoMediaGuid, kVideoStream, video);

  close_object(b, top);
  return b;
}

// --- the packets -------------------------------------------------------------------------

// One data packet being filled. Payload bytes are copied in as they are added, since a
// packet may hold the end of one frame and the start of the next.
struct Packet {
  Bytes b;
  int payloads = 0;
};

void begin_packet(Packet& pk, uint32_t send_ms) {
  pk.b.clear();
  pk.payloads = 0;
  put8(pk.b, 0x82);
  put16(pk.b, 0);
  put8(pk.b, 0x11);
  put8(pk.b, 0x5D);
  put16(pk.b, 0);  // padding length, set by end_packet
  put32(pk.b, send_ms);
  put16(pk.b, 0);    // duration
  put8(pk.b, 0x80);  // payload flags: lengths as words, count set later
}

uint32_t packet_room(const Packet& pk) { return g_packet_size - static_cast<uint32_t>(pk.b.size()); }

void add_payload(Packet& pk, uint8_t stream, uint8_t object_number, uint32_t offset, uint32_t object_size,
                 uint32_t time_ms, const uint8_t* data, uint32_t length) {
  put8(pk.b, stream);
  put8(pk.b, object_number);
  put32(pk.b, offset);
  put8(pk.b, 8);
  put32(pk.b, object_size);
  put32(pk.b, time_ms);
  put16(pk.b, length);
  put_bytes(pk.b, data, length);
  pk.payloads++;
}

// Pads the packet to its fixed size and writes it.
bool end_packet(Packet& pk, FILE* f) {
  uint32_t padding = packet_room(pk);
  pk.b[5] = static_cast<uint8_t>(padding);
  pk.b[6] = static_cast<uint8_t>(padding >> 8);
  pk.b[kPacketHeader - 1] = static_cast<uint8_t>(0x80 | pk.payloads);
  pk.b.resize(g_packet_size, 0);
  return std::fwrite(pk.b.data(), 1, pk.b.size(), f) == pk.b.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 6 || (argc == 6 && std::strcmp(argv[5], "small") != 0)) {
    std::fprintf(stderr,
                 "usage: %s <sample.vc1> <out.wmv> [size in MiB, default 2048] [packet size, default 16000] "
                 "[small]\n",
                 argv[0]);
    return 2;
  }
  g_small_frames = argc == 6;
  if (argc >= 5) {
    uint64_t packet_size = std::strtoull(argv[4], nullptr, 10);
    // Payload lengths and padding are written as words; a packet must hold an audio chunk
    // (up to 2 KiB) and a piece of video beside it.
    if (packet_size < 4096 || packet_size > 65535) {
      std::fprintf(stderr, "packet size must be 4096 to 65535 bytes\n");
      return 2;
    }
    g_packet_size = static_cast<uint32_t>(packet_size);
  }
  uint64_t size_mib = argc >= 4 ? std::strtoull(argv[3], nullptr, 10) : 2048;
  // Sizes are 64-bit throughout, so inputs above 4 GiB are fine; 64 GiB is a sanity bound.
  if (size_mib < 1 || size_mib > 65536) {
    std::fprintf(stderr, "size must be 1 to 65536 MiB\n");
    return 2;
  }
  const uint64_t target = size_mib << 20;

  Sample s;
  if (!load_sample(argv[1], s)) {
    std::fprintf(stderr, "%s: not a VC-1 elementary stream with frames\n", argv[1]);
    return 1;
  }
  HeaderFields at{};
  Bytes header = build_header(s, at);

  FILE* f = std::fopen(argv[2], "wb");
  if (!f) {
    std::perror(argv[2]);
    return 1;
  }
  static char io_buffer[1 << 20];
  std::setvbuf(f, io_buffer, _IOFBF, sizeof io_buffer);
  Bytes data_head;
  open_object(data_head, kDataGuid);
  put_guid(data_head, kFileIdGuid);
  size_t data_packets_at = data_head.size();
  put64(data_head, 0);
  put16(data_head, 0x0101);
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
            std::fwrite(data_head.data(), 1, data_head.size(), f) == data_head.size();

  FrameSource src;
  src.sample = &s;
  Bytes audio(2048);
  for (size_t i = 0; i < audio.size(); i++) audio[i] = static_cast<uint8_t>(i * 7);
  uint32_t audio_objects = 0;
  uint64_t packets = 0;
  const uint64_t fixed = header.size() + data_head.size();
  // No frame is started once the file has reached the target size, so it ends at a frame
  // boundary a little beyond the target.
  auto target_reached = [&] { return fixed + packets * g_packet_size >= target; };
  Packet pk;
  bool more = !target_reached() && next_frame(src);
  while (ok && more) {
    begin_packet(pk, src.time_ms);
    if (packets % 8 != 7) {  // an audio chunk in seven packets of eight
      uint32_t len = 1024 + 4 * static_cast<uint32_t>((packets * 40503u) % 257);
      add_payload(pk, kAudioStream, static_cast<uint8_t>(audio_objects++), 0, len, src.time_ms, audio.data(),
                  len);
    }
    while (pk.payloads < kMaxPayloads && packet_room(pk) >= kPayloadHeader + kMinVideoPiece) {
      if (src.left == 0 && !(more = !target_reached() && next_frame(src))) break;
      uint32_t room = packet_room(pk) - kPayloadHeader;
      uint32_t len = src.left < room ? src.left : room;
      uint32_t offset = src.size - src.left;
      add_payload(pk, src.stream, static_cast<uint8_t>(src.frames - 1), offset, src.size, src.time_ms,
                  src.frame.data() + offset, len);
      src.left -= len;
    }
    ok = end_packet(pk, f);
    packets++;
    if (more && src.left == 0) more = !target_reached() && next_frame(src);
  }
  const uint64_t frames = src.frames;
  uint64_t data_size = data_head.size() + packets * g_packet_size;
  uint64_t file_size = header.size() + data_size;
  uint64_t duration = frames * kFramePeriod + kPrerollMs * 10000ull;
  set64(header, at.file_size, file_size);
  set64(header, at.packet_count, packets);
  set64(header, at.play_duration, duration);
  set64(header, at.send_duration, duration - kPrerollMs * 10000ull);
  set64(data_head, 16, data_size);
  set64(data_head, data_packets_at, packets);
  ok = ok && std::fflush(f) == 0 && std::fseek(f, 0, SEEK_SET) == 0 &&
       std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
       std::fwrite(data_head.data(), 1, data_head.size(), f) == data_head.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "%s: write failed\n", argv[2]);
    return 1;
  }
  std::printf("%s: %" PRIu64 " bytes, %" PRIu64 " packets of %u, %" PRIu64 " frames (I %" PRIu64
              ", P %" PRIu64 ", B %" PRIu64 "), %" PRIu64 " video bytes, %u audio payloads\n",
              argv[2], file_size, packets, g_packet_size, frames, src.counts[kI], src.counts[kP],
              src.counts[kB], src.video_bytes, audio_objects);
  return 0;
}
