// Test support: the ASF writer and its reader (see wmv_writer.h).
#include "tests/support/wmv_writer.h"

#include <algorithm>
#include <cstring>

namespace {

const Guid kGuidStreamBitrates = guid_from_text("7BF875CE-468D-11D1-8D82-006097C9A2B2");
const Guid kGuidPixelAspectRatioExtension = guid_from_text("1B1EE554-F9EA-4BC8-821A-376B74E4C4B8");
constexpr uint32_t kVideoHeaderBytes = 11 + 40;  // before the codec data in the type-specific data
constexpr uint32_t kFourccAt = 11 + 16;          // biCompression
constexpr uint32_t kCodeWidth[4] = {0, 1, 2, 4};
constexpr uint32_t kDataHeaderBytes = 50;  // Data Object: object header, File ID, packet count, reserved
constexpr uint32_t kMaxPayloads = 63;      // the Payload Flags' count field
constexpr uint8_t kFiller = 0x5A;

uint64_t le(const uint8_t* p, uint32_t width) {
  uint64_t value = 0;
  for (uint32_t i = width; i-- > 0;) value = value << 8 | p[i];
  return value;
}

bool same_guid(const uint8_t* p, const Guid& guid) { return std::memcmp(p, guid.data(), 16) == 0; }

// --- reading ------------------------------------------------------------------------

// Puts one piece (or one whole compressed sub-payload) of the stream into its object.
void take_piece(const WmvPayload& payload, const uint8_t* data, uint32_t length, WmvSource* source) {
  std::vector<WmvObject>& objects = source->file.objects;
  auto object = std::find_if(objects.rbegin(), objects.rend(),
                             [&](const WmvObject& o) { return o.number == payload.number; });
  if (payload.compressed || payload.offset == 0 || object == objects.rend()) {
    uint32_t frame = static_cast<uint32_t>(source->frames.size());
    objects.push_back({payload.stream, frame, payload.number, {}, {}});
    source->frames.push_back(
        {Bytes(payload.compressed ? length : payload.object_size), payload.key, payload.time_ms});
    object = objects.rbegin();
  }
  Bytes& bytes = source->frames[object->frame].data;
  uint32_t offset = payload.compressed ? 0 : payload.offset;
  if (bytes.size() < offset + length) bytes.resize(offset + length);
  std::memcpy(bytes.data() + offset, data, length);
}

}  // namespace

bool parse_wmv_packet(const uint8_t* d, uint32_t size, std::vector<WmvPayload>* payloads) {
  payloads->clear();
  uint32_t p = 0;
  uint32_t end = size;  // the packet's end; a smaller Packet Length moves it
  auto field = [&](uint32_t code, uint32_t* value) {
    uint32_t width = kCodeWidth[code & 3];
    if (p + width > end) return false;
    *value = static_cast<uint32_t>(le(d + p, width));
    p += width;
    return true;
  };
  if (size < 1) return false;
  if (d[0] & 0x80) p = 1 + (d[0] & 0x0F);  // error correction flags and data
  if (p + 2 > size) return false;
  uint8_t length_type = d[p];
  uint8_t properties = d[p + 1];
  p += 2;
  uint32_t packet_length = 0, sequence = 0, padding = 0, unused = 0, count = 1, length_code = 0;
  if (!field(length_type >> 5, &packet_length) || !field(length_type >> 1, &sequence) ||
      !field(length_type >> 3, &padding) || !field(3, &unused) || !field(2, &unused)) {
    return false;
  }
  if (packet_length != 0 && packet_length < size) end = packet_length;
  if (p > end) return false;
  bool multiple = length_type & 1;
  if (multiple) {
    if (!field(1, &count)) return false;
    length_code = count >> 6;
    count &= 0x3F;
  }
  for (uint32_t i = 0; i < count; i++) {
    WmvPayload payload;
    payload.head = p;
    uint32_t stream = 0, replicated = 0;
    if (!field(1, &stream) || !field(properties >> 4, &payload.number) ||
        !field(properties >> 2, &payload.offset) || !field(properties, &replicated)) {
      return false;
    }
    payload.stream = stream & 0x7F;
    payload.key = (stream & 0x80) != 0;
    payload.compressed = replicated == 1;
    if (replicated == 1) {
      payload.time_ms = payload.offset;
      if (!field(1, &payload.time_delta)) return false;
    } else if (replicated >= 8) {
      if (p + replicated > end) return false;
      payload.object_size = static_cast<uint32_t>(le(d + p, 4));
      payload.time_ms = static_cast<uint32_t>(le(d + p + 4, 4));
      p += replicated;
    } else if (replicated != 0) {
      return false;
    }
    if (multiple) {
      if (!field(length_code, &payload.length)) return false;
    } else {
      if (padding > end || p > end - padding) return false;
      payload.length = end - padding - p;
    }
    payload.at = p;
    if (payload.length > end - p) return false;
    p += payload.length;
    payloads->push_back(payload);
  }
  return padding <= end - p;
}

