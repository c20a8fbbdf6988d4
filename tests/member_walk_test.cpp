// SPDX-License-Identifier: Zlib
// The member walk through its own interfaces: an input that is no file (as a
// decoder will be), sequences that start and end beyond 4 GiB, and visitors
// that take, skip, refuse or stop. What each program makes of the walk is
// tested through the programs themselves.
#include "archive_writer.h"
#include "crc32c.h"
#include "member_walk.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Where the test sequences start: past what 32 bits can count.
constexpr int64_t FAR_START = INT64_C(5) * 1024 * 1024 * 1024;

// One member's record and data, with the extension block when `checked`; a
// `damaged` member has one data byte changed after its check value was taken.
std::string member_bytes(char kind, const std::string &name, const std::string &data,
                         bool checked = true, bool damaged = false) {
    unsigned char record[RECORD_SIZE];
    int32_t size = kind == KIND_FILE ? static_cast<int32_t>(data.size()) : 0;
    if (checked) {
        EXPECT_TRUE(encode_new_record(kind, name.c_str(), size, record));
        member_record decoded;
        decode_member_record(record, &decoded);
        uint32_t crc = start_member_check(&decoded, 0);
        crc = crc32c_update(crc, data.data(), kind == KIND_FILE ? data.size() : 0);
        member_extension extension = {crc, 0};
        EXPECT_TRUE(encode_checked_record(kind, name.c_str(), size, &extension, record));
    } else {
        EXPECT_TRUE(encode_new_record(kind, name.c_str(), size, record));
    }
    std::string bytes(reinterpret_cast<const char *>(record), sizeof record);
    std::string body = kind == KIND_FILE ? data : std::string();
    if (damaged && !body.empty())
        body[body.size() / 2] ^= 0x20;
    return bytes + body;
}

// An input over bytes in memory, in reads of at most `largest_read` bytes,
// failing once `fail_at` bytes were delivered (returning `failure`: a failed
// read, or damage a decoder found); skipping only when `can_skip`.
struct memory_source {
    std::string bytes;
    size_t position;
    size_t fail_at;
    size_t largest_read;
    int reads;
    int skips;
    long failure;
};

long read_memory(void *source, char *buffer, size_t length) {
    memory_source *memory = static_cast<memory_source *>(source);
    ++memory->reads;
    if (memory->position >= memory->fail_at)
        return memory->failure;
    // A decoder gives none of the bytes of a read in which it finds damage.
    if (memory->failure == INPUT_DAMAGED && memory->fail_at - memory->position < length)
        return INPUT_DAMAGED;
    size_t count = std::min({length, memory->largest_read, memory->bytes.size() - memory->position,
                             memory->fail_at - memory->position});
    std::memcpy(buffer, memory->bytes.data() + memory->position, count);
    memory->position += count;
    // A short read means the end to the walk, so a source in pieces goes on
    // until the buffer is full or the bytes are over.
    if (count < length && memory->position < memory->bytes.size() &&
        memory->position < memory->fail_at) {
        long more = read_memory(source, buffer + count, length - count);
        return more < 0 ? more : static_cast<long>(count) + more;
    }
    return static_cast<long>(count);
}

bool skip_memory(void *source, int64_t length) {
    memory_source *memory = static_cast<memory_source *>(source);
    ++memory->skips;
    if (memory->position + static_cast<size_t>(length) > memory->bytes.size())
        return false;
    memory->position += static_cast<size_t>(length);
    return true;
}

// What a visitor saw and how it answers.
struct recorder {
    std::string events;         // one line per call
    std::string data;           // every chunk handed over, in order
    std::vector<size_t> chunks; // their lengths
    visit_step step;            // the answer to every begin
    int refuse_after;           // data calls taken before one is refused; -1: none
    bool go_on;                 // the answer to every end
};

const char *result_name(member_data_result result) {
    switch (result) {
    case MEMBER_WHOLE:
        return "whole";
    case MEMBER_DAMAGED:
        return "damaged";
    case MEMBER_DATA_MISSING:
        return "missing";
    case MEMBER_REFUSED:
        return "refused";
    }
    return "?";
}

