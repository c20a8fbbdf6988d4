// SPDX-License-Identifier: Zlib
#include "member_walk.h"

#include <cstring>

namespace {

// The walk's place in its input and in the buffer.
struct walk_state {
    walk_input input;
    walk_buffer buffer;
    size_t start;   // first byte in the buffer not yet taken
    size_t end;     // end of the bytes read into it
    bool failed;    // the last read failed
    bool damaged;   // the last read found the bytes damaged
    int64_t offset; // where the record taken up next starts
    int64_t limit;  // where the sequence's members must end
};

// Makes at least `length` bytes (at most the capacity) stand at `start`: what
// is left moves to the front and one read fills the rest of the buffer, so a
// small member, its record and the next records arrive in one read while a
// large member takes one read per chunk. False when fewer could be had.
bool fill_for(walk_state *walk, size_t length) {
    size_t left = walk->end - walk->start;
    if (left >= length)
        return true;
    std::memmove(walk->buffer.bytes, walk->buffer.bytes + walk->start, left);
    walk->start = 0;
    walk->end = left;
    long got = walk->input.read(walk->input.source, walk->buffer.bytes + left,
                                walk->buffer.capacity - left);
    walk->failed = got == INPUT_FAILED;
    walk->damaged = got == INPUT_DAMAGED;
    if (got > 0)
        walk->end += static_cast<size_t>(got);
    return walk->end >= length;
}

// Passes over `length` bytes of data: what was read ahead first, then the
// input's own way, or by reading when it has none.
bool skip_data(walk_state *walk, int64_t length) {
    size_t left = walk->end - walk->start;
    size_t taken = length < static_cast<int64_t>(left) ? static_cast<size_t>(length) : left;
    walk->start += taken;
    length -= static_cast<int64_t>(taken);
    if (length == 0)
        return true;
    if (walk->input.skip != nullptr)
        return walk->input.skip(walk->input.source, length);
    while (length > 0) {
        size_t chunk = length < static_cast<int64_t>(walk->buffer.capacity)
                           ? static_cast<size_t>(length)
                           : walk->buffer.capacity;
        if (!fill_for(walk, chunk))
            return false;
        walk->start += chunk;
        length -= static_cast<int64_t>(chunk);
    }
    return true;
}

// The one loop every member's data passes through: chunk by chunk from the
// input, through the check value, to the visitor.
member_data_result pass_data(walk_state *walk, const walk_visitor *visitor, walked_member *member) {
    int64_t *remaining = &member->remaining;
    while (*remaining != 0) {
        size_t length = *remaining < static_cast<int64_t>(walk->buffer.capacity)
                            ? static_cast<size_t>(*remaining)
                            : walk->buffer.capacity;
        // The size was judged against the sequence's length, so a short read
        // means the device failed or the file changed under us.
        if (!fill_for(walk, length))
            return walk->damaged ? MEMBER_DAMAGED : MEMBER_DATA_MISSING;
        const char *chunk = walk->buffer.bytes + walk->start;
        walk->start += length;
        *remaining -= static_cast<int64_t>(length);
        continue_member_check(&member->check, chunk, length);
        if (!visitor->data(visitor->context, member, chunk, length))
            return MEMBER_REFUSED;
    }
    return member_check_failed(&member->check) ? MEMBER_DAMAGED : MEMBER_WHOLE;
}

walk_end end_of_member(member_data_result result) {
    if (result == MEMBER_DATA_MISSING)
        return WALK_DATA_MISSING;
    return result == MEMBER_DAMAGED ? WALK_DAMAGED : WALK_STOPPED;
}

// Takes up the member whose good record was just read. True when the walk
// goes on after it; else `outcome` says why not.
bool visit_member(walk_state *walk, const walk_visitor *visitor, walked_member *member,
                  walk_outcome *outcome) {
    member->remaining = member->data_size;
    member->walk = walk;
    visit_step step = visitor->begin(visitor->context, member);
    if (step == VISIT_DATA) {
        member_data_result result = pass_data(walk, visitor, member);
        bool go_on = visitor->end(visitor->context, member, result);
        // Nothing after damaged input can be trusted to stand where it should.
        if (!go_on || result == MEMBER_DATA_MISSING || walk->damaged) {
            outcome->end = end_of_member(result);
            return false;
        }
    } else if (step == VISIT_STOP) {
        outcome->end = WALK_STOPPED;
        return false;
    }
    walk->offset += RECORD_SIZE + member->data_size;
    if (member->remaining != 0 && !skip_data(walk, member->remaining)) {
        outcome->end = walk->damaged ? WALK_INPUT_DAMAGED : WALK_RECORD_UNREADABLE;
        outcome->offset = walk->offset;
        return false;
    }
    return true;
}

} // namespace

