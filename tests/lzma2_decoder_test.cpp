// SPDX-License-Identifier: Zlib
// The LZMA2 decoder against liblzma's raw decoder: streams liblzma makes come
// out byte for byte, in any piece sizes; every kind of malformed stream is
// damage for both.
#include "lzma2_decoder.h"
#include "lzma2_pair.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

typedef std::vector<uint8_t> bytes;

// Deterministic pseudo-random numbers, so every run tests the same data.
struct sequence {
    uint32_t value;
    uint32_t next() {
        value = value * 1103515245u + 12345u;
        return value >> 8;
    }
};

// Words of a small vocabulary between runs of random letters: compresses
// well, with matches, literals and literals after matches all frequent.
bytes text(size_t length, uint32_t seed) {
    static const char *const words[] = {"record ",    "member ",   "name\n", "the ",   "size ",
                                        "directory/", "file.txt ", "0123 ",  "kind\t", "data "};
    sequence random{seed};
    bytes out;
    while (out.size() < length) {
        uint32_t pick = random.next() % 20;
        if (pick < 10) {
            const char *word = words[pick];
            out.insert(out.end(), word, word + std::strlen(word));
        } else {
            for (uint32_t letters = pick - 9; letters > 0; --letters)
                out.push_back(static_cast<uint8_t>('a' + random.next() % 26));
        }
    }
    out.resize(length);
    return out;
}

// Bytes no coder can shrink: liblzma stores them.
bytes noise(size_t length, uint32_t seed) {
    sequence random{seed};
    bytes out(length);
    for (uint8_t &byte : out)
        byte = static_cast<uint8_t>(random.next());
    return out;
}

