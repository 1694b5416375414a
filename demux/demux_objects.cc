// The object assembler: the chosen stream's pieces placed by media object number and
// offset, whatever order they come in, each byte taken once.
//
// One object is in progress at a time. A piece of a newer object ends it: if it was not
// complete it is dropped (a gap is still open). A piece of the object finished last, or of
// one shortly before it, is a repeat (a duplicated packet) and is ignored. A piece that reaches past
// its object's size, or names another size for it, makes the object impossible to
// complete: it is dropped at once and its further pieces are ignored, so the next object
// is not touched by it. Pieces without a number or offset follow in arrival order.
#include <cstdlib>
#include <cstring>

#include "demux/demux_stages.h"

namespace {

bool is_repeat(uint32_t number, uint32_t reference, uint32_t width) {
  uint32_t mask = object_number_mask(width);
  return ((reference - number) & mask) <= kRepeatWindow;
}

void start_object(ObjectAssembler* a, const MediaPiece* piece) {
  a->active = 1;
  a->number = piece->object_number;
  a->number_width = piece->number_width;
  a->size = piece->object_size;
  a->held = 0;
  a->key_frame = piece->key_frame;
  a->presentation_time = piece->presentation_time;
  a->piece_count = 0;
  a->too_large = piece->object_size > kMaxFrameBufferSize;
}

// The object in progress ends unwritten: its number is remembered so that its late pieces
// are recognised as repeats.
void end_object(ObjectAssembler* a) {
  a->active = 0;
  a->piece_count = 0;
  a->held = 0;
  a->have_finished = a->number_width != 0;
  a->finished_number = a->number;
}

// Inserts bytes [offset, offset + length) of the object, which lie at `bytes`, before
// pieces[index]; the caller has made sure they overlap nothing held.
void insert_piece(ObjectAssembler* a, uint32_t index, const uint8_t* bytes, uint32_t offset,
                  uint32_t length) {
  std::memmove(&a->pieces[index + 1], &a->pieces[index], (a->piece_count - index) * sizeof a->pieces[0]);
  a->pieces[index] = ObjectPiece{bytes, offset, length};
  a->piece_count++;
  a->held += length;
}

// Adds the piece's bytes that are not held yet, keeping the pieces sorted by offset. The
// common case, a piece behind all others, is one comparison. A piece that fills several
// gaps at once can need more places than are left: the bytes beyond them are not taken,
// and the object then stays incomplete.
void place(ObjectAssembler* a, const uint8_t* bytes, uint32_t offset, uint32_t length) {
  uint32_t end = offset + length;
  uint32_t n = a->piece_count;
  if (n == 0 || offset >= a->pieces[n - 1].offset + a->pieces[n - 1].length) {
    insert_piece(a, n, bytes, offset, length);
    return;
  }
  // The piece overlaps or precedes what is held: each gap it covers is filled in turn.
  uint32_t at = offset;
  uint32_t i = 0;
  while (at < end && a->piece_count < kMaxObjectPieces) {
    while (i < a->piece_count && a->pieces[i].offset + a->pieces[i].length <= at) i++;
    uint32_t gap_end = i < a->piece_count && a->pieces[i].offset < end ? a->pieces[i].offset : end;
    if (gap_end > at) {
      insert_piece(a, i, bytes + (at - offset), at, gap_end - at);
      i++;
    }
    if (i < a->piece_count) {
      uint32_t held_end = a->pieces[i].offset + a->pieces[i].length;
      at = held_end > gap_end ? held_end : gap_end;
    } else {
      at = end;
    }
  }
}

}  // namespace

bool assembler_init(ObjectAssembler* assembler, uint32_t buffer_size) {
  std::memset(assembler, 0, sizeof *assembler);
  assembler->frame_buffer = static_cast<uint8_t*>(std::malloc(buffer_size));
  if (assembler->frame_buffer == nullptr) return false;
  assembler->buffer_size = buffer_size;
  return true;
}

void assembler_release(ObjectAssembler* assembler) {
  std::free(assembler->frame_buffer);
  assembler->frame_buffer = nullptr;
  assembler->buffer_size = 0;
}

