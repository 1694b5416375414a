// What the ASF header says, as the "asf" member of the JSON document.
#include "asf/asf.h"
#include "report/json.h"

namespace {

// A number the header may leave unknown (0): null then.
void known_or_null(JsonWriter* json, const char* key, uint64_t value) {
  if (value != 0) {
    json_uint(json, key, value);
  } else {
    json_null(json, key);
  }
}

void write_stream(const AsfParserContext* context, const AsfStreamRecord* record, JsonWriter* json) {
  json_begin_object(json, nullptr);
  json_uint(json, "number", record->stream_number);
  // A stream type the program does not know has no name.
  const char* type = asf_stream_type_name(record->stream_properties + kStreamPropertiesStreamTypeOffset);
  if (type[0] != '<') {
    json_string(json, "type", type);
  } else {
    json_null(json, "type");
  }
  const uint8_t* fourcc = record->fourcc;
  if (fourcc[0] != 0 || fourcc[1] != 0 || fourcc[2] != 0 || fourcc[3] != 0) {
    json_string_bytes(json, "fourcc", reinterpret_cast<const char*>(fourcc), 4);
  } else {
    json_null(json, "fourcc");
  }
  known_or_null(json, "width", record->width);
  known_or_null(json, "height", record->height);
  json_uint(json, "bitrate", record->bitrate);
  known_or_null(json, "frame_period", record->ext_stream_properties.avg_time_per_frame);
  if (record->par_x != 0 || record->par_y != 0) {
    json_begin_object(json, "aspect_ratio", kJsonOneLine);
    known_or_null(json, "x", record->par_x);
    known_or_null(json, "y", record->par_y);
    json_end(json);
  } else {
    json_null(json, "aspect_ratio");
  }
  json_bool(json, "encrypted", asf_stream_is_encrypted(context, record));
  json_bool(json, "usable", asf_stream_is_usable(record));
  json_end(json);
}

}  // namespace

void asf_json_header(const AsfParserContext* context, JsonWriter* json) {
  json_begin_object(json, "asf");
  json_begin_object(json, "file_properties");
  json_uint(json, "packet_size", context->max_packet_size);
  json_uint(json, "preroll", context->preroll);
  json_uint(json, "play_duration", context->play_duration);
  json_bool(json, "broadcast", (context->file_flags & kFilePropertiesBroadcast) != 0);
  json_end(json);

  json_begin_array(json, "streams");
  // A stream is one a Stream Properties Object describes: metadata or extended properties
  // that name any other number describe no stream.
  for (const AsfStreamRecord* record : context->streams) {
    if (record != nullptr && record->has_properties) write_stream(context, record, json);
  }
  json_end(json);

  if (context->chosen_stream != 0) {
    json_begin_object(json, "chosen_stream", kJsonOneLine);
    json_uint(json, "number", context->chosen_stream);
    json_string(json, "by", context->chosen_on_command_line ? "command_line" : "highest_bitrate");
    json_end(json);
  } else {
    json_null(json, "chosen_stream");
  }
  if (context->encoder[0] != '\0') {
    json_string(json, "encoder", context->encoder);
  } else {
    json_null(json, "encoder");
  }
  json_end(json);
}