bytes joined(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A block of noise twice: the second copy is one match `length` bytes back.
bytes repeated_noise(size_t length) {
    bytes block = noise(length, 7);
    return joined({block, block});
}

struct round_trip {
    const char *name;
    std::function<bytes()> data;
    lzma2_settings settings;
};

constexpr uint32_t KIB = 1024;
constexpr uint32_t MIB = 1024 * 1024;

const round_trip ROUND_TRIPS[] = {
    {"empty", [] { return bytes(); }, {6, 8 * MIB, 3, 0, 2}},
    {"one byte", [] { return bytes{'a'}; }, {6, 8 * MIB, 3, 0, 2}},
    {"text, preset 0", [] { return text(300 * KIB, 1); }, {0, 256 * KIB, 3, 0, 2}},
    {"text, preset 6", [] { return text(300 * KIB, 2); }, {6, 8 * MIB, 3, 0, 2}},
    {"text, preset 9", [] { return text(300 * KIB, 3); }, {9, 64 * MIB, 3, 0, 2}},
    {"lc 0 lp 0 pb 0", [] { return text(200 * KIB, 4); }, {6, 1 * MIB, 0, 0, 0}},
    {"lc 4 lp 0 pb 4", [] { return text(200 * KIB, 5); }, {6, 1 * MIB, 4, 0, 4}},
    {"lc 0 lp 4 pb 4", [] { return text(200 * KIB, 6); }, {6, 1 * MIB, 0, 4, 4}},
    {"lc 1 lp 3 pb 1", [] { return text(200 * KIB, 7); }, {6, 1 * MIB, 1, 3, 1}},
    {"lc 2 lp 2 pb 3", [] { return text(200 * KIB, 8); }, {6, 1 * MIB, 2, 2, 3}},
    {"noise: stored chunks", [] { return noise(200 * KIB, 9); }, {6, 8 * MIB, 3, 0, 2}},
    {"text, noise, text: stored and coded chunks by turns",
     [] {
         return joined({text(100 * KIB, 10), noise(150 * KIB, 11), text(100 * KIB, 12)});
     },
     {6, 8 * MIB, 3, 0, 2}},
    // The smallest dictionary liblzma makes, and sizes that are no power of
    // two: the dictionary wraps many times, matches reach across its end.
    {"dictionary 4 KiB", [] { return text(400 * KIB, 13); }, {6, 4 * KIB, 3, 0, 2}},
    {"dictionary 5000 bytes, lp 2 pb 2", [] { return text(400 * KIB, 14); }, {6, 5000, 2, 2, 2}},
    {"dictionary 70001 bytes, repeated noise",
     [] { return repeated_noise(60 * KIB); },
     {6, 70001, 3, 0, 2}},
    {"match of 300 KiB back", [] { return repeated_noise(300 * KIB); }, {6, 1 * MIB, 3, 0, 2}},
    // More than one coded chunk's 2 MiB of output.
    {"5 MiB of text", [] { return text(5 * MIB, 15); }, {1, 1 * MIB, 3, 0, 2}},
};

struct pieces {
    size_t input;
    size_t output;
};

const pieces PIECES[] = {{SIZE_MAX, SIZE_MAX}, {16000, 16000}, {7, 13}, {65537, 1}, {1, 1}};

TEST(Lzma2Decoder, GivesLiblzmasBytesInAnyPieces) {
    for (const round_trip &trip : ROUND_TRIPS) {
        bytes data = trip.data();
        bytes stream = encode_reference(data, trip.settings);
        ASSERT_FALSE(stream.empty()) << trip.name;
        lzma2_outcome reference =
            decode_reference(stream, trip.settings.dictionary_size, data.size());
        ASSERT_TRUE(reference.whole) << trip.name;
        ASSERT_EQ(reference.bytes, data) << trip.name;
        for (const pieces &piece : PIECES) {
            // Byte by byte costs too long for the largest inputs.
            if (piece.input == 1 && data.size() > 1 * MIB)
                continue;
            lzma2_outcome ours = decode_ours(stream, trip.settings.dictionary_size, data.size(),
                                             piece.input, piece.output);
            EXPECT_TRUE(ours.whole)
                << trip.name << ", pieces " << piece.input << "/" << piece.output;
            EXPECT_TRUE(ours.bytes == data)
                << trip.name << ", pieces " << piece.input << "/" << piece.output;
        }
    }
}

// Two streams one after the other, the first without its end byte: the
// second starts with a dictionary reset in the middle of the stream.
TEST(Lzma2Decoder, DictionaryResetInTheMiddle) {
    bytes first = text(100 * KIB, 20);
    bytes second = joined({noise(3 * KIB, 21), text(50 * KIB, 22)});
    lzma2_settings settings{6, 64 * KIB, 3, 0, 2};
    bytes stream = encode_reference(first, settings);
    stream.pop_back();
    bytes rest = encode_reference(second, settings);
    stream.insert(stream.end(), rest.begin(), rest.end());
    bytes data = joined({first, second});
    ASSERT_TRUE(decode_reference(stream, settings.dictionary_size, data.size()).whole);
    for (const pieces &piece : PIECES) {
        lzma2_outcome ours =
            decode_ours(stream, settings.dictionary_size, data.size(), piece.input, piece.output);
        EXPECT_TRUE(ours.whole && ours.bytes == data) << piece.input << "/" << piece.output;
    }
}

// A stream of stored chunks written by hand.
bytes stored_chunk(uint8_t control, const bytes &data) {
    bytes chunk(3 + data.size());
    chunk[0] = control;
    chunk[1] = static_cast<uint8_t>((data.size() - 1) >> 8);
    chunk[2] = static_cast<uint8_t>(data.size() - 1);
    std::copy(data.begin(), data.end(), chunk.begin() + 3);
    return chunk;
}

const bytes END{0x00};

// One coded chunk of liblzma's, with its end byte: control 0xE0, the decoded
// size at 1..2, the coded size at 3..4, the properties at 5, data from 6.
bytes coded_stream() {
    bytes stream = encode_reference(text(20 * KIB, 30), {6, 1 * MIB, 3, 0, 2});
    return stream;
}

constexpr size_t CODED_SIZE_AT = 3;
constexpr size_t PROPERTIES_AT = 5;
constexpr size_t CODED_DATA_AT = 6;

uint32_t coded_size(const bytes &stream) {
    return ((stream[CODED_SIZE_AT] << 8) | stream[CODED_SIZE_AT + 1]) + 1u;
}

void set_coded_size(bytes &stream, uint32_t size) {
    stream[CODED_SIZE_AT] = static_cast<uint8_t>((size - 1) >> 8);
    stream[CODED_SIZE_AT + 1] = static_cast<uint8_t>(size - 1);
}

struct malformed {
    const char *name;
    bytes stream;
    uint64_t decoded_length;
    uint32_t dictionary_size;
};

std::vector<malformed> malformed_streams() {
    const bytes text_data = text(20 * KIB, 30);
    const uint64_t length = text_data.size();
    const bytes sound = coded_stream();
    std::vector<malformed> cases;
    auto add = [&cases](const char *name, bytes stream, uint64_t decoded, uint32_t dictionary) {
        cases.push_back({name, std::move(stream), decoded, dictionary});
    };

    add("control byte 0x03", {0x03, 0x00, 0x00, 'a', 0x00}, 1, 4096);
    add("control byte 0x7F after a sound chunk",
        joined({stored_chunk(0x01, {'a'}), {0x7F, 0x00, 0x00, 'b'}, END}), 2, 4096);
    add("stored chunk before any dictionary reset", joined({stored_chunk(0x02, {'a'}), END}), 1,
        4096);
    for (uint8_t control : {0x80, 0xA0, 0xC0}) {
        bytes stream = sound;
        stream[0] = control;
        if (control < 0xC0)
            stream.erase(stream.begin() + PROPERTIES_AT);
        add("coded chunk before any dictionary reset", stream, length, 1 * MIB);
    }
    {
        // A stored chunk that resets the dictionary asks for new properties
        // too, even after a coded chunk set them.
        bytes first(sound.begin(), sound.end() - 1);
        bytes coded = sound;
        coded[0] = 0xA0;
        coded.erase(coded.begin() + PROPERTIES_AT);
        // Four zero bytes keep the coded chunk's position bits (pb 2) and its
        // first literal's context (a zero byte) as they were made: the
        // properties rule alone makes it damage.
        add("coded chunk without properties after a stored reset",
            joined({first, stored_chunk(0x01, {0, 0, 0, 0}), coded}), 2 * length + 4, 1 * MIB);
    }
    {
        // After a stored chunk, the first coded chunk must set properties.
        bytes coded = sound;
        coded[0] = 0xA0;
        coded.erase(coded.begin() + PROPERTIES_AT);
        add("coded chunk without properties after a stored one",
            joined({stored_chunk(0x01, {'a'}), coded}), length + 1, 1 * MIB);
    }
    {
        bytes stream = sound;
        stream[PROPERTIES_AT] = (0 * 5 + 2) * 9 + 3;
        add("lc 3 + lp 2", stream, length, 1 * MIB);
        stream[PROPERTIES_AT] = (5 * 5 + 0) * 9 + 0;
        add("pb 5", stream, length, 1 * MIB);
        stream[PROPERTIES_AT] = 0xFF;
        add("properties byte 0xFF", stream, length, 1 * MIB);
    }
    {
        // Made against a preset dictionary, then told the dictionary starts
        // empty: the first match reaches before the start.
        bytes start = noise(2 * KIB, 31);
        lzma_options_lzma options;
        lzma_lzma_preset(&options, 6);
        options.dict_size = 1 * MIB;
        options.preset_dict = start.data();
        options.preset_dict_size = static_cast<uint32_t>(start.size());
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        bytes stream(8 * KIB);
        size_t made = 0;
        EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, start.data(), start.size(),
                                         stream.data(), &made, stream.size()),
                  LZMA_OK);
        stream.resize(made);
        stream[0] = 0xE0;
        add("distance before the dictionary's start", stream, start.size(), 1 * MIB);
    }
    add("distance beyond the dictionary's size",
        encode_reference(repeated_noise(100 * KIB), {6, 1 * MIB, 3, 0, 2}), 200 * KIB, 64 * KIB);
    {
        bytes stream = sound;
        uint32_t size = coded_size(stream);
        stream.insert(stream.begin() + CODED_DATA_AT + size, 0x00);
        set_coded_size(stream, size + 1);
        add("coded chunk one byte longer than its coder", stream, length, 1 * MIB);
    }
    {
        bytes stream = sound;
        uint32_t size = coded_size(stream);
        stream.erase(stream.begin() + CODED_DATA_AT + size - 1);
        set_coded_size(stream, size - 1);
        add("coded chunk one byte shorter than its coder", stream, length, 1 * MIB);
    }
    {
        bytes stream = sound;
        stream[0] = 0xE0;
        uint32_t decoded = ((stream[1] << 8) | stream[2]) + 1u;
        for (int change : {-1, 1}) {
            uint32_t told = decoded + change - 1;
            stream[1] = static_cast<uint8_t>(told >> 8);
            stream[2] = static_cast<uint8_t>(told);
            add(change < 0 ? "chunk decoded size one short" : "chunk decoded size one over", stream,
                length + change, 1 * MIB);
        }
    }
    add("data after the end byte", joined({sound, {0x00}}), length, 1 * MIB);
    add("stored data after the end byte", joined({stored_chunk(0x01, {'a'}), END, {'b'}}), 1, 4096);
    add("more output than declared", sound, length - 1, 1 * MIB);
    add("less output than declared", sound, length + 1, 1 * MIB);
    add("stored chunk beyond the declared length", joined({stored_chunk(0x01, {'a', 'b'}), END}), 1,
        4096);
    add("no end byte", stored_chunk(0x01, {'a'}), 1, 4096);
    add("nothing at all", {}, 0, 4096);
    {
        bytes stream = sound;
        stream[CODED_DATA_AT] = 0x01;
        add("range coder's first byte not zero", stream, length, 1 * MIB);
    }
    return cases;
}

