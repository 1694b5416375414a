// The header field table as members of the JSON document, by the printer's walk.
#include "report/json.h"
#include "vc1/vc1.h"
#include "vc1/vc1_walk.h"

namespace {

// Every row in table order, as the printer lists them: a start-code row opens its
// header's object, a field row with bits is a member.
struct HeaderWriter {
  const Vc1HeaderTable* table;
  JsonWriter* json;
  bool open;  // a header's object is open

  void start_code(int row) {
    if (open) json_end(json);
    json_begin_object(json, table->rows[row].id == VC1_SEQUENCE_HEADER ? "sequence_header" : "entry_point");
    open = true;
  }

  void field(int row) {
    const Vc1FieldDescriptor& d = table->rows[row];
    if (d.width == 0) return;
    const char* name = d.name;
    while (*name == '-') name++;
    if (d.present) {
      json_uint(json, name, d.value);
    } else {
      json_null(json, name);
    }
  }

  void rate_buffer_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    if (n == 0) return;
    json_begin_array(json, "HRD_RATE", kJsonOneLine);
    for (uint32_t j = 0; j < n; j++) json_uint(json, nullptr, table->hrd_rate_buffer[j].rate);
    json_end(json);
    json_begin_array(json, "HRD_BUFFER", kJsonOneLine);
    for (uint32_t j = 0; j < n; j++) json_uint(json, nullptr, table->hrd_rate_buffer[j].buffer);
    json_end(json);
  }

  void full_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    if (n == 0) return;
    json_begin_array(json, "HRD_FULL", kJsonOneLine);
    for (uint32_t j = 0; j < n; j++) json_uint(json, nullptr, table->hrd_full[j]);
    json_end(json);
  }

  void entry_point_start() {}
};

}  // namespace

void vc1_json_headers(const Vc1HeaderTable* table, JsonWriter* json) {
  HeaderWriter writer{table, json, false};
  vc1_walk_rows(table, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kEveryRow, writer);
  if (writer.open) json_end(json);
}
