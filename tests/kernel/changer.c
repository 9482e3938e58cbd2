/* Helper run inside the power-cut virtual machine, built static:
 *   changer PORTFILE SEED
 * Flips one random input among the eight data lines of the port file (byte 0x378) every
 * 5 to 20 ms, until killed; an input keeps each level at least 100 ms, so that a capture
 * held up by the emulation (stalls of tens of ms) cannot miss a pulse: a lost event must
 * be one the files lost, not one the sampling never saw. Before each flip it writes "CHG n input state seconds" to
 * standard output, the serial console, and waits until the line has left the machine:
 * a line the host received is a change that was made (or was about to be, in the
 * instant the machine died), and a change made is one whose line the host has. The
 * seconds are the clock's since 1970, as the capture dates its events. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: changer PORTFILE SEED\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    srandom((unsigned)strtoul(argv[2], NULL, 0));
    const int tty = isatty(STDOUT_FILENO);
    unsigned char data = 0;
    struct timespec last[8] = {{0, 0}};
    if (pwrite(fd, &data, 1, 0x378) != 1) {
        perror("pwrite");
        return 1;
    }
    for (unsigned long n = 1;; ++n) {
        const struct timespec pause = {0, (5 + random() % 16) * 1000000L};
        nanosleep(&pause, NULL);
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        int input = (int)(random() % 8);
        int k = 0;
        for (; k < 8; ++k, input = (input + 1) % 8) {
            const long long held = (now.tv_sec - last[input].tv_sec) * 1000LL +
                                   (now.tv_nsec - last[input].tv_nsec) / 1000000L;
            if ((last[input].tv_sec == 0 && last[input].tv_nsec == 0) || held >= 100)
                break;
        }
        if (k == 8) { /* every input changed less than 100 ms ago */
            --n;
            continue;
        }
        last[input] = now;
        data ^= (unsigned char)(1u << input);
        char line[96];
        const int len = snprintf(line, sizeof line, "CHG %lu %d %d %lld\n", n, input,
                                 (data >> input) & 1, (long long)time(NULL));
        if (write(STDOUT_FILENO, line, (size_t)len) != len)
            return 1;
        if (tty)
            tcdrain(STDOUT_FILENO);
        if (pwrite(fd, &data, 1, 0x378) != 1) {
            perror("pwrite");
            return 1;
        }
    }
}
