// SPDX-License-Identifier: Zlib
#include "compressed_pack.h"

#include "archive_reader.h"
#include "archive_writer.h"
#include "container_block.h"
#include "crc32c.h"
#include "member_encoding.h"
#include "pack_messages.h"
#include "platform_pack.h"
#include "stream_encoder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Input is handed to the encoder in pieces of this size; a file up to this
// size is read once, a larger one twice (its check value goes in the record,
// before its data).
constexpr size_t READ_PIECE = size_t(1) << 20;

// All encoders together stay within this much memory; at level 9 one takes
// about 674 MiB, so two run side by side.
constexpr uint64_t ENCODER_MEMORY_BUDGET = UINT64_C(1536) * 1024 * 1024;

// A stream is compressed in parts side by side (as many as it holds
// dictionaries, at least two), each part's encoder given the half
// dictionary of the run before it: the stream loses little against one
// encoder over it all (a quarter made a tree of C headers 0.25 % larger), and the
// cores share the work even for one stream.
constexpr uint32_t PART_HISTORY_SHARE = 2;

// Taking in a byte of history costs the encoder about half what compressing
// one does; the parts are cut so that each takes about the same time.
constexpr uint64_t HISTORY_COST_SHARE = 2;

// Streams are cut at about this many dictionaries each.
constexpr int STREAM_DICTIONARIES = 4;

// The smallest dictionary the encoder takes.
constexpr uint32_t SMALLEST_DICTIONARY = 4096;

int64_t sequence_length(const pack_member &member) {
    return RECORD_SIZE + member.size;
}

// What a failed stream leaves for the main thread to say.
struct stream_failure {
    std::string text;
    int error_number; // 0: no system error goes with it
};

// One part of a stream, compressed by itself: the members first..end, after
// the history of the members history_first..first (its last bytes).
struct stream_part {
    size_t stream;
    size_t first;
    size_t end;
    size_t history_first;
    bool last; // the stream's end byte stays only behind its last part
};

struct part_result {
    std::vector<unsigned char> data;
    std::vector<uint32_t> history_checks; // of the members history_first..first
    uint64_t decompressed_length;
    bool done;
    stream_failure failure;
};

struct compression_job {
    const std::vector<pack_member> *ordered;
    std::vector<stream_part> parts;
    size_t history_size;
    encoder_settings settings;
    std::vector<part_result> results;
    std::vector<uint32_t> taken_checks; // of each member, as its part took it in
    std::atomic<size_t> next_part;
    std::atomic<bool> failed;
    std::atomic<int64_t> data_done; // file data bytes taken in, for the progress line
    std::mutex lock;
    std::condition_variable finished;
    int workers_left; // guarded by `lock`
};

// A worker's encoder and the bytes it gathers before handing them over; with
// no encoder the bytes go to `history`, of which the last `history_size`
// are kept.
struct stream_writer {
    stream_encoder *encoder;
    std::vector<unsigned char> staged;
    uint64_t length;
    compression_job *job;
    std::vector<unsigned char> *history;
};

void keep_history(stream_writer *writer, const unsigned char *bytes, size_t size) {
    std::vector<unsigned char> &history = *writer->history;
    size_t keep = writer->job->history_size;
    history.insert(history.end(), bytes, bytes + size);
    if (history.size() > 2 * keep + READ_PIECE)
        history.erase(history.begin(), history.end() - static_cast<std::ptrdiff_t>(keep));
}

bool take_bytes(stream_writer *writer, const unsigned char *bytes, size_t size) {
    if (writer->encoder == nullptr) {
        keep_history(writer, bytes, size);
        return true;
    }
    return encode_stream_bytes(writer->encoder, bytes, size);
}

bool hand_over(stream_writer *writer) {
    bool ok = take_bytes(writer, writer->staged.data(), writer->staged.size());
    writer->staged.clear();
    return ok;
}

bool stage(stream_writer *writer, const void *data, size_t size) {
    if (writer->staged.size() + size > READ_PIECE && !hand_over(writer))
        return false;
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    if (size >= READ_PIECE)
        return take_bytes(writer, bytes, size);
    writer->staged.insert(writer->staged.end(), bytes, bytes + size);
    return true;
}

void fail(part_result *result, int error_number, const std::string &text) {
    result->failure = stream_failure{text, error_number};
}

