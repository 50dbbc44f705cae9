/* The plain copy of a split's work, for the benchmark: reads INPUT once in
 * blocks of 2 MB and writes, in blocks of 2 MB, SIZE bytes into each
 * OUTPUT, the files written in turn as the input is read (each file's share
 * of what has been written so far following its share of what has been
 * read), the last block of each file shorter. No byte is looked at: this is
 * what the kernel's copies in and out cost, against which a split that
 * writes as many bytes into as many files is timed.
 *
 * Usage: reference_copy INPUT OUTPUT SIZE [OUTPUT SIZE]...
 */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* 1000 sectors, as packrift reads and dd copies in the benchmark. Not 2 MiB:
 * on the benchmark's virtual machine writes of 2 MiB at offsets of 2 MiB
 * were two to three times as slow (0.42 to 0.80 s against 0.28 s for this
 * copy), their page cache taken in whole 2 MiB folios that the host had
 * taken back when they were freed. */
enum { BLOCK = 2048000, PAGE = 4096, MOST_FILES = 256 };

struct Output {
    const char* name;
    int fd;
    uint64_t size;
    uint64_t written;
};

static void fail(const char* what, const char* name) {
    fprintf(stderr, "reference_copy: %s %s: %s\n", what, name, strerror(errno));
    exit(1);
}

/* Writes length bytes of block to output, all of them. */
static void write_all(struct Output* output, const unsigned char* block, size_t length) {
    while (length > 0) {
        const ssize_t done = write(output->fd, block, length);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write", output->name);
        }
        block += done;
        length -= (size_t)done;
        output->written += (uint64_t)done;
    }
}

/* Writes whole blocks to output while it is a block or more behind due. */
static void catch_up(struct Output* output, const unsigned char* block, uint64_t due) {
    while (output->written + BLOCK <= due) {
        write_all(output, block, BLOCK);
    }
}

int main(int argc, char** argv) {
    if (argc < 4 || argc % 2 != 0 || (argc - 2) / 2 > MOST_FILES) {
        fprintf(stderr, "usage: reference_copy INPUT OUTPUT SIZE [OUTPUT SIZE]...\n");
        return 2;
    }
    struct Output outputs[MOST_FILES];
    const int count = (argc - 2) / 2;
    for (int i = 0; i < count; ++i) {
        outputs[i].name = argv[2 + 2 * i];
        outputs[i].size = strtoull(argv[3 + 2 * i], NULL, 10);
        outputs[i].written = 0;
        outputs[i].fd = open(outputs[i].name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outputs[i].fd < 0) {
            fail("cannot open", outputs[i].name);
        }
    }
    const int in = open(argv[1], O_RDONLY);
    struct stat status;
    if (in < 0 || fstat(in, &status) != 0) {
        fail("cannot read", argv[1]);
    }
    const uint64_t input_size = status.st_size > 0 ? (uint64_t)status.st_size : 1;
    /* Page-aligned, as packrift's block and stages are: the kernel copies page to page. */
    unsigned char* block = aligned_alloc(PAGE, BLOCK);
    if (block == NULL) {
        fail("no memory for", "the block");
    }
    uint64_t read_so_far = 0;
    for (;;) {
        const ssize_t got = read(in, block, BLOCK);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot read", argv[1]);
        }
        if (got == 0) {
            break;
        }
        read_so_far += (uint64_t)got;
        for (int i = 0; i < count; ++i) {
            const uint64_t due = (uint64_t)((long double)outputs[i].size * read_so_far / input_size);
            catch_up(&outputs[i], block, due < outputs[i].size ? due : outputs[i].size);
        }
    }
    for (int i = 0; i < count; ++i) {
        catch_up(&outputs[i], block, outputs[i].size);
        write_all(&outputs[i], block, (size_t)(outputs[i].size - outputs[i].written));
        if (close(outputs[i].fd) != 0) {
            fail("cannot close", outputs[i].name);
        }
    }
    free(block);
    close(in);
    return 0;
}
