// The object assembler: the chosen stream's pieces placed by media object number and
// offset, whatever order they come in, each byte taken once.
//
// A few objects may be in progress at once, so that a packet that comes a place early or
// late costs nothing: a piece of a number that is not open opens it. An object left more
// than the repeat window behind the newest, or the oldest when every place is in use, is
// dropped. Every object that ends (written or dropped) is remembered by its number, size
// and time, so that its pieces met again, a moment or a hundred packets later, are repeats
// and ignored. A piece that reaches past its object's size, or names another size for it,
// makes the object impossible to complete: it is dropped at once and its further pieces
// are ignored, so the next object is not touched by it. Pieces without a number or offset
// follow in arrival order.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "demux/demux_stages.h"

namespace {

EndedObject* ended_slot(ObjectAssembler* a, uint32_t number) { return &a->ended[number % kEndedMemory]; }

void remember(ObjectAssembler* a, const OpenObject* o) {
  if (o->number_width == 0) return;
  *ended_slot(a, o->number) =
      EndedObject{kEndedObject, o->number, o->number_width, o->size, o->presentation_time, 0};
}

void remember_number(ObjectAssembler* a, uint32_t number, uint32_t width) {
  *ended_slot(a, number) = EndedObject{kEndedByNumber, number, width, 0, 0, a->opened + kEndedMemory / 8};
}

// Whether the piece belongs to an object that ended: one of its number, size and time, or
// a number dropped or passed over not long ago.
bool has_ended(const ObjectAssembler* a, const MediaPiece* piece) {
  if (piece->number_width == 0) return false;
  const EndedObject& e = a->ended[piece->object_number % kEndedMemory];
  if (e.state == kNotEnded || e.number != piece->object_number || e.number_width != piece->number_width) {
    return false;
  }
  if (e.state == kEndedByNumber) return a->opened <= e.until;
  return e.size == piece->object_size && e.presentation_time == piece->presentation_time;
}

uint32_t index_of(const ObjectAssembler* a, const OpenObject* o) {
  return static_cast<uint32_t>(o - a->objects);
}

// Calls visit(object) for each active object, in index order; a visit may end the object.
template <typename A, typename Visit>
void for_each_open(A* a, Visit visit) {
  for (uint32_t m = a->open_mask; m != 0; m &= m - 1) visit(a->objects[std::countr_zero(m)]);
}

void end_object(ObjectAssembler* a, OpenObject* o) {
  remember(a, o);
  a->open_mask &= ~(1u << index_of(a, o));
  o->active = 0;
  o->complete = 0;
  o->piece_count = 0;
  o->held = 0;
}

// The object ends unwritten; one that was not too large counts as dropped. Any piece of its
// number is ignored from now on for a while: its size or time may be what was damaged.
void drop_object(ObjectAssembler* a, OpenObject* o, AssemblerResult* result) {
  if (!o->too_large && result->dropped_count < kOpenObjects + 1) {
    result->dropped_numbers[result->dropped_count++] = o->number;
  }
  end_object(a, o);
  if (o->number_width != 0) remember_number(a, o->number, o->number_width);
  a->count_gap = 1;
}

// Inserts bytes [offset, offset + length) of the object, which lie at `bytes`, before
// pieces[index]; the caller has made sure they overlap nothing held.
void insert_piece(OpenObject* a, uint32_t index, const uint8_t* bytes, uint32_t offset, uint32_t length) {
  std::memmove(&a->pieces[index + 1], &a->pieces[index], (a->piece_count - index) * sizeof a->pieces[0]);
  a->pieces[index] = ObjectPiece{bytes, offset, length};
  a->piece_count++;
  a->held += length;
}

// Adds the piece's bytes that are not held yet, keeping the pieces sorted by offset. The
// common case, a piece behind all others, is one comparison. A piece that fills several
// gaps at once can need more places than are left: the bytes beyond them are not taken,
// and the object then stays incomplete.
void place(OpenObject* a, const uint8_t* bytes, uint32_t offset, uint32_t length) {
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

// Whether the piece continues the object exactly where its bytes end so far, with its size
// and time: a piece whose number was damaged still belongs there.
bool continues_exactly(const OpenObject* o, const MediaPiece* piece) {
  if (!o->active || o->too_large || !piece->has_offset || piece->offset == 0 || o->piece_count == 0) {
    return false;
  }
  const ObjectPiece& last = o->pieces[o->piece_count - 1];
  return last.offset + last.length == o->held && piece->offset == o->held && piece->object_size == o->size &&
         piece->presentation_time == o->presentation_time && piece->number_width == o->number_width;
}

// The open object the piece belongs to, or null: the one of its number, the newest for a
// piece without a number (or an object opened without), or the newest when the piece
// continues it exactly. Then the number that agrees with the one opened before is kept.
OpenObject* object_of(ObjectAssembler* a, const MediaPiece* piece) {
  OpenObject* newest = &a->objects[a->newest];
  if (newest->active && (piece->number_width == 0 || newest->number_width == 0)) return newest;
  for (uint32_t m = a->open_mask; m != 0; m &= m - 1) {
    OpenObject& o = a->objects[std::countr_zero(m)];
    if (o.number == piece->object_number && o.number_width == piece->number_width) return &o;
  }
  if (!continues_exactly(newest, piece)) return nullptr;
  uint32_t in_line = (newest->previous + 1) & object_number_mask(piece->number_width);
  if (newest->have_previous && piece->object_number == in_line) newest->number = in_line;
  return newest;
}

// Numbers from `first`, `count` of them, are lost with damage: given up now.
void lose_run(ObjectAssembler* a, uint32_t first, uint32_t count, AssemblerResult* result) {
  uint32_t mask = object_number_mask(a->last_width);
  result->lost_first = first & mask;
  result->lost_run = count;
  for (uint32_t i = count > kEndedMemory ? count - kEndedMemory : 0; i < count; ++i) {
    remember_number(a, (first + i) & mask, a->last_width);
  }
}

// The numbers awaited that `keep` does not keep are lost.
void lose_missing(ObjectAssembler* a, uint32_t keep, AssemblerResult* result) {
  uint32_t mask = object_number_mask(a->last_width);
  uint32_t lost = a->missing & ~keep;
  result->lost_top = a->last_number;
  result->lost_bits = lost;
  result->lost_mask = mask;
  for (uint32_t i = 0; lost != 0 && i < kRepeatWindow; ++i) {
    if (lost >> i & 1) remember_number(a, (a->last_number - 1 - i) & mask, a->last_width);
  }
  a->missing &= keep;
}

// The furthest number opened moves `ahead` places on, to `number`. The numbers passed over
// are awaited when `awaited` (damage was met); those that fall past the window are lost.
void advance(ObjectAssembler* a, uint32_t number, uint32_t ahead, bool awaited, AssemblerResult* result) {
  constexpr uint32_t kWindowBits = (1u << kRepeatWindow) - 1;
  lose_missing(a, ahead >= kRepeatWindow ? 0 : kWindowBits >> ahead, result);
  uint32_t fresh = awaited ? ahead - 1 : 0;
  if (fresh > kRepeatWindow) {
    lose_run(a, a->last_number + 1, fresh - kRepeatWindow, result);
    fresh = kRepeatWindow;
  }
  uint64_t moved = ahead >= kRepeatWindow ? 0 : uint64_t{a->missing} << ahead;
  a->missing = static_cast<uint32_t>(moved | ((uint64_t{1} << fresh) - 1)) & kWindowBits;
  a->last_number = number;
}

// Keeps count of the numbers as the piece opens its object: a number ahead of the furthest
// passes over the ones between, a number awaited has come, any other starts a new count.
void count_numbers(ObjectAssembler* a, const MediaPiece* piece, bool evidence, AssemblerResult* result) {
  uint32_t width = piece->number_width;
  if (width == 0) return;
  uint32_t mask = object_number_mask(width);
  uint32_t number = piece->object_number;
  if (a->have_last && width == a->last_width) {
    uint32_t ahead = (number - a->last_number) & mask;
    uint32_t back = number_behind(number, a->last_number, width);
    if (ahead != 0 && ahead <= mask / 2 && ahead <= kLargestCountGap) {
      advance(a, number, ahead, evidence, result);
      return;
    }
    if (in_repeat_window(number, a->last_number, width)) {
      a->missing &= ~(1u << (back - 1));
      return;
    }
    if (ahead == 0) return;
    lose_missing(a, 0, result);
  }
  a->have_last = 1;
  a->last_number = number;
  a->last_width = width;
  a->missing = 0;
}

// Whether the open object lies more than the window behind the piece's number.
bool left_behind(const OpenObject* o, const MediaPiece* piece) {
  if (!o->active || piece->number_width == 0 || o->number_width != piece->number_width) return false;
  uint32_t back = number_behind(o->number, piece->object_number, o->number_width);
  return back > kRepeatWindow && back <= object_number_mask(o->number_width) / 2;
}

// Open objects left too far behind the piece's number, and the oldest when every place is
// in use, are dropped; returns the place for the piece's object.
OpenObject* make_room(ObjectAssembler* a, const MediaPiece* piece, AssemblerResult* result) {
  for_each_open(a, [&](OpenObject& o) {
    if (left_behind(&o, piece) && !o.complete) drop_object(a, &o, result);
  });
  uint32_t free_places = ~a->open_mask & ((1u << kOpenObjects) - 1);
  if (free_places != 0) return &a->objects[std::countr_zero(free_places)];
  OpenObject* oldest = nullptr;
  for_each_open(a, [&](OpenObject& o) {
    if (oldest == nullptr || (oldest->complete && !o.complete) ||
        (oldest->complete == o.complete && o.opened < oldest->opened)) {
      oldest = &o;  // complete objects, waiting for their turn, are the last to go
    }
  });
  drop_object(a, oldest, result);
  return oldest;
}

bool any_open(const ObjectAssembler* a) { return a->open_mask != 0; }

// Whether the piece repeats an object that ended. A piece of such an object's number that
// starts an object far behind the furthest number while none is in progress starts the
// count again instead (the file plays again from there).
bool is_repeat(const ObjectAssembler* a, const MediaPiece* piece) {
  if (!has_ended(a, piece)) return false;
  if ((piece->has_offset && piece->offset != 0) || any_open(a)) return true;
  if (!a->have_last || a->last_width != piece->number_width) return true;
  return piece->object_number == a->last_number ||
         in_repeat_window(piece->object_number, a->last_number, piece->number_width);
}

OpenObject* open_object(ObjectAssembler* a, const MediaPiece* piece, AssemblerResult* result) {
  bool evidence = a->count_gap || any_open(a) || (piece->has_offset && piece->offset != 0);
  OpenObject* o = make_room(a, piece, result);
  a->open_mask |= 1u << index_of(a, o);
  o->previous = a->last_number;
  o->have_previous = a->have_last && a->last_width == piece->number_width;
  count_numbers(a, piece, evidence, result);
  a->count_gap = 0;
  o->active = 1;
  o->number = piece->object_number;
  o->number_width = piece->number_width;
  o->size = piece->object_size;
  o->held = 0;
  o->key_frame = piece->key_frame;
  o->presentation_time = piece->presentation_time;
  o->piece_count = 0;
  o->too_large = piece->object_size > kMaxFrameBufferSize;
  o->opened = a->opened++;
  if (o->too_large && !piece->spoilt) {
    result->events |= kAssemblerTooLarge;
    result->too_large_size = piece->object_size;
  }
  return o;
}

// The numbers awaited (passed over behind damage, a packet moved) that lie before the
// object within the window, as a mask over `missing`.
uint32_t awaited_before(const ObjectAssembler* a, const OpenObject* o) {
  if (a->missing == 0 || !a->have_last || o->number_width != a->last_width) return 0;
  uint32_t mask = object_number_mask(o->number_width);
  uint32_t before = 0;
  for (uint32_t i = 0; i < kRepeatWindow; ++i) {
    if (!(a->missing >> i & 1)) continue;
    if (in_repeat_window((a->last_number - 1 - i) & mask, o->number, o->number_width)) before |= 1u << i;
  }
  return before;
}

// Whether an object still coming in lies before this one within the window.
bool open_before(const ObjectAssembler* a, const OpenObject* o) {
  bool before = false;
  for_each_open(a, [&](const OpenObject& other) {
    if (other.complete || other.number_width != o->number_width) return;
    before = before || in_repeat_window(other.number, o->number, o->number_width);
  });
  return before;
}

// Whether the complete object may be written now: nothing that should come before it is
// still on its way (an object in progress, a number awaited). Numbers are trusted no
// further, as a damaged one must not hold the stream up: without such evidence, objects
// go out in the order they complete.
bool in_turn(const ObjectAssembler* a, const OpenObject* o) {
  if (o->number_width == 0) return true;
  return !open_before(a, o) && awaited_before(a, o) == 0;
}

// Writing `o` out of its turn: what should have come before it is given up.
void give_up_before(ObjectAssembler* a, const OpenObject* o, AssemblerResult* result) {
  if (o->number_width == 0) return;
  for_each_open(a, [&](OpenObject& other) {
    if (other.complete || other.number_width != o->number_width) return;
    if (in_repeat_window(other.number, o->number, o->number_width)) drop_object(a, &other, result);
  });
  uint32_t before = awaited_before(a, o);
  if (before != 0) lose_missing(a, ~before, result);
}

// Places the piece in its object o: dropped when the piece cannot be part of it.
void take_into(ObjectAssembler* a, OpenObject* o, const MediaPiece* piece, AssemblerResult* result) {
  // Without a number or an offset a piece can only follow the bytes that came before it.
  uint32_t offset = piece->has_offset && piece->number_width != 0 ? piece->offset : o->held;
  bool fits = offset <= o->size && piece->length <= o->size - offset;
  if (piece->spoilt || piece->object_size != o->size || !fits) {
    drop_object(a, o, result);  // it can never be completed; its later pieces are ignored
    return;
  }
  if (o->too_large) {
    // Not kept: only counted, in arrival order, until the object's bytes are all seen.
    o->held += piece->length;
    if (o->held >= o->size) end_object(a, o);
    return;
  }
  if (piece->length != 0) place(o, piece->bytes, offset, piece->length);
  if (o->held != o->size) return;
  o->complete = 1;
  result->events |= kAssemblerComplete;
}

}  // namespace

bool assembler_init(ObjectAssembler* assembler, uint32_t buffer_size) {
  std::memset(assembler, 0, sizeof *assembler);
  OpenObject* first = &assembler->objects[0];
  first->frame_buffer = static_cast<uint8_t*>(std::malloc(buffer_size));
  if (first->frame_buffer == nullptr) return false;
  first->buffer_size = buffer_size;
  return true;
}

void assembler_release(ObjectAssembler* assembler) {
  for (OpenObject& o : assembler->objects) {
    std::free(o.frame_buffer);
    o.frame_buffer = nullptr;
    o.buffer_size = 0;
  }
}

bool assembler_has_room(const ObjectAssembler* assembler) {
  bool room = true;  // an object that is not active holds no pieces
  for_each_open(assembler, [&](const OpenObject& o) { room = room && o.piece_count < kMaxObjectPieces; });
  return room;
}

AssemblerResult assembler_take(ObjectAssembler* a, const MediaPiece* piece) {
  AssemblerResult result = {};
  OpenObject* o = object_of(a, piece);
  if (o == nullptr) {
    if (is_repeat(a, piece)) return result;
    o = open_object(a, piece, &result);
  }
  a->newest = static_cast<uint32_t>(o - a->objects);
  take_into(a, o, piece, &result);
  return result;
}

bool assembler_in_line(const ObjectAssembler* a, const MediaPiece* piece) {
  if (piece->number_width == 0) return true;
  for (uint32_t m = a->open_mask; m != 0; m &= m - 1) {
    const OpenObject& o = a->objects[std::countr_zero(m)];
    if (o.number_width == piece->number_width && o.number == piece->object_number) return true;
  }
  if (!a->have_last) return !any_open(a);
  uint32_t mask = object_number_mask(piece->number_width);
  return a->last_width == piece->number_width && piece->object_number == ((a->last_number + 1) & mask);
}

bool assembler_met(const ObjectAssembler* a, const MediaPiece* piece) {
  for (uint32_t m = a->open_mask; m != 0; m &= m - 1) {
    const OpenObject& o = a->objects[std::countr_zero(m)];
    if (o.number_width == 0 || o.number != piece->object_number || o.size != piece->object_size) continue;
    // Its object is in progress: met where it holds bytes there, however it ended before.
    for (uint32_t i = 0; piece->has_offset && i < o.piece_count; ++i) {
      const ObjectPiece& held = o.pieces[i];
      if (ranges_overlap(held.offset, held.length, piece->offset, piece->length)) return true;
    }
    return false;
  }
  return has_ended(a, piece);
}

namespace {

// Copies the object's pieces into its frame buffer, which grows to the object's size.
bool gather_object(OpenObject* o) {
  if (!o->active || o->too_large || o->piece_count == 0) return true;
  if (o->size > o->buffer_size) {
    uint8_t* larger = static_cast<uint8_t*>(std::malloc(o->size));
    if (larger == nullptr) return false;
    // Pieces already gathered move with the buffer.
    for (uint32_t i = 0; i < o->piece_count; ++i) {
      ObjectPiece* p = &o->pieces[i];
      if (o->frame_buffer != nullptr && p->bytes == o->frame_buffer + p->offset) {
        std::memcpy(larger + p->offset, p->bytes, p->length);
        p->bytes = larger + p->offset;
      }
    }
    std::free(o->frame_buffer);
    o->frame_buffer = larger;
    o->buffer_size = o->size;
  }
  // Every piece goes to its own offset; neighbours then lie side by side and become one.
  uint32_t n = 0;
  for (uint32_t i = 0; i < o->piece_count; ++i) {
    ObjectPiece p = o->pieces[i];
    uint8_t* place_at = o->frame_buffer + p.offset;
    if (p.bytes != place_at) std::memcpy(place_at, p.bytes, p.length);
    if (n > 0 && o->pieces[n - 1].offset + o->pieces[n - 1].length == p.offset) {
      o->pieces[n - 1].length += p.length;
    } else {
      o->pieces[n++] = ObjectPiece{place_at, p.offset, p.length};
    }
  }
  o->piece_count = n;
  return true;
}

}  // namespace

bool assembler_gather(ObjectAssembler* a, uint32_t* dropped_size) {
  for (OpenObject& o : a->objects) {
    if (gather_object(&o)) continue;
    *dropped_size = o.size;
    end_object(a, &o);
    a->count_gap = 1;
    return false;
  }
  return true;
}

AssemblerResult assembler_abandon(ObjectAssembler* a) {
  AssemblerResult result = {};
  for (OpenObject& o : a->objects) {
    if (o.active && !o.complete) drop_object(a, &o, &result);
  }
  if (a->have_last) lose_missing(a, 0, &result);
  return result;
}

bool assembler_next(ObjectAssembler* a, bool force, AssemblerResult* result) {
  const OpenObject* first = nullptr;
  for (uint32_t m = a->open_mask; m != 0; m &= m - 1) {
    const OpenObject& o = a->objects[std::countr_zero(m)];
    if (!o.complete) continue;
    // First in the numbers' order: no other complete object lies within the window before
    // it (objects without numbers go in the order they were opened).
    bool before = first == nullptr;
    if (!before && o.number_width != 0 && o.number_width == first->number_width) {
      before = in_repeat_window(o.number, first->number, o.number_width);
    } else if (!before) {
      before = o.opened < first->opened;
    }
    if (before) first = &o;
  }
  if (first == nullptr || (!force && !in_turn(a, first))) return false;
  if (force) give_up_before(a, first, result);
  a->completed = static_cast<uint32_t>(first - a->objects);
  return true;
}

bool assembler_must_write(const ObjectAssembler* a, const MediaPiece* piece) {
  bool complete = false;
  bool full = a->open_mask == (1u << kOpenObjects) - 1;
  bool behind_window = false;
  for (uint32_t m = a->open_mask; m != 0; m &= m - 1) {
    const OpenObject& o = a->objects[std::countr_zero(m)];
    complete = complete || o.complete;
    behind_window = behind_window || (o.complete && left_behind(&o, piece));
    // A piece of an open object, or one that continues the newest, opens nothing.
    if (o.number_width == piece->number_width &&
        (piece->number_width == 0 || o.number == piece->object_number)) {
      return false;
    }
  }
  if (!complete || continues_exactly(&a->objects[a->newest], piece)) return false;
  if (is_repeat(a, piece)) return false;
  return full || behind_window;
}

void assembler_finish(ObjectAssembler* assembler) {
  end_object(assembler, &assembler->objects[assembler->completed]);
}