visit_step record_begin(void *context, walked_member *member) {
    recorder *seen = static_cast<recorder *>(context);
    seen->events += "begin " + std::string(member->record.name) + " at " +
                    std::to_string(member->offset - FAR_START) + " size " +
                    std::to_string(member->data_size) +
                    (member->check.checked ? " checked\n" : " unchecked\n");
    return seen->step;
}

bool record_data(void *context, const walked_member *, const char *chunk, size_t length) {
    recorder *seen = static_cast<recorder *>(context);
    if (seen->refuse_after == 0) {
        seen->refuse_after = -1; // one refusal; the next member is taken
        return false;
    }
    if (seen->refuse_after > 0)
        --seen->refuse_after;
    seen->data.append(chunk, length);
    seen->chunks.push_back(length);
    return true;
}

bool record_end(void *context, walked_member *member, member_data_result result) {
    recorder *seen = static_cast<recorder *>(context);
    seen->events += "end " + std::string(member->record.name) + " " + result_name(result) + "\n";
    return seen->go_on;
}

struct walk_run {
    walk_outcome outcome;
    recorder seen;
    memory_source source;
};

// Walks `bytes` as a sequence standing at FAR_START whose members must end
// `slack` bytes before the bytes do, through a buffer of `capacity` bytes.
walk_run walk_bytes(const std::string &bytes, recorder seen, size_t capacity = 1000,
                    bool can_skip = true, size_t fail_at = SIZE_MAX, int64_t slack = 0,
                    long failure = INPUT_FAILED) {
    walk_run run = {{}, seen, {bytes, 0, fail_at, 777, 0, 0, failure}};
    std::vector<char> buffer(capacity);
    walk_input input = {read_memory, can_skip ? skip_memory : nullptr, &run.source};
    walk_visitor visitor = {record_begin, record_data, record_end, &run.seen};
    run.outcome = walk_members_of(input, walk_buffer{buffer.data(), buffer.size()}, FAR_START,
                                  FAR_START + static_cast<int64_t>(bytes.size()) - slack,
                                  NAME_RULES_POSIX, &visitor);
    return run;
}

recorder taking() {
    return recorder{"", "", {}, VISIT_DATA, -1, true};
}

TEST(MemberWalk, HandsEveryMemberAndItsDataInChunksAndEndsAtTheEnd) {
    std::string big = patterned_data(2500, 3);
    std::string small = patterned_data(10, 4);
    std::string bytes = member_bytes(KIND_DIRECTORY, "d", "") +
                        member_bytes(KIND_FILE, "d/big", big) +
                        member_bytes(KIND_FILE, "small", small, false) + "TRL";
    walk_run run = walk_bytes(bytes, taking(), 1000, true, SIZE_MAX, 3);
    EXPECT_EQ(run.outcome.end, WALK_AT_END);
    EXPECT_EQ(run.outcome.members, 3);
    EXPECT_EQ(run.outcome.leftover, 3u) << "the bytes after the last member, unjudged";
    EXPECT_EQ(run.outcome.offset - FAR_START, static_cast<int64_t>(bytes.size()) - 3);
    EXPECT_EQ(run.seen.events, "begin d at 0 size 0 checked\nend d whole\n"
                               "begin d/big at 264 size 2500 checked\nend d/big whole\n"
                               "begin small at 3028 size 10 unchecked\nend small whole\n");
    EXPECT_EQ(run.seen.data, big + small);
    EXPECT_EQ(run.seen.chunks, (std::vector<size_t>{1000, 1000, 500, 10}))
        << "chunks of the buffer's capacity, the last of a member shorter";
}