bool read_wmv(const Bytes& b, uint8_t stream, WmvSource* source) {
  *source = {};
  if (b.size() < 30 || !same_guid(b.data(), kGuidHeaderObject)) return false;
  uint64_t header_size = le(&b[16], 8);
  if (header_size + kDataHeaderBytes > b.size()) return false;
  for (uint64_t p = 30; p + 24 <= header_size;) {
    const uint8_t* object = &b[p];
    uint64_t size = le(object + 16, 8);
    if (size < 24 || p + size > header_size) return false;
    if (same_guid(object, kGuidFileProperties) && size >= 24 + 72) {
      source->file.packet_size = static_cast<uint32_t>(le(object + 24 + 68, 4));
    }
    if (same_guid(object, kGuidStreamProperties) && size >= 24 + 54 && (object[24 + 48] & 0x7F) == stream) {
      uint64_t length = std::min<uint64_t>(le(object + 24 + 40, 4), size - 24 - 54);
      source->type_specific.assign(object + 24 + 54, object + 24 + 54 + length);
    }
    p += size;
  }
  WmvFile& file = source->file;
  if (file.packet_size == 0 || !same_guid(&b[header_size], kGuidDataObject)) return false;
  file.packet_area = header_size + kDataHeaderBytes;
  file.packet_count = static_cast<uint32_t>((b.size() - file.packet_area) / file.packet_size);
  std::vector<WmvPayload> payloads;
  for (uint32_t k = 0; k < file.packet_count; k++) {
    const uint8_t* packet = &b[file.packet_area + uint64_t{k} * file.packet_size];
    if (!parse_wmv_packet(packet, file.packet_size, &payloads)) return false;
    for (WmvPayload payload : payloads) {
      if (payload.stream != stream) continue;
      const uint8_t* data = packet + payload.at;
      const uint8_t* data_end = data + payload.length;
      uint64_t where = file.packet_area + uint64_t{k} * file.packet_size + payload.head;
      while (data < data_end) {
        uint32_t length = static_cast<uint32_t>(data_end - data);
        if (payload.compressed) length = std::min<uint32_t>(*data++, length - 1);
        take_piece(payload, data, length, source);
        file.objects.back().packets.push_back(k);
        file.objects.back().offsets.push_back(where);
        data += length;
        if (payload.compressed) {
          payload.number = (payload.number + 1) & 0xFF;
          payload.time_ms += payload.time_delta;
        }
      }
    }
  }
  file.bytes = b;
  return !source->frames.empty();
}

const WmvSource& sample_wmv() {
  static const WmvSource source = [] {
    WmvSource read;
    read_wmv(read_file(testdata_path("vc1ap_240x104.wmv")), 1, &read);
    return read;
  }();
  return source;
}

// --- writing ------------------------------------------------------------------------