bool stage_or_fail(stream_writer *writer, const void *data, size_t size, part_result *result) {
    if (stage(writer, data, size))
        return true;
    fail(result, 0, "not enough memory to compress");
    return false;
}

// Reads the member's file in pieces of READ_PIECE, taking each into `check`
// and handing it to `writer` (null: the check value alone is wanted).
bool read_member_data(const pack_member &member, std::vector<char> *buffer, uint32_t *check,
                      stream_writer *writer, part_result *result) {
    int input = platform_open_input_in(member.folder, member.source);
    if (input < 0) {
        fail(result, errno, "can't read '" + member_source_path(member) + "'");
        return false;
    }
    int64_t remaining = member.size;
    bool ok = true;
    while (ok && remaining > 0) {
        size_t piece = static_cast<size_t>(std::min<int64_t>(remaining, READ_PIECE));
        if (!read_exactly(input, buffer->data(), piece)) {
            fail(result, 0,
                 "can't read '" + member_source_path(member) +
                     "' whole: it failed or has shrunk below " + std::to_string(member.size) +
                     " bytes");
            ok = false;
            break;
        }
        *check = crc32c_update(*check, buffer->data(), piece);
        remaining -= static_cast<int64_t>(piece);
        if (writer != nullptr) {
            if (writer->encoder != nullptr)
                writer->job->data_done += static_cast<int64_t>(piece);
            ok = stage_or_fail(writer, buffer->data(), piece, result);
        }
    }
    platform_close_input(input);
    return ok;
}

// The member's record and data into the stream. A file larger than one
// piece is read twice when its record carries a check value, first for that
// value; the second reading must give the same one.
// `taken` gets the check value of what went in, so the bytes a history was
// given can be compared with those its part compressed.
bool put_member(const pack_member &member, std::vector<char> *buffer, stream_writer *writer,
                part_result *result, uint32_t *taken) {
    unsigned char record[RECORD_SIZE];
    uint32_t check;
    bool checked;
    if (!encode_pack_record(member, record, &check, &checked)) {
        fail(result, 0, std::string("can't store the name '") + member.name + "'");
        return false;
    }
    writer->length += static_cast<uint64_t>(sequence_length(member));
    *taken = check;
    if (member.kind != KIND_FILE) {
        if (checked)
            encode_le32(check, record + pack_record_check_offset(member));
        return stage_or_fail(writer, record, sizeof record, result);
    }
    bool read_once = member.size <= static_cast<int64_t>(READ_PIECE);
    uint32_t data_check = check;
    if ((read_once || checked) && !read_member_data(member, buffer, &data_check, nullptr, result))
        return false;
    if (checked)
        encode_le32(data_check, record + pack_record_check_offset(member));
    if (!stage_or_fail(writer, record, sizeof record, result))
        return false;
    if (read_once) {
        if (writer->encoder != nullptr)
            writer->job->data_done += member.size;
        *taken = data_check;
        return stage_or_fail(writer, buffer->data(), static_cast<size_t>(member.size), result);
    }
    uint32_t second_check = check;
    if (!read_member_data(member, buffer, &second_check, writer, result))
        return false;
    *taken = second_check;
    if (checked && second_check != data_check) {
        fail(result, 0, "'" + member_source_path(member) + "' changed while it was packed");
        return false;
    }
    return true;
}

// The last history_size bytes of the run before the part, as the members
// before it give them.
bool make_history(compression_job *job, const stream_part &part, std::vector<char> *buffer,
                  std::vector<unsigned char> *history, part_result *result) {
    stream_writer writer{nullptr, {}, 0, job, history};
    for (size_t index = part.history_first; index < part.first && !job->failed; ++index) {
        uint32_t taken;
        if (!put_member((*job->ordered)[index], buffer, &writer, result, &taken))
            return false;
        result->history_checks.push_back(taken);
    }
    hand_over(&writer);
    if (history->size() > job->history_size)
        history->erase(history->begin(),
                       history->end() - static_cast<std::ptrdiff_t>(job->history_size));
    return true;
}

