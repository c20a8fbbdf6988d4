/* SPDX-License-Identifier: Zlib */
/* The least a stub may do to extract one large member: per chunk of 16000
 * bytes one read, one write of a progress figure's bytes (shown at once) and
 * one write of the data; no check value, no stream layer. The large file's
 * reference in bench/run.
 *   floor_loop ARCHIVE OFFSET LENGTH OUTPUT   (the figures go to standard output) */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#define CHUNK 16000

int main(int argc, char **argv) {
    static char buffer[CHUNK];
    /* A figure as the stub shows it: five columns, " %", seven backspaces. */
    static const char figure[] = " 42.0 %\b\b\b\b\b\b\b";
    if (argc != 5) {
        fputs("usage: floor_loop ARCHIVE OFFSET LENGTH OUTPUT\n", stderr);
        return 2;
    }
    int in = open(argv[1], O_RDONLY);
    int out = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || lseek(in, atoll(argv[2]), SEEK_SET) < 0) {
        perror("floor_loop");
        return 1;
    }
    long long remaining = atoll(argv[3]);
    while (remaining > 0) {
        size_t length = remaining < CHUNK ? (size_t)remaining : CHUNK;
        if (read(in, buffer, length) != (ssize_t)length ||
            write(STDOUT_FILENO, figure, sizeof figure - 1) != (ssize_t)(sizeof figure - 1) ||
            write(out, buffer, length) != (ssize_t)length) {
            perror("floor_loop");
            return 1;
        }
        remaining -= (long long)length;
    }
    return close(out) == 0 ? 0 : 1;
}
