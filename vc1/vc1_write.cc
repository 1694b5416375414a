// Turns the header field table back into sequence-header and entry-point-header bytes.
#include <cstring>

#include "vc1/vc1.h"
#include "vc1/vc1_walk.h"

void write_bits(Vc1BitWriter* cursor, uint32_t value, uint32_t width) {
  uint32_t position = cursor->position;
  uint64_t end = static_cast<uint64_t>(position) + width;
  cursor->position += width;
  if (width > 32 || end > UINT32_MAX || end / 8 >= cursor->length) {
    cursor->overrun = true;
    return;
  }
  for (uint32_t i = 0; i < width; i++) {
    uint32_t bit = (value >> (width - 1 - i)) & 1u;
    uint64_t k = position + static_cast<uint64_t>(i);
    if (bit) cursor->data[k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
  }
}

namespace {

// Writes each row the walk reaches. Presence plays no part: every row the conditions
// select is written, the start-code rows giving the start-code bytes.
struct HeaderWriter {
  const Vc1HeaderTable* table;
  Vc1BitWriter cursor;

  void start_code(int row) { field(row); }

  void field(int row) {
    const Vc1FieldDescriptor& d = table->rows[row];
    write_bits(&cursor, d.value, d.width);
  }

  void rate_buffer_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    for (uint32_t j = 0; j < n; j++) {
      write_bits(&cursor, table->hrd_rate_buffer[j].rate, 16);
      write_bits(&cursor, table->hrd_rate_buffer[j].buffer, 16);
    }
  }

  void full_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    for (uint32_t j = 0; j < n; j++) write_bits(&cursor, table->hrd_full[j], 8);
  }

  // Ends the sequence header with a single 1 bit, then zero bits up to the next byte
  // boundary: at least one bit and at most eight, so a header whose fields end on a
  // boundary gets a whole 0x80 byte.
  void entry_point_start() {
    write_bits(&cursor, 1, 1);
    cursor.position = (cursor.position + 7) & ~7u;
  }
};

}  // namespace

bool vc1_write_headers(bool entry_point_only, const Vc1HeaderTable* table, HeaderBuffer* out) {
  std::memset(out->data, 0, sizeof out->data);
  HeaderWriter writer{table, {out->data, kHeaderBufferSize, 0, false}};
  vc1_walk_rows(table, entry_point_only ? VC1_ENTRY_POINT_HEADER : VC1_SEQUENCE_HEADER,
                Vc1WalkOrder::kBitstream, writer);
  write_bits(&writer.cursor, 1, 1);  // the entry-point header's stop bit
  uint32_t count = (writer.cursor.position + 7) / 8;
  out->count = count < kHeaderBufferSize ? count : kHeaderBufferSize;
  return !writer.cursor.overrun;
}