TEST(MemberWalk, SaysWhereAndWhyItStopped) {
    std::string good = member_bytes(KIND_FILE, "good", "data");
    std::string bad_magic = member_bytes(KIND_FILE, "bad", "x");
    bad_magic[RECORD_MAGIC_OFFSET] ^= 1;
    std::string too_big = member_bytes(KIND_FILE, "big", patterned_data(100));
    struct walk_case {
        const char *what;
        std::string bytes;
        size_t fail_at;
        walk_end end;
        int64_t offset; // from FAR_START
        record_verdict verdict;
        int64_t members;
    } cases[] = {
        {"bad magic after a good member", good + bad_magic, SIZE_MAX, WALK_BAD_RECORD, 268,
         RECORD_BAD_MAGIC, 1},
        {"size past the sequence's end", good + too_big.substr(0, RECORD_SIZE + 99), SIZE_MAX,
         WALK_BAD_RECORD, 268, RECORD_BAD_SIZE, 1},
        {"read failure inside a record", good + good, 300, WALK_RECORD_UNREADABLE, 268, RECORD_GOOD,
         1},
        {"read failure inside data", good + too_big, 268 + 300, WALK_DATA_MISSING, 268, RECORD_GOOD,
         2},
        {"a record cut off by the end", good + good.substr(0, 100), SIZE_MAX, WALK_AT_END, 268,
         RECORD_GOOD, 1},
    };
    for (const walk_case &c : cases) {
        walk_run run = walk_bytes(c.bytes, taking(), 1000, true, c.fail_at);
        EXPECT_EQ(run.outcome.end, c.end) << c.what;
        EXPECT_EQ(run.outcome.offset - FAR_START, c.offset) << c.what;
        EXPECT_EQ(run.outcome.verdict, c.verdict) << c.what;
        EXPECT_EQ(run.outcome.members, c.members) << c.what;
    }
}

// A decoder's input says its bytes are damaged: inside a member's data the
// member ends damaged and the walk ends there, even for a visitor that goes
// on after damage (sfxpack -t does); where a record stands the walk ends
// without handing it over.
TEST(MemberWalk, DamagedInputEndsTheWalkWhateverTheVisitorSays) {
    std::string good = member_bytes(KIND_FILE, "good", "data");
    std::string big = member_bytes(KIND_FILE, "big", patterned_data(3000));
    struct damage_case {
        const char *what;
        std::string bytes;
        size_t fail_at;
        walk_end end;
        int64_t offset; // from FAR_START
        std::string events;
    } cases[] = {
        // The reads of 1000 bytes end where big's data does; the next read
        // is the one that finds the damage.
        {"inside a record", good + big + good, 268 + 3264 + 100, WALK_INPUT_DAMAGED, 268 + 3264,
         "begin good at 0 size 4 checked\nend good whole\n"
         "begin big at 268 size 3000 checked\nend big whole\n"},
        {"inside data", good + big, 268 + 1500, WALK_DAMAGED, 268,
         "begin good at 0 size 4 checked\nend good whole\n"
         "begin big at 268 size 3000 checked\nend big damaged\n"},
    };
    for (const damage_case &c : cases) {
        SCOPED_TRACE(c.what);
        walk_run run = walk_bytes(c.bytes, taking(), 1000, true, c.fail_at, 0, INPUT_DAMAGED);
        EXPECT_EQ(run.outcome.end, c.end);
        EXPECT_EQ(run.outcome.offset - FAR_START, c.offset);
        EXPECT_EQ(run.seen.events, c.events);
    }
}