namespace {

// The packet area being written; one packet is open at a time.
struct Packets {
  uint32_t size = 0;
  uint32_t width = 2;  // of the Padding Length and Payload Length fields: a dword past 64 KiB
  uint32_t audio_bytes = 0;
  uint32_t audio_lead_ms = 0;
  Bytes area;
  size_t start = 0;  // of the open packet in `area`
  uint32_t payloads = 0;
  uint32_t count = 0;  // packets closed
  bool open = false;
  uint8_t audio_number = 0;
};

uint32_t room(const Packets& p) {
  return p.open ? p.size - static_cast<uint32_t>(p.area.size() - p.start) : 0;
}

uint32_t code_of(uint32_t width) { return width == 4 ? 3 : 2; }

void close_packet(Packets* p) {
  if (!p->open) return;
  uint32_t padding = room(*p);
  for (uint32_t i = 0; i < p->width; i++)
    p->area[p->start + 5 + i] = static_cast<uint8_t>(padding >> (8 * i));
  p->area[p->start + 5 + p->width + 6] = static_cast<uint8_t>(code_of(p->width) << 6 | p->payloads);
  p->area.insert(p->area.end(), padding, 0);
  p->open = false;
  p->count++;
}

// Stream byte, object number, offset (or presentation time), replicated data, length, data.
void add_payload(Packets* p, uint8_t stream, uint32_t number, uint32_t offset, const Bytes& replicated,
                 const Bytes& data) {
  p->area.push_back(stream);
  p->area.push_back(static_cast<uint8_t>(number));
  put_le32(&p->area, offset);
  p->area.push_back(static_cast<uint8_t>(replicated.size()));
  put_bytes(&p->area, replicated);
  put_le(&p->area, data.size(), p->width);
  put_bytes(&p->area, data);
  p->payloads++;
}

Bytes object_size_and_time(uint32_t size, uint32_t time_ms) {
  Bytes out;
  put_le32(&out, size);
  put_le32(&out, time_ms);
  return out;
}

// Closes the open packet and opens the next; an audio object comes first in it.
void open_packet(Packets* p, uint32_t send_ms) {
  close_packet(p);
  p->start = p->area.size();
  p->open = true;
  p->payloads = 0;
  p->area.insert(p->area.end(),
                 {0x82, 0x00, 0x00, static_cast<uint8_t>(0x01 | code_of(p->width) << 3), 0x5D});
  put_le(&p->area, 0, p->width);  // Padding Length, set on closing
  put_le32(&p->area, send_ms);
  put_le16(&p->area, 0);    // Duration
  p->area.push_back(0x80);  // Payload Flags, set on closing
  if (p->audio_bytes > 0) {
    Bytes audio(p->audio_bytes, static_cast<uint8_t>(0xA0 ^ p->audio_number));
    add_payload(p, kWmvAudioStream, p->audio_number++, 0,
                object_size_and_time(p->audio_bytes, send_ms - p->audio_lead_ms), audio);
  }
}

// Makes sure the open packet has `need` bytes and a payload left.
void make_room(Packets* p, uint32_t need, uint32_t send_ms) {
  if (room(*p) < need || p->payloads == kMaxPayloads) open_packet(p, send_ms);
}

struct Sent {  // one media object of a video stream, in send order
  uint8_t stream;
  uint32_t frame;
  uint32_t number;
  uint32_t time_ms;
  bool compressible;  // goes in a compressed payload
  Bytes extension;    // payload extension data behind the object's size and time
};

uint8_t stream_byte(const WmvSource& source, const Sent& s) {
  return static_cast<uint8_t>(s.stream | (source.frames[s.frame].key ? 0x80 : 0));
}

void record(const Packets& p, const Sent& s, std::vector<WmvObject>* objects) {
  if (objects->empty() || objects->back().stream != s.stream || objects->back().frame != s.frame) {
    objects->push_back({s.stream, s.frame, s.number & 0xFF, {}, {}});
  }
  objects->back().packets.push_back(p.count);
  objects->back().offsets.push_back(p.area.size());  // made a file offset once the header is known
}

// Sends sent[i] and the frames after it that join it in one compressed payload; returns
// how many went.
size_t send_compressed(const WmvSource& source, const std::vector<Sent>& sent, size_t i, Packets* p,
                       std::vector<WmvObject>* objects) {
  const uint32_t head = 1 + 1 + 4 + 1 + 1 + p->width;
  make_room(p, head + 1 + static_cast<uint32_t>(source.frames[sent[i].frame].data.size()), sent[i].time_ms);
  size_t n = 1;
  uint32_t used = head + 1 + static_cast<uint32_t>(source.frames[sent[i].frame].data.size());
  uint32_t delta = 0;
  for (; i + n < sent.size(); n++) {
    const Sent& next = sent[i + n];
    const Bytes& data = source.frames[next.frame].data;
    uint32_t step = next.time_ms - sent[i + n - 1].time_ms;
    if (n == 1) delta = step;
    if (next.stream != sent[i].stream || !next.compressible || step != delta || delta > 255 ||
        stream_byte(source, next) != stream_byte(source, sent[i]) || used + 1 + data.size() > room(*p)) {
      break;
    }
    used += 1 + static_cast<uint32_t>(data.size());
  }
  Bytes runs;
  for (size_t k = 0; k < n; k++) {
    const Bytes& data = source.frames[sent[i + k].frame].data;
    record(*p, sent[i + k], objects);
    runs.push_back(static_cast<uint8_t>(data.size()));
    put_bytes(&runs, data);
  }
  add_payload(p, stream_byte(source, sent[i]), sent[i].number, sent[i].time_ms,
              {static_cast<uint8_t>(n > 1 ? delta : 0)}, runs);
  return n;
}

// Sends one frame as its pieces, each split where a packet ends.
void send_pieces(const WmvSource& source, const Sent& s, const std::vector<WmvPiece>& pieces, Packets* p,
                 std::vector<WmvObject>* objects) {
  const Bytes& frame = source.frames[s.frame].data;
  const uint32_t head = 1 + 1 + 4 + 1 + 8 + static_cast<uint32_t>(s.extension.size()) + p->width;
  for (const WmvPiece& piece : pieces) {
    for (uint32_t done = 0; done < piece.length;) {
      make_room(p, head + 1, s.time_ms);
      uint32_t n = std::min(piece.length - done, room(*p) - head);
      Bytes data(n, kFiller);
      uint32_t from = piece.offset + done;
      if (from < frame.size()) {
        std::copy_n(frame.begin() + from, std::min<size_t>(n, frame.size() - from), data.begin());
      }
      record(*p, s, objects);
      Bytes replicated = object_size_and_time(static_cast<uint32_t>(frame.size()), s.time_ms);
      put_bytes(&replicated, s.extension);
      add_payload(p, stream_byte(source, s), s.number, from, replicated, data);
      done += n;
    }
  }
}

Bytes header_object(const WmvSource& source, const WmvLayout& layout, uint64_t file_size, uint32_t packets,
                    uint32_t duration_ms) {
  Bytes props;
  put_guid(&props, guid_from_text("2F1D5A10-6C3E-4B7A-9E0D-5A1C2B3D4E5F"));  // File ID
  put_le64(&props, file_size);
  put_le64(&props, 0);  // Creation Date
  put_le64(&props, packets);
  put_le64(&props, (uint64_t{duration_ms} + layout.preroll_ms) * 10000);  // Play Duration
  put_le64(&props, uint64_t{duration_ms} * 10000);                        // Send Duration
  put_le64(&props, layout.preroll_ms);
  put_le32(&props, 2);  // Flags: seekable
  put_le32(&props, layout.packet_size);
  put_le32(&props, layout.packet_size);
  put_le32(&props, 1000000);  // Maximum Bitrate
  std::vector<Bytes> extension;
  std::vector<Bytes> streams;
  Bytes bitrates;
  uint16_t listed = 0;
  uint32_t largest = 0;
  for (const WmvFrame& f : source.frames) largest = std::max(largest, static_cast<uint32_t>(f.data.size()));
  for (const WmvVideoStream& v : layout.video) {
    StreamPropertiesSpec video;
    video.flags = static_cast<uint16_t>(v.number | (v.encrypted ? 0x8000 : 0));
    video.codec_data = source.type_specific;
    if (layout.codec_data) {
      video.codec_data.resize(kVideoHeaderBytes);
      put_bytes(&video.codec_data, *layout.codec_data);
    }
    for (size_t i = 0; i < v.fourcc.size() && i < 4; i++) video.codec_data[kFourccAt + i] = v.fourcc[i];
    video.video_header = false;
    if (v.ext_bitrate != 0 || v.frame_period != 0 || v.embedded || v.par_x != 0) {
      ExtStreamSpec ext;
      ext.stream_number = v.number;
      ext.data_bitrate = v.ext_bitrate;
      ext.buffer_size = v.ext_bitrate / 2;
      ext.max_object_size = largest;
      ext.avg_time_per_frame = v.frame_period;
      if (v.par_x != 0) {
        PayloadExtSystemSpec aspect;
        aspect.system_id = kGuidPixelAspectRatioExtension;
        aspect.data_size = 2;
        ext.payload_ext_systems = {aspect};
      }
      if (v.embedded) ext.embedded = build_stream_properties(video);
      extension.push_back(build_ext_stream_properties(ext));
    }
    if (!v.embedded) streams.push_back(build_stream_properties(video));
    if (v.listed_bitrate != 0) {
      put_le16(&bitrates, v.number);
      put_le32(&bitrates, v.listed_bitrate);
      listed++;
    }
  }
  if (layout.audio_bytes > 0) {
    StreamPropertiesSpec audio;  // PCM, 2 channels, 48 kHz, 16 bits
    audio.stream_type = kGuidAudioMedia;
    audio.flags = kWmvAudioStream;
    audio.video_header = false;
    for (uint32_t v : {1u, 2u}) put_le16(&audio.codec_data, static_cast<uint16_t>(v));
    for (uint32_t v : {48000u, 192000u}) put_le32(&audio.codec_data, v);
    for (uint32_t v : {4u, 16u, 0u}) put_le16(&audio.codec_data, static_cast<uint16_t>(v));
    streams.push_back(build_stream_properties(audio));
  }
  for (const Bytes& b : layout.extension_objects) extension.push_back(b);
  std::vector<Bytes> children = {build_object(kGuidFileProperties, props)};
  if (!layout.extension_last) children.push_back(build_header_extension(extension));
  for (Bytes& s : streams) children.push_back(std::move(s));
  if (layout.extension_last) children.push_back(build_header_extension(extension));
  if (listed > 0) {
    Bytes body;
    put_le16(&body, listed);
    put_bytes(&body, bitrates);
    children.push_back(build_object(kGuidStreamBitrates, body));
  }
  for (const Bytes& b : layout.header_objects) children.push_back(b);
  return build_header_object(children);
}

// The source's frames as an elementary stream holds them.
WmvSource as_elementary_stream(const WmvSource& source) {
  WmvSource out = source;
  for (WmvFrame& f : out.frames) {
    Bytes data = f.key ? sample_headers() : Bytes{};
    put_bytes(&data, {0x00, 0x00, 0x01, 0x0D});
    put_bytes(&data, f.data);
    f.data = data;
  }
  return out;
}

}  // namespace