TEST(Lzma2Decoder, EveryKindOfMalformedStreamIsDamage) {
    for (const malformed &bad : malformed_streams()) {
        // liblzma rejects each as well: the case is what its name says.
        EXPECT_FALSE(decode_reference(bad.stream, bad.dictionary_size, bad.decoded_length).whole)
            << bad.name;
        for (const pieces &piece : PIECES)
            EXPECT_FALSE(decode_ours(bad.stream, bad.dictionary_size, bad.decoded_length,
                                     piece.input, piece.output)
                             .whole)
                << bad.name << ", pieces " << piece.input << "/" << piece.output;
    }
}

// A small stream with stored and coded chunks, cut at every length.
TEST(Lzma2Decoder, EveryTruncationIsDamage) {
    bytes data = joined({text(3 * KIB, 40), noise(2 * KIB, 41), text(3 * KIB, 42)});
    bytes stream = encode_reference(data, {6, 64 * KIB, 3, 0, 2});
    for (size_t cut = 0; cut < stream.size(); ++cut) {
        bytes part(stream.begin(), stream.begin() + cut);
        EXPECT_FALSE(decode_ours(part, 64 * KIB, data.size(), 16000, 16000).whole) << cut;
        EXPECT_FALSE(decode_ours(part, 64 * KIB, data.size(), 3, 5).whole) << cut;
    }
}