void compress_part(compression_job *job, size_t index, std::vector<char> *buffer) {
    part_result *result = &job->results[index];
    const stream_part &part = job->parts[index];
    std::vector<unsigned char> history;
    if (!make_history(job, part, buffer, &history, result))
        return;
    stream_writer writer{
        start_stream_encoder(job->settings, history.data(), history.size(), &result->data),
        {},
        0,
        job,
        nullptr};
    if (writer.encoder == nullptr) {
        fail(result, 0, "not enough memory to compress");
        return;
    }
    std::vector<unsigned char>().swap(history);
    writer.staged.reserve(READ_PIECE);
    bool ok = true;
    for (size_t member = part.first; ok && member < part.end && !job->failed; ++member)
        ok = put_member((*job->ordered)[member], buffer, &writer, result,
                        &job->taken_checks[member]);
    if (!ok || job->failed) {
        abandon_stream_encoder(writer.encoder);
        return;
    }
    if (!hand_over(&writer) || !finish_stream_encoder(writer.encoder)) {
        fail(result, 0, "not enough memory to compress");
        return;
    }
    // A part the stream goes on after loses its end byte.
    if (!part.last) {
        if (result->data.empty() || result->data.back() != 0) {
            fail(result, 0, "the encoder ended a stream unexpectedly");
            return;
        }
        result->data.pop_back();
    }
    result->decompressed_length = writer.length;
    result->done = true;
}

void run_worker(compression_job *job) {
    std::vector<char> buffer(READ_PIECE);
    for (;;) {
        size_t part = job->next_part++;
        if (part >= job->results.size() || job->failed)
            break;
        compress_part(job, part, &buffer);
        if (!job->results[part].done)
            job->failed = true;
    }
    std::lock_guard<std::mutex> hold(job->lock);
    --job->workers_left;
    job->finished.notify_all();
}

int worker_count(const encoder_settings &settings, size_t streams) {
    unsigned cores = std::thread::hardware_concurrency();
    uint64_t memory = encoder_memory(settings);
    uint64_t fitting = memory == 0 ? streams : ENCODER_MEMORY_BUDGET / memory;
    uint64_t count = std::min<uint64_t>({cores == 0 ? 1 : cores, streams, fitting});
    return static_cast<int>(std::max<uint64_t>(count, 1));
}

// Waits for the workers, redrawing the percentage of file data taken in.
void wait_for_workers(compression_job *job, int64_t data_total, bool show_progress) {
    std::unique_lock<std::mutex> hold(job->lock);
    int shown = -1;
    while (job->workers_left > 0) {
        job->finished.wait_for(hold, std::chrono::milliseconds(100));
        if (!show_progress || data_total == 0)
            continue;
        int percent = static_cast<int>(job->data_done * 100 / data_total);
        if (percent != shown)
            report_progress_line(percent);
        shown = percent;
    }
    if (shown >= 0)
        report_progress_line(static_cast<int>(job->data_done * 100 / data_total));
}

uint64_t run_length(const std::vector<pack_member> &ordered, size_t first, size_t end) {
    uint64_t length = 0;
    for (size_t index = first; index < end; ++index)
        length += static_cast<uint64_t>(sequence_length(ordered[index]));
    return length;
}

// Cuts the members first..end into `count` runs of about equal length, each
// cut where a member starts, none before `not_before`: the index each run
// after the first begins at. Fewer cuts when the members don't allow them.
std::vector<size_t> cut_into_shares(const std::vector<pack_member> &ordered, size_t first,
                                    size_t end, uint64_t count, size_t not_before) {
    uint64_t total = run_length(ordered, first, end);
    std::vector<size_t> cuts;
    uint64_t position = 0;
    for (size_t index = first; index < end && cuts.size() + 1 < count; ++index) {
        // The next run begins at the first member starting at or after its
        // share of the whole.
        uint64_t share = total * (cuts.size() + 1) / count;
        if (index > first && index >= not_before && position >= share)
            cuts.push_back(index);
        position += static_cast<uint64_t>(sequence_length(ordered[index]));
    }
    return cuts;
}

