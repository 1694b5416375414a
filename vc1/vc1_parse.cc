// Reads a sequence header and an entry-point header into the header field table.
#include "vc1/vc1.h"
#include "vc1/vc1_walk.h"

bool find_start_code(uint32_t code, Vc1BitReader* cursor) {
  if (cursor->length <= 5) return false;
  const uint8_t pattern[4] = {static_cast<uint8_t>(code >> 24), static_cast<uint8_t>(code >> 16),
                              static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
  // At least two bytes must follow the start code, so the last offset examined is
  // length - 6.
  for (uint32_t i = cursor->position / 8; i < cursor->length - 5; i++) {
    const uint8_t* p = cursor->data + i;
    if (p[0] == pattern[0] && p[1] == pattern[1] && p[2] == pattern[2] && p[3] == pattern[3]) {
      cursor->position = 8 * i + 32;
      return true;
    }
  }
  return false;
}

uint32_t read_bits(Vc1BitReader* cursor, uint32_t width) {
  uint64_t start = cursor->position;
  uint64_t end = start + width;
  cursor->position += width;
  // The bit just after the field must still lie inside the buffer; a position that would
  // wrap past 32 bits counts as outside.
  if (width > 32 || end > UINT32_MAX || end / 8 >= cursor->length) {
    cursor->overrun = true;
    return 0;
  }
  uint32_t value = 0;
  for (uint64_t k = start; k < end; k++) {
    uint32_t bit = (cursor->data[k / 8] >> (7 - k % 8)) & 1u;
    value = (value << 1) | bit;
  }
  return value;
}

namespace {

// Reads each row the walk reaches; the start codes are searched for instead of read.
struct HeaderReader {
  Vc1HeaderTable* table;
  Vc1BitReader cursor;
  bool found_sequence;
  bool found_entry_point;

  // Without a sequence start code the fields are read from the first bit of the buffer.
  // The entry-point search starts at the byte that holds the position, which skips the
  // sequence header's stop bit and its padding; found or not, the entry-point fields
  // follow.
  void start_code(int row) {
    if (table->rows[row].id == VC1_SEQUENCE_HEADER) {
      found_sequence = find_start_code(VC1_SEQUENCE_START_CODE, &cursor);
    } else {
      found_entry_point = find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor);
    }
  }

  void field(int row) {
    Vc1FieldDescriptor& d = table->rows[row];
    d.value = read_bits(&cursor, d.width);
    d.present = 1;
  }

  void rate_buffer_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    for (uint32_t j = 0; j < n; j++) {
      table->hrd_rate_buffer[j].rate = static_cast<uint16_t>(read_bits(&cursor, 16));
      table->hrd_rate_buffer[j].buffer = static_cast<uint16_t>(read_bits(&cursor, 16));
    }
  }

  void full_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    for (uint32_t j = 0; j < n; j++) table->hrd_full[j] = static_cast<uint8_t>(read_bits(&cursor, 8));
  }

  void entry_point_start() {}  // the entry-point start code row that follows does the search
};

}  // namespace

Vc1ParseResult vc1_parse_headers(const HeaderBuffer* buffer, Vc1HeaderTable* table) {
  // A count beyond the data would send reads into whatever follows the buffer.
  uint32_t length = buffer->count < kHeaderBufferSize ? buffer->count : kHeaderBufferSize;
  HeaderReader reader{table, {buffer->data, length, 0, false}, false, false};
  vc1_walk_rows(table, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kBitstream, reader);
  if (!reader.found_sequence || !reader.found_entry_point) return kVc1HeadersNotFound;
  return reader.cursor.overrun ? kVc1HeadersCut : kVc1HeadersWhole;
}