Bytes sample_headers() {
  // The codec data follows the video header; its first byte is not part of the headers.
  const Bytes& type_specific = sample_wmv().type_specific;
  return Bytes(type_specific.begin() + kVideoHeaderBytes + 1, type_specific.end());
}

WmvFile write_wmv(const WmvSource& original, const WmvLayout& layout) {
  WmvSource elementary = layout.elementary_frames ? as_elementary_stream(original) : WmvSource{};
  const WmvSource& source = layout.elementary_frames ? elementary : original;
  std::vector<std::vector<Sent>> streams;
  for (const WmvVideoStream& v : layout.video) {
    std::vector<Sent>& sent = streams.emplace_back();
    uint32_t number = 1;
    for (uint32_t f = 0; f < source.frames.size(); f++) {
      if (!v.frames.empty() && std::find(v.frames.begin(), v.frames.end(), f) == v.frames.end()) continue;
      uint32_t time = f < layout.times_ms.size() ? layout.times_ms[f] : source.frames[f].time_ms;
      bool shaped = &v == &layout.video[0] && f == layout.shaped_frame;
      bool small = source.frames[f].data.size() <= 255;
      Bytes extension;
      if (v.par_x != 0) extension = {v.par_x, v.par_y};
      sent.push_back({v.number, f, number++, time, layout.compressed && small && !shaped, extension});
    }
  }
  // Each stream's objects go in their own (decode) order, whatever their times say; the
  // streams are interleaved by time, the first listed first on a tie.
  std::vector<Sent> sent;
  std::vector<size_t> next(streams.size(), 0);
  for (;;) {
    size_t best = streams.size();
    for (size_t s = 0; s < streams.size(); s++) {
      if (next[s] == streams[s].size()) continue;
      if (best == streams.size() || streams[s][next[s]].time_ms < streams[best][next[best]].time_ms) best = s;
    }
    if (best == streams.size()) break;
    sent.push_back(streams[best][next[best]++]);
  }

  Packets p;
  p.size = layout.packet_size;
  p.width = layout.packet_size > 0xFFFF ? 4 : 2;
  p.audio_bytes = layout.audio_bytes;
  p.audio_lead_ms = layout.audio_lead_ms;
  WmvFile file;
  for (size_t i = 0; i < sent.size();) {
    const Sent& s = sent[i];
    bool shaped = s.stream == layout.video[0].number && s.frame == layout.shaped_frame;
    if (s.compressible) {
      i += send_compressed(source, sent, i, &p, &file.objects);
      continue;
    }
    uint32_t size = static_cast<uint32_t>(source.frames[s.frame].data.size());
    send_pieces(source, s, shaped ? layout.pieces : std::vector<WmvPiece>{{0, size}}, &p, &file.objects);
    i++;
  }
  close_packet(&p);

  uint32_t duration = 0;
  for (const Sent& s : sent) duration = std::max(duration, s.time_ms);
  Bytes header = header_object(source, layout, 0, p.count, duration);
  uint64_t data_size = kDataHeaderBytes + p.area.size();
  file.bytes = header_object(source, layout, layout.data_object ? header.size() + data_size : header.size(),
                             p.count, duration);
  file.packet_area = file.bytes.size() + kDataHeaderBytes;
  file.packet_size = layout.packet_size;
  file.packet_count = p.count;
  for (WmvObject& o : file.objects) {
    for (uint64_t& offset : o.offsets) offset += file.packet_area;
  }
  if (!layout.data_object) return file;
  put_guid(&file.bytes, kGuidDataObject);
  put_le64(&file.bytes,
           layout.data_object_size >= 0 ? static_cast<uint64_t>(layout.data_object_size) : data_size);
  put_guid(&file.bytes, guid_from_text("2F1D5A10-6C3E-4B7A-9E0D-5A1C2B3D4E5F"));
  put_le64(&file.bytes, p.count);
  file.bytes.insert(file.bytes.end(), {0x01, 0x01});
  put_bytes(&file.bytes, p.area);
  return file;
}