// Cuts the members first..end into `count` parts that take about the same
// time, each part after the first also taking in `history_work` bytes' worth
// of history: the first part is that much longer. The index each part after
// the first begins at, each cut where a member starts; fewer cuts when the
// members don't allow them.
std::vector<size_t> cut_into_parts(const std::vector<pack_member> &ordered, size_t first,
                                   size_t end, uint64_t count, uint64_t history_work) {
    uint64_t work = run_length(ordered, first, end) + (count - 1) * history_work;
    std::vector<size_t> cuts;
    uint64_t position = 0;
    for (size_t index = first; index < end && cuts.size() + 1 < count; ++index) {
        uint64_t part = cuts.size() + 1;
        // Where part `part` begins: after `part` shares of the work, less the
        // history the parts before it (but the first) took in.
        uint64_t share = work * part / count - (part - 1) * history_work;
        if (index > first && position >= share)
            cuts.push_back(index);
        position += static_cast<uint64_t>(sequence_length(ordered[index]));
    }
    return cuts;
}

// The parts of the streams beginning at `starts`: as many as the stream
// holds dictionaries, at least two, each with the members whose bytes reach
// `history_size` back.
std::vector<stream_part> split_streams(const std::vector<pack_member> &ordered,
                                       const std::vector<size_t> &starts, uint32_t dictionary_size,
                                       uint64_t history_size) {
    std::vector<stream_part> parts;
    for (size_t stream = 0; stream < starts.size(); ++stream) {
        size_t end = stream + 1 < starts.size() ? starts[stream + 1] : ordered.size();
        uint64_t length = run_length(ordered, starts[stream], end);
        uint64_t count = std::max<uint64_t>((length + dictionary_size - 1) / dictionary_size, 2);
        size_t first = starts[stream];
        for (size_t cut :
             cut_into_parts(ordered, first, end, count, history_size / HISTORY_COST_SHARE)) {
            parts.push_back(stream_part{stream, first, cut, first, false});
            first = cut;
        }
        parts.push_back(stream_part{stream, first, end, first, true});
    }
    for (stream_part &part : parts) {
        uint64_t behind = 0;
        size_t stream_start = starts[part.stream];
        while (part.history_first > stream_start && behind < history_size)
            behind += static_cast<uint64_t>(sequence_length(ordered[--part.history_first]));
    }
    return parts;
}

// The container of the stream whose parts are `results`, in order.
bool put_container(output_buffer *out, int number, const part_result *results, size_t count,
                   uint32_t dictionary_size) {
    std::string name = CONTAINER_NAME_PREFIX + std::to_string(number) + CONTAINER_NAME_SUFFIX;
    container_fields fields = {0, 0, CONTAINER_METHOD_LZMA2, dictionary_size, 0};
    int64_t size = 0;
    for (size_t part = 0; part < count; ++part) {
        size += static_cast<int64_t>(results[part].data.size());
        fields.decompressed_length += results[part].decompressed_length;
    }
    unsigned char bytes[RECORD_SIZE];
    if (!encode_container_record(name.c_str(), static_cast<int32_t>(size), &fields, bytes))
        return false;
    member_record record;
    decode_member_record(bytes, &record);
    fields.check = start_container_check(&record);
    for (size_t part = 0; part < count; ++part)
        fields.check =
            crc32c_update(fields.check, results[part].data.data(), results[part].data.size());
    encode_container_block(&fields, bytes + record_block_offset(name.size()));
    if (!output_put(out, bytes, sizeof bytes))
        return false;
    for (size_t part = 0; part < count; ++part)
        if (!output_put(out, results[part].data.data(), results[part].data.size()))
            return false;
    return true;
}

bool fits_in_file(const output_buffer *out, const compression_job &job) {
    int64_t total = output_position(out) + TRAILER_SIZE;
    for (size_t part = 0; part < job.parts.size(); ++part)
        total += static_cast<int64_t>(job.results[part].data.size()) +
                 (job.parts[part].last ? RECORD_SIZE : 0);
    return check_file_length(total);
}

// A file that changed between the reading for a part's history and the one
// for its own part would give a stream that decompresses to neither.
bool same_history(const compression_job &job) {
    for (size_t part = 0; part < job.parts.size(); ++part) {
        const std::vector<uint32_t> &checks = job.results[part].history_checks;
        for (size_t at = 0; at < checks.size(); ++at) {
            const pack_member &member = (*job.ordered)[job.parts[part].history_first + at];
            if (checks[at] != job.taken_checks[job.parts[part].history_first + at]) {
                report_error("'%s' changed while it was packed",
                             member_source_path(member).c_str());
                return false;
            }
        }
    }
    return true;
}

