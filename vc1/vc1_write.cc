// Turns the header field table back into sequence-header and entry-point-header bytes.
#include <cstring>

#include "vc1/vc1.h"

void write_bits(Vc1BitCursor* cursor, uint32_t position, uint32_t value, uint32_t width) {
  uint64_t end = static_cast<uint64_t>(position) + width;
  if (width > 32 || end > UINT32_MAX || end / 8 >= cursor->length) return;
  for (uint32_t i = 0; i < width; i++) {
    uint32_t bit = (value >> (width - 1 - i)) & 1u;
    uint64_t k = position + static_cast<uint64_t>(i);
    if (bit) cursor->data[k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
  }
}

namespace {

// A single 1 bit, then zero bits up to the next byte boundary: at least one bit and at
// most eight, so a header whose fields end on a boundary gets a whole 0x80 byte.
void write_stop_bit(Vc1BitCursor* cursor) {
  write_bits(cursor, cursor->position, 1, 1);
  cursor->position = (cursor->position + 8) & ~7u;
}

void write_hrd_rate_buffer(const Vc1HeaderTable* table, Vc1BitCursor* cursor) {
  uint32_t n = vc1_leaky_bucket_count(table);
  for (uint32_t j = 0; j < n; j++) {
    write_bits(cursor, cursor->position, table->hrd_rate_buffer[j].rate, 16);
    cursor->position += 16;
    write_bits(cursor, cursor->position, table->hrd_rate_buffer[j].buffer, 16);
    cursor->position += 16;
  }
}

void write_hrd_full(const Vc1HeaderTable* table, Vc1BitCursor* cursor) {
  uint32_t n = vc1_leaky_bucket_count(table);
  for (uint32_t j = 0; j < n; j++) {
    write_bits(cursor, cursor->position, table->hrd_full[j], 8);
    cursor->position += 8;
  }
}

}  // namespace

int vc1_write_headers(int entry_point_only, const Vc1HeaderTable* table, HeaderBuffer* out) {
  std::memset(out->data, 0, sizeof out->data);
  Vc1BitCursor cursor{out->data, kHeaderBufferSize, 0};

  int row = vc1_find_field(table, entry_point_only ? VC1_ENTRY_POINT_HEADER : VC1_SEQUENCE_HEADER);
  while (row < kVc1RowCount && table->rows[row].id != VC1_TABLE_END) {
    const Vc1FieldDescriptor& d = table->rows[row];
    switch (d.id) {
      case VC1_HRD_RATE_BUFFER_LOOP:
        write_hrd_rate_buffer(table, &cursor);
        row++;
        break;
      case VC1_HRD_FULL_LOOP:
        write_hrd_full(table, &cursor);
        row++;
        break;
      case VC1_ENTRY_POINT_START:
        write_stop_bit(&cursor);  // ends the sequence header
        row++;
        break;
      default:
        // Presence plays no part here: every row the conditions select is written, the
        // header rows giving the start-code bytes.
        write_bits(&cursor, cursor.position, d.value, d.width);
        cursor.position += d.width;
        row = vc1_next_row(table, row);
        break;
    }
  }
  write_bits(&cursor, cursor.position, 1, 1);
  uint32_t count = (cursor.position + 8) / 8;
  out->count = count < kHeaderBufferSize ? count : kHeaderBufferSize;
  return 1;
}