walk_outcome walk_members_of(walk_input input, walk_buffer buffer, int64_t start, int64_t limit,
                             name_rules rules, const walk_visitor *visitor) {
    walk_state walk = {input, buffer, 0, 0, false, false, start, limit};
    walk_outcome outcome = {WALK_AT_END, start, RECORD_GOOD, 0, 0};
    walked_member member;
    for (;;) {
        outcome.offset = walk.offset;
        if (!fill_for(&walk, RECORD_SIZE)) {
            outcome.end = walk.damaged  ? WALK_INPUT_DAMAGED
                          : walk.failed ? WALK_RECORD_UNREADABLE
                                        : WALK_AT_END;
            outcome.leftover = walk.end - walk.start;
            return outcome;
        }
        decode_member_record(reinterpret_cast<const unsigned char *>(buffer.bytes + walk.start),
                             &member.record);
        walk.start += RECORD_SIZE;
        int64_t bytes_after_record = walk.limit - (walk.offset + RECORD_SIZE);
        outcome.verdict = judge_member_record(&member.record, bytes_after_record, rules);
        if (outcome.verdict != RECORD_GOOD) {
            outcome.end = WALK_BAD_RECORD;
            return outcome;
        }
        ++outcome.members;
        member.offset = walk.offset;
        member.data_size = member_data_size(&member.record);
        member.check = begin_member_check(&member.record);
        if (!visit_member(&walk, visitor, &member, &outcome))
            return outcome;
    }
}

declaration_verdict read_layout_declaration(walk_input input, int *version) {
    unsigned char bytes[DECLARATION_SIZE];
    long got = input.read(input.source, reinterpret_cast<char *>(bytes), sizeof bytes);
    *version = UNDECLARED_LAYOUT;
    if (got < 0)
        return DECLARATION_UNREADABLE;
    return take_layout_declaration(got == DECLARATION_SIZE ? bytes : nullptr, version);
}

namespace {

// What was read ahead first, then straight from the walk's input.
long read_member_data(void *source, char *buffer, size_t length) {
    walked_member *member = static_cast<walked_member *>(source);
    walk_state *walk = static_cast<walk_state *>(member->walk);
    size_t wanted = member->remaining < static_cast<int64_t>(length)
                        ? static_cast<size_t>(member->remaining)
                        : length;
    size_t left = walk->end - walk->start;
    size_t got = wanted < left ? wanted : left;
    std::memcpy(buffer, walk->buffer.bytes + walk->start, got);
    walk->start += got;
    if (got < wanted) {
        long more = walk->input.read(walk->input.source, buffer + got, wanted - got);
        if (more < 0)
            return more;
        got += static_cast<size_t>(more);
    }
    continue_member_check(&member->check, buffer, got);
    member->remaining -= static_cast<int64_t>(got);
    return static_cast<long>(got);
}

bool skip_stream(void *source, int64_t length) {
    bounded_stream *bounded = static_cast<bounded_stream *>(source);
    bounded->unread -= length;
    return std::fseek(bounded->stream, static_cast<long>(length), SEEK_CUR) == 0;
}

} // namespace

walk_input member_data_input(walked_member *member) {
    return walk_input{read_member_data, nullptr, member};
}

long read_bounded_stream(void *source, char *buffer, size_t length) {
    bounded_stream *bounded = static_cast<bounded_stream *>(source);
    if (static_cast<int64_t>(length) > bounded->unread)
        length = bounded->unread > 0 ? static_cast<size_t>(bounded->unread) : 0;
    size_t got = std::fread(buffer, 1, length, bounded->stream);
    // A short read at the stream's end is the input's end, not a failure: the
    // trailer after the last member ends the walk without being judged.
    if (got < length && !std::feof(bounded->stream))
        return INPUT_FAILED;
    bounded->unread -= static_cast<int64_t>(got);
    return static_cast<long>(got);
}

walk_input stream_walk_input(bounded_stream *stream) {
    return walk_input{read_bounded_stream, skip_stream, stream};
}