// The first part that failed by itself says why; later ones may only have
// stopped for it.
void report_failure(const compression_job &job) {
    for (const part_result &result : job.results) {
        if (result.done || result.failure.text.empty())
            continue;
        if (result.failure.error_number != 0)
            report_system_error(result.failure.error_number, "%s", result.failure.text.c_str());
        else
            report_error("%s", result.failure.text.c_str());
        return;
    }
}

} // namespace

const char *compression_missing_reason() {
    return nullptr;
}

namespace {

// Where the streams begin: indexes into `ordered` (the first always 0), from
// the members' sizes and the dictionary size alone, never from the machine.
// A run shorter than STREAM_DICTIONARIES dictionaries stays one stream; a
// longer one is cut into as many streams as that length goes into it, each
// about an equal share, cut only where a member starts and never before the
// last directory.
std::vector<size_t> stream_starts(const std::vector<pack_member> &ordered,
                                  uint32_t dictionary_size) {
    size_t after_directories = 0;
    for (size_t index = 0; index < ordered.size(); ++index)
        if (ordered[index].kind == KIND_DIRECTORY)
            after_directories = index + 1;
    uint64_t longest = static_cast<uint64_t>(dictionary_size) * STREAM_DICTIONARIES;
    uint64_t total = run_length(ordered, 0, ordered.size());
    uint64_t count = std::max<uint64_t>((total + longest - 1) / longest, 1);
    std::vector<size_t> starts{0};
    for (size_t cut : cut_into_shares(ordered, 0, ordered.size(), count, after_directories))
        starts.push_back(cut);
    return starts;
}

// The dictionary the level gives, shrunk to what the longest stream needs.
uint32_t container_dictionary_size(const std::vector<pack_member> &ordered,
                                   const std::vector<size_t> &starts, int level) {
    uint64_t longest = 0;
    for (size_t stream = 0; stream < starts.size(); ++stream) {
        size_t end = stream + 1 < starts.size() ? starts[stream + 1] : ordered.size();
        longest = std::max(longest, run_length(ordered, starts[stream], end));
    }
    // A dictionary beyond the stream's length holds nothing more; rounded up
    // to whole 4 KiB.
    uint64_t needed = std::max<uint64_t>((longest + 4095) / 4096 * 4096, SMALLEST_DICTIONARY);
    return static_cast<uint32_t>(std::min<uint64_t>(needed, level_dictionary_size(level)));
}

} // namespace

bool put_containers(output_buffer *out, const std::string &output,
                    const std::vector<pack_member> &ordered, int level, bool show_progress) {
    std::vector<size_t> starts = stream_starts(ordered, level_dictionary_size(level));
    compression_job job;
    job.ordered = &ordered;
    job.settings = encoder_settings{level, container_dictionary_size(ordered, starts, level)};
    job.history_size = job.settings.dictionary_size / PART_HISTORY_SHARE;
    job.parts = split_streams(ordered, starts, job.settings.dictionary_size, job.history_size);
    job.results.resize(job.parts.size());
    job.taken_checks.resize(ordered.size());
    job.next_part = 0;
    job.failed = false;
    job.data_done = 0;
    int workers = worker_count(job.settings, job.parts.size());
    job.workers_left = workers;
    int64_t data_total = 0;
    for (const pack_member &member : ordered)
        data_total += member.size;
    std::vector<std::thread> threads;
    for (int worker = 0; worker < workers; ++worker)
        threads.emplace_back(run_worker, &job);
    wait_for_workers(&job, data_total, show_progress);
    for (std::thread &thread : threads)
        thread.join();
    if (job.failed) {
        report_failure(job);
        return false;
    }
    if (!same_history(job) || !fits_in_file(out, job))
        return false;
    size_t first = 0;
    for (size_t part = 0; part < job.parts.size(); ++part) {
        if (!job.parts[part].last)
            continue;
        int number = static_cast<int>(job.parts[part].stream + 1);
        if (!put_container(out, number, &job.results[first], part + 1 - first,
                           job.settings.dictionary_size)) {
            report_system_error(errno, "can't write '%s'", output.c_str());
            return false;
        }
        for (size_t done = first; done <= part; ++done)
            std::vector<unsigned char>().swap(job.results[done].data);
        first = part + 1;
    }
    return true;
}