// The declaration is read from the walk's own input, which then stands at
// the first record: an input that ends before 16 bytes declares nothing, one
// whose read fails is refused, not read as undeclared.
TEST(MemberWalk, TheDeclarationComesFromTheSameInputAsTheRecords) {
    unsigned char declared[DECLARATION_SIZE];
    encode_layout_declaration(NEWEST_LAYOUT_VERSION, declared);
    unsigned char newer[DECLARATION_SIZE];
    encode_layout_declaration(NEWEST_LAYOUT_VERSION + 1, newer);
    const std::string current(reinterpret_cast<const char *>(declared), DECLARATION_SIZE);
    const std::string member = member_bytes(KIND_FILE, "after", "data");
    struct declaration_case {
        const char *what;
        std::string bytes;
        size_t fail_at;
        declaration_verdict verdict;
        int version;
        size_t position; // where the input stands afterwards
    } cases[] = {
        {"declared", current + member, SIZE_MAX, DECLARATION_GOOD, NEWEST_LAYOUT_VERSION, 16},
        {"filler", std::string(DECLARATION_SIZE, 'x') + member, SIZE_MAX, DECLARATION_GOOD,
         UNDECLARED_LAYOUT, 16},
        {"ends inside it", current.substr(0, 9), SIZE_MAX, DECLARATION_GOOD, UNDECLARED_LAYOUT, 9},
        {"newer", std::string(reinterpret_cast<const char *>(newer), DECLARATION_SIZE) + member,
         SIZE_MAX, DECLARATION_NEWER, NEWEST_LAYOUT_VERSION + 1, 16},
        {"the read fails", current + member, 0, DECLARATION_UNREADABLE, UNDECLARED_LAYOUT, 0},
    };
    for (const declaration_case &c : cases) {
        memory_source source = {c.bytes, 0, c.fail_at, SIZE_MAX, 0, 0, INPUT_FAILED};
        int version = -1;
        EXPECT_EQ(read_layout_declaration(walk_input{read_memory, nullptr, &source}, &version),
                  c.verdict)
            << c.what;
        EXPECT_EQ(version, c.version) << c.what;
        EXPECT_EQ(source.position, c.position) << c.what;
    }
    // The other tests walk members of an undeclared file.
    int version = -1;
    take_layout_declaration(nullptr, &version);
}

TEST(MemberWalk, DamageEndsTheWalkOnlyWhenTheVisitorSaysSo) {
    std::string bytes = member_bytes(KIND_FILE, "one", patterned_data(50), true, true) +
                        member_bytes(KIND_FILE, "two", "ok");
    walk_run going_on = walk_bytes(bytes, taking());
    EXPECT_EQ(going_on.outcome.end, WALK_AT_END);
    EXPECT_EQ(going_on.seen.events, "begin one at 0 size 50 checked\nend one damaged\n"
                                    "begin two at 314 size 2 checked\nend two whole\n");
    recorder stopping = taking();
    stopping.go_on = false;
    walk_run stopped = walk_bytes(bytes, stopping);
    EXPECT_EQ(stopped.outcome.end, WALK_DAMAGED);
    EXPECT_EQ(stopped.outcome.offset, FAR_START);
    EXPECT_EQ(stopped.outcome.members, 1);
}

TEST(MemberWalk, SkippedAndRefusedDataIsPassedOverWithOrWithoutTheInputsSkip) {
    std::string first = patterned_data(5000, 7);
    std::string bytes =
        member_bytes(KIND_FILE, "first", first) + member_bytes(KIND_FILE, "next", "n");
    for (bool can_skip : {true, false}) {
        recorder skipping = taking();
        skipping.step = VISIT_SKIP;
        walk_run skipped = walk_bytes(bytes, skipping, 1000, can_skip);
        EXPECT_EQ(skipped.outcome.end, WALK_AT_END);
        EXPECT_EQ(skipped.outcome.members, 2);
        EXPECT_EQ(skipped.seen.events, "begin first at 0 size 5000 checked\n"
                                       "begin next at 5264 size 1 checked\n")
            << "no data and no end for a skipped member";
        EXPECT_TRUE(skipped.seen.data.empty());
        EXPECT_EQ(skipped.source.skips, can_skip ? 1 : 0);

        recorder refusing = taking();
        refusing.refuse_after = 1;
        walk_run refused = walk_bytes(bytes, refusing, 1000, can_skip);
        EXPECT_EQ(refused.outcome.end, WALK_AT_END);
        EXPECT_EQ(refused.seen.events, "begin first at 0 size 5000 checked\nend first refused\n"
                                       "begin next at 5264 size 1 checked\nend next whole\n");
        EXPECT_EQ(refused.seen.data, first.substr(0, 1000) + "n");
    }
    recorder refusing = taking();
    refusing.refuse_after = 0;
    refusing.go_on = false;
    walk_run stopped = walk_bytes(bytes, refusing);
    EXPECT_EQ(stopped.outcome.end, WALK_STOPPED);
    EXPECT_EQ(stopped.outcome.offset, FAR_START);
    recorder stopping = taking();
    stopping.step = VISIT_STOP;
    walk_run stopped_at_begin = walk_bytes(bytes, stopping);
    EXPECT_EQ(stopped_at_begin.outcome.end, WALK_STOPPED);
    EXPECT_EQ(stopped_at_begin.seen.events, "begin first at 0 size 5000 checked\n");
}