// Every byte of a small stream changed in turn: ours must judge as liblzma
// does and, where both accept it, give the same bytes.
TEST(Lzma2Decoder, ChangedBytesAreJudgedAsLiblzmaJudgesThem) {
    bytes data = joined({text(2 * KIB, 50), noise(300, 51), text(2 * KIB, 52)});
    bytes sound = encode_reference(data, {6, 64 * KIB, 3, 0, 2});
    size_t accepted = 0;
    for (size_t at = 0; at < sound.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            bytes stream = sound;
            stream[at] ^= flip;
            lzma2_outcome reference = decode_reference(stream, 64 * KIB, data.size());
            lzma2_outcome ours = decode_ours(stream, 64 * KIB, data.size(), 7, 100);
            EXPECT_EQ(ours.whole, reference.whole) << "byte " << at << " ^ " << int(flip);
            if (ours.whole && reference.whole) {
                ++accepted;
                EXPECT_TRUE(ours.bytes == reference.bytes) << "byte " << at << " ^ " << int(flip);
            }
        }
    }
    // Most changes break the stream; a changed stored byte is still sound.
    EXPECT_LT(accepted, sound.size());
}

TEST(Lzma2Decoder, UnusableDictionaryIsRefused) {
    bytes stream = joined({stored_chunk(0x01, {'a'}), END});
    EXPECT_TRUE(decode_ours(stream, 4096, 1, 100, 100).whole);
    std::unique_ptr<lzma2_decoder> decoder(new lzma2_decoder);
    uint8_t dictionary[16];
    lzma2_step step;
    lzma2_decoder_start(decoder.get(), dictionary, 0, stream.size(), 1);
    EXPECT_EQ(lzma2_decode(decoder.get(), stream.data(), stream.size(), 100, &step), LZMA2_DAMAGED);
    lzma2_decoder_start(decoder.get(), dictionary, LZMA2_DICTIONARY_MAX + 1, stream.size(), 1);
    EXPECT_EQ(lzma2_decode(decoder.get(), stream.data(), stream.size(), 100, &step), LZMA2_DAMAGED);
    EXPECT_EQ(step.output_length, 0u);
}

} // namespace
