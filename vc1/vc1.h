// VC-1 Advanced Profile sequence header and entry-point header codec.
//
// The two headers are described by one constant table of field descriptors (vc1_table.cc).
// Each row names a bitstream field, its width and a small condition that picks the next
// row. The parser reads bits into the rows' values, the writer writes the values back as
// bits, the editor changes values by field id and the printer lists every row that holds
// a value. Parser, writer and printer go through the rows by the one walk in vc1_walk.h.
// Adding or moving a field is a change to the table alone.
#ifndef TARVEL_VC1_VC1_H_
#define TARVEL_VC1_VC1_H_

#include <cstdint>

#include "vc1/header_buffer.h"

struct Report;

struct JsonWriter;

// Field ids. Field rows carry 3..37 and 39..56, the header rows 2 and 38, the control rows
// 57..63. Ids 0 and 1 belong to no row (1 is SELF in conditions).
constexpr int VC1_SEQUENCE_HEADER = 2;
constexpr int VC1_PROFILE = 3;
constexpr int VC1_LEVEL = 4;
constexpr int VC1_COLORDIFF_FORMAT = 5;
constexpr int VC1_FRMRTQ_POSTPROC = 6;
constexpr int VC1_BITRTQ_POSTPROC = 7;
constexpr int VC1_POSTPROCFLAG = 8;
constexpr int VC1_MAX_CODED_WIDTH = 9;
constexpr int VC1_MAX_CODED_HEIGHT = 10;
constexpr int VC1_PULLDOWN = 11;
constexpr int VC1_INTERLACE = 12;
constexpr int VC1_TFCNTRFLAG = 13;
constexpr int VC1_FINTERPFLAG = 14;
constexpr int VC1_RESERVED = 15;
constexpr int VC1_PSF = 16;
constexpr int VC1_DISPLAY_EXT = 17;
constexpr int VC1_DISP_HORIZ_SIZE = 18;
constexpr int VC1_DISP_VERT_SIZE = 19;
constexpr int VC1_ASPECT_RATIO_FLAG = 20;
constexpr int VC1_ASPECT_RATIO = 21;
constexpr int VC1_ASPECT_HORIZ_SIZE = 22;
constexpr int VC1_ASPECT_VERT_SIZE = 23;
constexpr int VC1_FRAMERATE_FLAG = 24;
constexpr int VC1_FRAMERATEIND = 25;
constexpr int VC1_FRAMERATENR = 26;
constexpr int VC1_FRAMERATEDR = 27;
constexpr int VC1_FRAMERATEEXP = 28;
constexpr int VC1_COLOR_FORMAT_FLAG = 29;
constexpr int VC1_COLOR_PRIM = 30;
constexpr int VC1_TRANSFER_CHAR = 31;
constexpr int VC1_MATRIX_COEF = 32;
constexpr int VC1_HRD_PARAM_FLAG = 33;
constexpr int VC1_HRD_NUM_LEAKY_BUCKETS = 34;
constexpr int VC1_BIT_RATE_EXPONENT = 35;
constexpr int VC1_BUFFER_SIZE_EXPONENT = 36;
constexpr int VC1_BROKEN_LINK = 37;
constexpr int VC1_ENTRY_POINT_HEADER = 38;
constexpr int VC1_CLOSED_ENTRY = 39;
constexpr int VC1_PANSCAN_FLAG = 40;
constexpr int VC1_REFDIST_FLAG = 41;
constexpr int VC1_LOOPFILTER = 42;
constexpr int VC1_FASTUVMC = 43;
constexpr int VC1_EXTENDED_MV = 44;
constexpr int VC1_DQUANT = 45;
constexpr int VC1_VSTRANSFORM = 46;
constexpr int VC1_OVERLAP = 47;
constexpr int VC1_QUANTIZER = 48;
constexpr int VC1_CODED_SIZE_FLAG = 49;
constexpr int VC1_CODED_WIDTH = 50;
constexpr int VC1_CODED_HEIGHT = 51;
constexpr int VC1_EXTENDED_DMV = 52;
constexpr int VC1_RANGE_MAPY_FLAG = 53;
constexpr int VC1_RANGE_MAPY = 54;
constexpr int VC1_RANGE_MAPUV_FLAG = 55;
constexpr int VC1_RANGE_MAPUV = 56;
// Control rows.
constexpr int VC1_EXTENDED_MV_TEST = 57;
constexpr int VC1_HRD_RATE_BUFFER_LOOP = 58;
constexpr int VC1_HRD_FULL_LOOP = 59;
constexpr int VC1_ENTRY_POINT_START = 60;
constexpr int VC1_DISPLAY_EXT_TEST = 61;
constexpr int VC1_ENTRY_POINT_END = 62;
constexpr int VC1_TABLE_END = 63;

