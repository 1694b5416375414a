// Property: for any bytes (up to 1024) taken as VC-1 header data, parsing, writing both
// header variants, inserting any frame period and aspect ratio, and printing stay inside
// their buffers, every write fits, and what the writer produces is stable: parsing it
// finds both start codes and every field inside the bytes, writing that parse again gives
// the same bytes, and the entry-point-only variant is exactly the tail of the full variant.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "report/report.h"
#include "vc1/vc1.h"

namespace {

uint32_t take_le32(const uint8_t* data, size_t size, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; i++) {
    if (at + i < size) v |= static_cast<uint32_t>(data[at + i]) << (8 * i);
  }
  return v;
}

void check(bool ok) {
  if (!ok) std::abort();
}

// Writes the table both ways and checks that the result reads back to the same bytes.
void check_written(const Vc1HeaderTable* table) {
  HeaderBuffer full;
  HeaderBuffer entry_point;
  check(vc1_write_headers(false, table, &full));
  check(vc1_write_headers(true, table, &entry_point));
  check(full.count > 4 && full.count <= kHeaderBufferSize);
  check(entry_point.count > 4 && entry_point.count < full.count);
  for (uint32_t i = full.count; i < kHeaderBufferSize; i++) check(full.data[i] == 0);
  check(std::memcmp(full.data + (full.count - entry_point.count), entry_point.data, entry_point.count) == 0);

  Vc1HeaderTable again;
  vc1_table_init(&again);
  check(vc1_parse_headers(&full, &again) == kVc1HeadersWhole);
  HeaderBuffer rewritten;
  check(vc1_write_headers(false, &again, &rewritten));
  check(rewritten.count == full.count);
  check(std::memcmp(rewritten.data, full.data, full.count) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kHeaderBufferSize) size = kHeaderBufferSize;
  HeaderBuffer buffer;
  std::memset(&buffer, 0, sizeof buffer);
  if (size > 0) std::memcpy(buffer.data, data, size);
  buffer.count = static_cast<uint32_t>(size);

  Vc1HeaderTable table;
  vc1_table_init(&table);
  Vc1ParseResult found = vc1_parse_headers(&buffer, &table);
  check(found == kVc1HeadersWhole || found == kVc1HeadersCut || found == kVc1HeadersNotFound);
  check_written(&table);

  std::string console;
  std::string out;
  Report report;
  report.verbosity = 3;
  report.capture_console = &console;
  report.capture_out = &out;
  vc1_print_headers(&report, &table);

  // Edit with numbers taken from the input itself, then check and print again.
  uint32_t period = take_le32(data, size, 0);
  uint32_t x = take_le32(data, size, 4);
  uint32_t y = take_le32(data, size, 8);
  if (size > 12 && (data[12] & 1)) x &= 0xFF;  // small terms hit the PAR table more often
  if (size > 12 && (data[12] & 2)) y &= 0xFF;
  vc1_insert_frame_period(period, &table);
  vc1_insert_par(x, y, &table);
  check(vc1_get_field(&table, VC1_DISPLAY_EXT) == 1);
  check_written(&table);
  vc1_print_headers(&report, &table);

  check(console.empty());
  return 0;
}