// A visitor that walks the data of every member named "inner" as a member
// sequence of its own, with itself as the visitor, through a small buffer:
// as a compressed container's decoded data will be walked.
struct nesting {
    recorder seen;
    std::vector<walk_outcome> inner_outcomes;
};

visit_step nest_begin(void *context, walked_member *member) {
    nesting *nest = static_cast<nesting *>(context);
    visit_step step = record_begin(&nest->seen, member);
    if (std::strcmp(member->record.name, "inner") != 0)
        return step;
    walk_visitor same = {nest_begin, record_data, record_end, nullptr};
    same.context = nest;
    char buffer[RECORD_SIZE + 100];
    nest->inner_outcomes.push_back(
        walk_members_of(member_data_input(member), walk_buffer{buffer, sizeof buffer}, FAR_START,
                        FAR_START + member->data_size, NAME_RULES_POSIX, &same));
    return VISIT_DATA;
}

bool nest_data(void *context, const walked_member *member, const char *chunk, size_t length) {
    return record_data(&static_cast<nesting *>(context)->seen, member, chunk, length);
}

bool nest_end(void *context, walked_member *member, member_data_result result) {
    return record_end(&static_cast<nesting *>(context)->seen, member, result);
}

TEST(MemberWalk, AMembersDataIsWalkedAsASequenceThroughItsCheck) {
    std::string inner = member_bytes(KIND_DIRECTORY, "sub", "") +
                        member_bytes(KIND_FILE, "sub/a", patterned_data(700, 8));
    for (bool damaged : {false, true}) {
        std::string bytes = member_bytes(KIND_FILE, "inner", inner, true, damaged) +
                            member_bytes(KIND_FILE, "after", "z");
        nesting nest = {taking(), {}};
        walk_visitor visitor = {nest_begin, nest_data, nest_end, &nest};
        memory_source source = {bytes, 0, SIZE_MAX, 777, 0, 0, INPUT_FAILED};
        std::vector<char> buffer(1000);
        walk_outcome outcome = walk_members_of(walk_input{read_memory, skip_memory, &source},
                                               walk_buffer{buffer.data(), buffer.size()}, FAR_START,
                                               FAR_START + static_cast<int64_t>(bytes.size()),
                                               NAME_RULES_POSIX, &visitor);
        EXPECT_EQ(outcome.end, WALK_AT_END);
        ASSERT_EQ(nest.inner_outcomes.size(), 1u);
        const walk_outcome &within = nest.inner_outcomes[0];
        EXPECT_EQ(within.end, WALK_AT_END);
        EXPECT_EQ(within.members, 2);
        EXPECT_EQ(within.leftover, 0u);
        // One byte of the inner file's data changed: its own check and the
        // whole sequence's fail.
        const char *inner_end = damaged ? "end sub/a damaged\nend inner damaged\n"
                                        : "end sub/a whole\nend inner whole\n";
        EXPECT_EQ(nest.seen.events, std::string("begin inner at 0 size 1228 checked\n"
                                                "begin sub at 0 size 0 checked\nend sub whole\n"
                                                "begin sub/a at 264 size 700 checked\n") +
                                        inner_end +
                                        "begin after at 1492 size 1 checked\n"
                                        "end after whole\n");
        if (!damaged) {
            EXPECT_TRUE(nest.seen.data == patterned_data(700, 8) + "z")
                << "the inner sequence's data in its own chunks; none of the outer member's";
        }
    }
}

TEST(MemberWalk, SmallMembersArriveWithTheirRecordsInOneRead) {
    std::string bytes;
    for (int i = 0; i < 5; ++i)
        bytes += member_bytes(KIND_FILE, "m" + std::to_string(i), patterned_data(20, i));
    walk_run run = walk_bytes(bytes, taking(), 4000);
    EXPECT_EQ(run.outcome.members, 5);
    EXPECT_EQ(run.source.reads, 2 + 1) << "one buffer's fill in pieces of 777, then the end";
}

} // namespace