// Condition field id meaning "the row's own value".
constexpr int SELF = 1;

// Condition kinds: how a row chooses the row after it.
constexpr uint32_t NO_CONDITION = 0;       // the next row in table order
constexpr uint32_t CONTINUE_IF_EQUAL = 1;  // next row if the tested value matches, else jump
constexpr uint32_t ALWAYS_JUMP = 2;        // the row with the jump target id

// Start code values; their 32 bits are the bytes 00 00 01 0F and 00 00 01 0E.
constexpr uint32_t VC1_SEQUENCE_START_CODE = 0x10F;
constexpr uint32_t VC1_ENTRY_POINT_START_CODE = 0x10E;

constexpr int kVc1RowCount = 62;
constexpr int kVc1MaxLeakyBuckets = 32;

struct Vc1FieldDescriptor {
  int32_t id;
  const char* name;  // as printed, with one leading '-' per level of nesting
  uint32_t width;    // bits in the bitstream, 0..32
  uint32_t present;  // 1 once the field has been read or set
  uint32_t value;
  int32_t condition_field;  // id of the row the condition tests, or SELF
  uint32_t condition_kind;
  uint32_t condition_value;
  int32_t jump_target;  // id of the row the walk continues at when sent away
};

struct Vc1HrdRateBuffer {
  uint16_t rate;
  uint16_t buffer;
};

struct Vc1HeaderTable {
  Vc1FieldDescriptor rows[kVc1RowCount];
  Vc1HrdRateBuffer hrd_rate_buffer[kVc1MaxLeakyBuckets];  // entry n-1 holds bucket n
  uint8_t hrd_full[kVc1MaxLeakyBuckets];                  // entry n-1 holds bucket n
};

// Bit position k is the bit with mask 128 >> (k % 8) of byte k / 8. The buffer ends at
// `length` bytes; a field counts as inside only when the bit after it is inside too. The
// parser reads through a cursor on const bytes, the writer writes through one on its own.
template <typename Byte>
struct Vc1BitCursor {
  Byte* data;
  uint32_t length;    // valid bytes at data: the end
  uint32_t position;  // in bits
  bool overrun;       // false until a read or write meets the end, then true for good
};
using Vc1BitReader = Vc1BitCursor<const uint8_t>;
using Vc1BitWriter = Vc1BitCursor<uint8_t>;

// One entry of the pixel aspect ratio table that ASPECT_RATIO indexes (16 entries and an
// end entry with an empty name).
struct Vc1ParEntry {
  const char* name;
  uint32_t x;
  uint32_t y;
};
constexpr int kVc1ParCount = 16;
extern const Vc1ParEntry kVc1ParTable[kVc1ParCount + 1];
// Frames per second times 1000 by FRAMERATENR code, and the divisor by FRAMERATEDR code.
extern const uint32_t kVc1FramerateNr[8];
extern const uint32_t kVc1FramerateDr[3];

// --- table (vc1_table.cc) ---

// Copies the template rows into the table and clears the leaky-bucket entries.
Vc1HeaderTable* vc1_table_init(Vc1HeaderTable* table);
// Index of the first row with this id; the TABLE_END row's index when no row has it.
int vc1_find_field(const Vc1HeaderTable* table, int id);
// The value of that row if it is present, else 0.
uint32_t vc1_get_field(const Vc1HeaderTable* table, int id);
// Stores the value in that row and marks it present.
void vc1_set_field(Vc1HeaderTable* table, int id, uint32_t value);
// The row after `row` as chosen by its condition on the current values.
int vc1_next_row(const Vc1HeaderTable* table, int row);
// Number of leaky buckets the HRD loops handle: HRD_NUM_LEAKY_BUCKETS cut to its 5 bits,
// exactly as many as the bitstream can announce.
uint32_t vc1_leaky_bucket_count(const Vc1HeaderTable* table);

// --- parser (vc1_parse.cc) ---

