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
  bool open;            // a header's object is open
  const bool* written;  // per row: the writer's walk reaches it; null: the fields' presence decides

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
    if (written != nullptr ? written[row] : d.present != 0) {
      json_uint(json, name, d.value);
    } else {
      json_null(json, name);
    }
  }

  void rate_buffer_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    if (n == 0 || (written != nullptr && !written[vc1_find_field(table, VC1_HRD_RATE_BUFFER_LOOP)])) return;
    json_begin_array(json, "HRD_RATE", kJsonOneLine);
    for (uint32_t j = 0; j < n; j++) json_uint(json, nullptr, table->hrd_rate_buffer[j].rate);
    json_end(json);
    json_begin_array(json, "HRD_BUFFER", kJsonOneLine);
    for (uint32_t j = 0; j < n; j++) json_uint(json, nullptr, table->hrd_rate_buffer[j].buffer);
    json_end(json);
  }

  void full_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    if (n == 0 || (written != nullptr && !written[vc1_find_field(table, VC1_HRD_FULL_LOOP)])) return;
    json_begin_array(json, "HRD_FULL", kJsonOneLine);
    for (uint32_t j = 0; j < n; j++) json_uint(json, nullptr, table->hrd_full[j]);
    json_end(json);
  }

  void entry_point_start() {}
};

// Marks the rows the writer's walk reaches, as vc1_write_headers walks them.
struct WrittenRows {
  const Vc1HeaderTable* table;
  bool* written;

  void start_code(int row) { written[row] = true; }
  void field(int row) { written[row] = true; }
  void rate_buffer_loop() { written[vc1_find_field(table, VC1_HRD_RATE_BUFFER_LOOP)] = true; }
  void full_loop() { written[vc1_find_field(table, VC1_HRD_FULL_LOOP)] = true; }
  void entry_point_start() {}
};

}  // namespace

void vc1_json_headers(const Vc1HeaderTable* table, JsonWriter* json) {
  HeaderWriter writer{table, json, false, nullptr};
  vc1_walk_rows(table, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kEveryRow, writer);
  if (writer.open) json_end(json);
}

void vc1_json_written_headers(const Vc1HeaderTable* table, JsonWriter* json) {
  bool written[kVc1RowCount] = {};
  WrittenRows rows{table, written};
  vc1_walk_rows(table, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kBitstream, rows);
  HeaderWriter writer{table, json, false, written};
  vc1_walk_rows(table, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kEveryRow, writer);
  if (writer.open) json_end(json);
}
