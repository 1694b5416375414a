// Lists the header field table with the meaning of the coded fields, at level 2.
#include "report/report.h"
#include "vc1/vc1.h"
#include "vc1/vc1_walk.h"

namespace {

constexpr uint32_t kLevel = 2;

constexpr const char* kTransferCharNames[9] = {
    "* illegal *",
    "ITU-R BT.709-5, SMPTE 274M-2005, SMPTE 296M-2001, SMPTE 293M-2003",
    "not present",
    "* illegal *",
    "ITU-R BT. 1700 Part A [gamma = 2.2]",
    "ITU-R BT. 1700 Part B and Part C [gamma = 2.8]",
    "ITU-R BT.1700 Part A",
    "* illegal *",
    "ITU-R BT.1361 [Conventional Color Space]",
};

// Values print as signed 32-bit integers.
int as_int(uint32_t v) { return static_cast<int>(static_cast<int32_t>(v)); }

// The raw value of a row whatever its present flag.
uint32_t raw_value(const Vc1HeaderTable* table, int id) {
  return table->rows[vc1_find_field(table, id)].value;
}

void print_aspect_size(Report* report, const Vc1HeaderTable* table, const char* name, uint32_t v) {
  uint32_t h = raw_value(table, VC1_ASPECT_HORIZ_SIZE);
  uint32_t vert = raw_value(table, VC1_ASPECT_VERT_SIZE);
  // The quotient in double, so that no term can wrap to a zero divisor.
  double ratio = (static_cast<double>(h) + 1.0) / (static_cast<double>(vert) + 1.0);
  print_at_level(report, kLevel, "%s: %d (PAR= %d/%d, =%1.3f)\n", name, as_int(v), as_int(h + 1),
                 as_int(vert + 1), ratio);
}

void print_framerate(Report* report, const Vc1HeaderTable* table, const char* name, uint32_t v) {
  uint32_t nr = raw_value(table, VC1_FRAMERATENR);
  uint32_t dr = raw_value(table, VC1_FRAMERATEDR);
  if (nr >= 1 && nr <= 7 && dr >= 1 && dr <= 2) {
    double fps = static_cast<double>(kVc1FramerateNr[nr]) / static_cast<double>(kVc1FramerateDr[dr]);
    print_at_level(report, kLevel, "%s: %d (=%d/%d, =%2.3f FPS)\n", name, as_int(v),
                   as_int(kVc1FramerateNr[nr]), as_int(kVc1FramerateDr[dr]), fps);
  } else {
    print_at_level(report, kLevel, "%s: %d (* illegal framerate *)\n", name, as_int(v));
  }
}

// Prints every row in table order, skipping none for its condition: an absent field
// shows as "--", the rows without bits print nothing, and the leaky buckets' rates and
// buffers follow the rows before the entry-point header.
struct HeaderPrinter {
  Report* report;
  const Vc1HeaderTable* table;

  void start_code(int row) { field(row); }

  void field(int row) {
    const Vc1FieldDescriptor& d = table->rows[row];
    if (d.width == 0) return;
    if (d.present) {
      vc1_print_field(report, table, row);
    } else {
      print_at_level(report, kLevel, "%s: --\n", d.name);
    }
  }

  void rate_buffer_loop() {
    uint32_t n = vc1_leaky_bucket_count(table);
    for (uint32_t j = 1; j <= n; j++) {
      print_at_level(report, kLevel, "HRD_RATE[%d]: %d\n", as_int(j), table->hrd_rate_buffer[j - 1].rate);
      print_at_level(report, kLevel, "HRD_BUFFER[%d]: %d\n", as_int(j), table->hrd_rate_buffer[j - 1].buffer);
    }
  }

  void full_loop() {}  // the fullness lines come after the last entry-point field

  void entry_point_start() {}

  void fullness_after_the_walk() {
    uint32_t n = vc1_leaky_bucket_count(table);
    for (uint32_t j = 1; j <= n; j++) {
      print_at_level(report, kLevel, "HRD_FULL[%d]: %d\n", as_int(j), table->hrd_full[j - 1]);
    }
  }
};

}  // namespace

void vc1_print_field(Report* report, const Vc1HeaderTable* table, int row) {
  if (row < 0 || row >= kVc1RowCount) return;
  const Vc1FieldDescriptor& d = table->rows[row];
  const char* name = d.name;
  uint32_t v = d.value;
  switch (d.id) {
    case VC1_SEQUENCE_HEADER:
    case VC1_ENTRY_POINT_HEADER:
      print_at_level(report, kLevel, "%s", name);  // the title carries its own line breaks
      break;
    case VC1_LEVEL:
      if (v > 4) {
        print_at_level(report, kLevel, "%s: %d (* illegal *)\n", name, as_int(v));
      } else {
        print_at_level(report, kLevel, "%s: %d (AP3@L%1d)\n", name, as_int(v), as_int(v));
      }
      break;
    case VC1_COLORDIFF_FORMAT:
      print_at_level(report, kLevel, "%s: %d (%s)\n", name, as_int(v), v == 1 ? "=4:2:0" : "* illegal *");
      break;
    case VC1_MAX_CODED_WIDTH:
    case VC1_MAX_CODED_HEIGHT:
    case VC1_CODED_WIDTH:
    case VC1_CODED_HEIGHT:
      print_at_level(report, kLevel, "%s: %d (=%d)\n", name, as_int(v), as_int(2 * v + 2));
      break;
    case VC1_DISP_HORIZ_SIZE:
    case VC1_DISP_VERT_SIZE:
      print_at_level(report, kLevel, "%s: %d (=%d)\n", name, as_int(v), as_int(v + 1));
      break;
    case VC1_ASPECT_RATIO:
      // The field has four bits; a larger value set by hand has no entry and is illegal.
      print_at_level(report, kLevel, "%s: %d (PAR=%s)\n", name, as_int(v),
                     kVc1ParTable[v < kVc1ParCount ? v : 14].name);
      break;
    case VC1_ASPECT_HORIZ_SIZE:
    case VC1_ASPECT_VERT_SIZE:
      print_aspect_size(report, table, name, v);
      break;
    case VC1_FRAMERATENR:
    case VC1_FRAMERATEDR:
      print_framerate(report, table, name, v);
      break;
    case VC1_FRAMERATEEXP:
      print_at_level(report, kLevel, "%s: %d (= %2.3f FPS)\n", name, as_int(v),
                     (static_cast<double>(v) + 1.0) / 32.0);
      break;
    case VC1_TRANSFER_CHAR:
      print_at_level(report, kLevel, "%s: %d (= %s)\n", name, as_int(v), kTransferCharNames[v < 8 ? v : 8]);
      break;
    default:
      print_at_level(report, kLevel, "%s: %d\n", name, as_int(v));
      break;
  }
}

void vc1_print_headers(Report* report, const Vc1HeaderTable* table) {
  HeaderPrinter printer{report, table};
  vc1_walk_rows(table, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kEveryRow, printer);
  printer.fullness_after_the_walk();
}

void dump_header_bytes(Report* report, const HeaderBuffer* buffer) {
  uint32_t count = buffer->count <= kHeaderBufferSize ? buffer->count : kHeaderBufferSize;
  for (uint32_t i = 0; i < count; i++) {
    if (i != 0 && i % 24 == 0) print_at_level(report, 2, "\n");
    print_at_level(report, 2, "%02x ", buffer->data[i]);
  }
  print_at_level(report, 2, "\n\n");
}