// Searches the cursor's bytes, from the byte holding its position, for the start code of
// `code` (four bytes, most significant first) followed by at least two more bytes. On a
// match moves the position to the first bit after it and returns true; else returns false
// and leaves the cursor as it was. The overrun flag plays no part.
bool find_start_code(uint32_t code, Vc1BitReader* cursor);
// Reads `width` bits at the position, most significant first, and advances the position
// by `width` (wrapping at 32 bits). When width > 32, or the field or the bit after it lies
// outside the buffer (a field that would wrap counts as outside), returns 0 and sets the
// overrun flag; the position advances all the same.
uint32_t read_bits(Vc1BitReader* cursor, uint32_t width);

// What a parse of header bytes found.
enum Vc1ParseResult {
  kVc1HeadersWhole = 0,     // both start codes, and every field read lay inside the bytes
  kVc1HeadersCut = 1,       // both start codes, but the bytes end before the last field the
                            // walk reached: it and every field behind it read as 0
  kVc1HeadersNotFound = 2,  // no sequence-header start code, or no entry-point start code
                            // behind it; the fields hold whatever the walk read
};

// Fills the table from the first `count` bytes of the buffer (at most 1024), walking the
// rows as the values read select them. Without a sequence-header start code the fields are
// read from the first bit.
Vc1ParseResult vc1_parse_headers(const HeaderBuffer* buffer, Vc1HeaderTable* table);

// --- writer (vc1_write.cc) ---

// Writes sequence header + entry-point header (entry_point_only false) or the entry-point
// header alone into `out`, clearing it first and setting its count. Returns true when every
// field fit in the buffer; false when one would not, which leaves out that field and all
// behind it: the bytes are then no headers to use. (The rows' widths keep both headers to
// a few hundred bytes, well inside the 1024.)
bool vc1_write_headers(bool entry_point_only, const Vc1HeaderTable* table, HeaderBuffer* out);
// ORs the low `width` bits of `value` in at the position, most significant first, and
// advances the position by `width` (wrapping at 32 bits). When width > 32, or the field or
// the bit after it lies outside the buffer, writes nothing and sets the overrun flag; the
// position advances all the same.
void write_bits(Vc1BitWriter* cursor, uint32_t value, uint32_t width);

// --- editor (vc1_edit.cc) ---

// Switches the display extension on (display size = maximum coded size, no aspect ratio,
// frame rate or colour format) unless the header already has it.
void vc1_enable_display_ext(Vc1HeaderTable* table);
// Puts the frame period (microseconds) into the frame-rate fields.
void vc1_insert_frame_period(uint32_t period_us, Vc1HeaderTable* table);
// Puts the pixel aspect ratio x:y into the aspect-ratio fields; nothing when x or y is 0.
void vc1_insert_par(uint32_t x, uint32_t y, Vc1HeaderTable* table);
// The frame rate the display extension codes, as num / den frames per second (24000 / 1001
// for FRAMERATENR 1 and FRAMERATEDR 2; FRAMERATEEXP + 1 / 32); false when it codes none or
// an illegal one.
bool vc1_frame_rate(const Vc1HeaderTable* table, uint32_t* num, uint32_t* den);

// --- printer (vc1_print.cc) ---

// Prints, at level 2 and in table order whatever the conditions, one line per row with a
// width ("NAME: --" when absent), the rate and buffer lines of each leaky bucket before
// the entry-point header and their fullness lines at the end.
void vc1_print_headers(Report* report, const Vc1HeaderTable* table);
// Prints the line of one present row (level 2); nothing for an index outside the table.
void vc1_print_field(Report* report, const Vc1HeaderTable* table, int row);
// Prints the first count bytes as "%02x " groups, 24 to a line, then "\n\n" (level 2).
void dump_header_bytes(Report* report, const HeaderBuffer* buffer);

// --- document (vc1_json.cc) ---

// Writes the members "sequence_header" and "entry_point" into the open object of the JSON
// document: each an object of field name (without the printer's nesting marks) to value,
// for the rows the printer lists, in its order; a field that is not present is null. The
// leaky buckets' values are the arrays HRD_RATE and HRD_BUFFER in the sequence header and
// HRD_FULL in the entry-point header, present when the header has buckets.
void vc1_json_headers(const Vc1HeaderTable* table, JsonWriter* json);

// The same for the headers vc1_write_headers writes from the table: a field is null when
// the writer's walk does not reach it, whatever the parse found, and the leaky buckets'
// arrays stand only where the writer writes them.
void vc1_json_written_headers(const Vc1HeaderTable* table, JsonWriter* json);

#endif  // TARVEL_VC1_VC1_H_