AssemblerResult assembler_take(ObjectAssembler* a, const MediaPiece* piece) {
  AssemblerResult result = {0, 0, 0};
  if (a->active && piece->number_width != 0 && a->number_width != 0 && piece->object_number != a->number) {
    if (is_repeat(piece->object_number, a->number, piece->number_width)) return result;
    // A newer object begins while this one still has a gap.
    if (!a->too_large) {
      result.events |= kAssemblerDropped;
      result.dropped_number = a->number;
    }
    end_object(a);
    a->count_gap = 1;
  }
  if (!a->active) {
    if (piece->number_width != 0 && a->have_finished &&
        is_repeat(piece->object_number, a->finished_number, piece->number_width)) {
      return result;  // a piece of an object already finished
    }
    if (a->count_gap && a->have_finished && piece->number_width == a->number_width) {
      uint32_t mask = object_number_mask(piece->number_width);
      uint32_t ahead = (piece->object_number - a->finished_number) & mask;
      if (ahead > 1 && ahead <= mask / 2) result.skipped = ahead - 1;
    }
    a->count_gap = 0;
    start_object(a, piece);
    if (a->too_large && !piece->spoilt) result.events |= kAssemblerTooLarge;
  }

  // Without a number or an offset a piece can only follow the bytes that came before it.
  uint32_t offset = piece->has_offset && piece->number_width != 0 ? piece->offset : a->held;
  bool fits = offset <= a->size && piece->length <= a->size - offset;
  if (piece->spoilt || piece->object_size != a->size || !fits) {
    // The object can never be completed: dropped now, its later pieces ignored.
    if (!a->too_large) {
      result.events |= kAssemblerDropped;
      result.dropped_number = a->number;
    }
    end_object(a);
    a->count_gap = 1;
    return result;
  }
  if (a->too_large) {
    // Not kept: only counted, in arrival order, until the object's bytes are all seen.
    a->held += piece->length;
    if (a->held >= a->size) end_object(a);
    return result;
  }
  if (piece->length != 0) place(a, piece->bytes, offset, piece->length);
  if (a->held == a->size) result.events |= kAssemblerComplete;
  return result;
}

bool assembler_in_line(const ObjectAssembler* a, const MediaPiece* piece) {
  if (piece->number_width == 0) return true;
  uint32_t mask = object_number_mask(piece->number_width);
  if (a->active && a->number_width == piece->number_width) {
    return piece->object_number == a->number || piece->object_number == ((a->number + 1) & mask);
  }
  if (a->have_finished && a->number_width == piece->number_width) {
    return piece->object_number == ((a->finished_number + 1) & mask);
  }
  return !a->active && !a->have_finished;
}

bool assembler_gather(ObjectAssembler* a) {
  if (!a->active || a->too_large || a->piece_count == 0) return true;
  if (a->size > a->buffer_size) {
    uint8_t* larger = static_cast<uint8_t*>(std::malloc(a->size));
    if (larger == nullptr) return false;
    // Pieces already gathered move with the buffer.
    for (uint32_t i = 0; i < a->piece_count; ++i) {
      ObjectPiece* p = &a->pieces[i];
      if (p->bytes == a->frame_buffer + p->offset) {
        std::memcpy(larger + p->offset, p->bytes, p->length);
        p->bytes = larger + p->offset;
      }
    }
    std::free(a->frame_buffer);
    a->frame_buffer = larger;
    a->buffer_size = a->size;
  }
  // Every piece goes to its own offset; neighbours then lie side by side and become one.
  uint32_t n = 0;
  for (uint32_t i = 0; i < a->piece_count; ++i) {
    ObjectPiece p = a->pieces[i];
    uint8_t* place_at = a->frame_buffer + p.offset;
    if (p.bytes != place_at) std::memcpy(place_at, p.bytes, p.length);
    if (n > 0 && a->pieces[n - 1].offset + a->pieces[n - 1].length == p.offset) {
      a->pieces[n - 1].length += p.length;
    } else {
      a->pieces[n++] = ObjectPiece{place_at, p.offset, p.length};
    }
  }
  a->piece_count = n;
  return true;
}

bool assembler_abandon(ObjectAssembler* assembler) {
  if (!assembler->active) return false;
  bool counted = !assembler->too_large;
  end_object(assembler);
  return counted;
}

void assembler_finish(ObjectAssembler* assembler) { end_object(assembler); }
