// The one walk over the header field table, shared by the parser, the writer and the
// printer. Most rows are fields; the control rows stand for work that is not one field
// (the two leaky-bucket loops, the end of the sequence header), and the walk hands each
// kind of row to its own member of a visitor.
#ifndef TARVEL_VC1_VC1_WALK_H_
#define TARVEL_VC1_VC1_WALK_H_

#include "vc1/vc1.h"

// Which row a walk goes to after a field or start-code row.
enum class Vc1WalkOrder {
  kBitstream,  // the row the condition picks on the current values: the rows in the bitstream
  kEveryRow,   // the next row in table order: every row, whatever the values
};

// What a walk calls, one member per row:
//   start_code(row)      the SEQUENCE_HEADER and ENTRY_POINT_HEADER rows (value: the code)
//   field(row)           every field row, and the zero-width condition rows
//   rate_buffer_loop()   HRD_RATE_BUFFER_LOOP, the rate and buffer of each leaky bucket
//   full_loop()          HRD_FULL_LOOP, the fullness of each leaky bucket
//   entry_point_start()  ENTRY_POINT_START, the end of the sequence header
template <typename V>
concept Vc1RowVisitor = requires(V& v, int row) {
  v.start_code(row);
  v.field(row);
  v.rate_buffer_loop();
  v.full_loop();
  v.entry_point_start();
};

// Visits the rows from the row of `start_id` up to, not including, the TABLE_END row (an
// id no row has starts there: nothing is visited). After a field or start-code row the
// next row is chosen by `order`, once the member has returned, so that a value the member
// just stored steers the walk; after the other control rows it is the next row in table
// order. Every jump in the table leads forward, so the walk ends.
template <Vc1RowVisitor V>
void vc1_walk_rows(const Vc1HeaderTable* table, int start_id, Vc1WalkOrder order, V& visitor) {
  int row = vc1_find_field(table, start_id);
  while (row < kVc1RowCount && table->rows[row].id != VC1_TABLE_END) {
    switch (table->rows[row].id) {
      case VC1_HRD_RATE_BUFFER_LOOP:
        visitor.rate_buffer_loop();
        row++;
        continue;
      case VC1_HRD_FULL_LOOP:
        visitor.full_loop();
        row++;
        continue;
      case VC1_ENTRY_POINT_START:
        visitor.entry_point_start();
        row++;
        continue;
      case VC1_SEQUENCE_HEADER:
      case VC1_ENTRY_POINT_HEADER:
        visitor.start_code(row);
        break;
      default:
        visitor.field(row);
        break;
    }
    row = order == Vc1WalkOrder::kBitstream ? vc1_next_row(table, row) : row + 1;
  }
}

#endif  // TARVEL_VC1_VC1_WALK_H_
