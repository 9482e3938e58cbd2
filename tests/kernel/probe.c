/* Helper run inside the test virtual machine, built static. One tool per sub-command:
 *   race-status BASE SECONDS      control writes that clear BUSY (input 8 rises)
 *   race-data BASE VALUE SECONDS  data latch VALUE and output direction in a loop, so
 *                                 that a data read done meanwhile returns the latch
 *   control BASE                  prints the control register ("0x..")
 *   claim DEVICE                  exclusive claim and release; prints "ok" or the error
 *   bench DEVICE SECONDS          the requests of one capture pass through ppdev in a bare
 *                                 loop; prints "passes/s N"
 *   as UID GID[,GID...] CMD...    runs CMD as that user with those groups
 *   norawio CMD...                runs CMD as root without CAP_SYS_RAWIO
 * The emulated port resets its status to BUSY|ACK|SELECT|ERROR at every control
 * write with INIT low (the capture writes only such values), and reads the data
 * lines as all ones while they are inputs: the inputs change only through these
 * racing writes. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/ppdev.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static unsigned num(const char *s)
{
    return (unsigned)strtoul(s, NULL, 0);
}

static void grant(unsigned base)
{
    if (ioperm(base, 3, 1) != 0) {
        perror("ioperm");
        exit(1);
    }
}

static int race(unsigned base, int data, unsigned value, double seconds)
{
    grant(base);
    const double end = now() + seconds;
    unsigned long n = 0;
    while (now() < end) {
        for (int i = 0; i < 1000; ++i) {
            if (data) {
                outb((unsigned char)value, base);
                outb(0x0B, base + 2); /* output direction, INIT low */
            } else {
                outb(0x2D, base + 2); /* INIT high, SELECT-IN and STROBE: BUSY clears */
            }
        }
        n += 1000;
    }
    printf("writes %lu\n", n);
    return 0;
}

static int openClaim(const char *dev)
{
    const int fd = open(dev, O_RDWR);
    if (fd < 0)
        return -errno;
    if (ioctl(fd, PPEXCL) != 0 || ioctl(fd, PPCLAIM) != 0) {
        const int e = errno;
        close(fd);
        return -e;
    }
    return fd;
}

static int bench(const char *dev, double seconds)
{
    const int fd = openClaim(dev);
    if (fd < 0) {
        printf("error %s\n", strerror(-fd));
        return 1;
    }
    unsigned char b = 0;
    int in = 1, out = 0;
    unsigned long passes = 0;
    const double start = now();
    double t = start;
    while (t - start < seconds) {
        for (int i = 0; i < 50; ++i) {
            /* status, input direction, control twice, data, output direction, control */
            ioctl(fd, PPRSTATUS, &b);
            ioctl(fd, PPDATADIR, &in);
            b = 0x0B;
            ioctl(fd, PPWCONTROL, &b);
            ioctl(fd, PPWCONTROL, &b);
            ioctl(fd, PPRDATA, &b);
            ioctl(fd, PPDATADIR, &out);
            b = 0x0B;
            ioctl(fd, PPWCONTROL, &b);
        }
        passes += 50;
        t = now();
    }
    printf("passes/s %.0f\n", (double)passes / (t - start));
    ioctl(fd, PPRELEASE);
    close(fd);
    return 0;
}

static int dropRawio(char **argv)
{
    if (prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0) != 0) {
        perror("prctl");
        return 1;
    }
    execv(argv[0], argv);
    perror("execv");
    return 127;
}

static int runAs(const char *uid, const char *gids, char **argv)
{
    gid_t groups[16];
    int n = 0;
    char *copy = strdup(gids);
    for (char *tok = strtok(copy, ","); tok && n < 16; tok = strtok(NULL, ","))
        groups[n++] = (gid_t)num(tok);
    if (setgroups((size_t)n, groups) != 0 || setgid(groups[0]) != 0 || setuid(num(uid)) != 0) {
        perror("setuid");
        return 1;
    }
    execv(argv[0], argv);
    perror("execv");
    return 127;
}

int main(int argc, char **argv)
{
    if (argc >= 4 && !strcmp(argv[1], "race-status"))
        return race(num(argv[2]), 0, 0, atof(argv[3]));
    if (argc >= 5 && !strcmp(argv[1], "race-data"))
        return race(num(argv[2]), 1, num(argv[3]), atof(argv[4]));
    if (argc >= 3 && !strcmp(argv[1], "control")) {
        grant(num(argv[2]));
        printf("0x%02X\n", inb(num(argv[2]) + 2));
        return 0;
    }
    if (argc >= 3 && !strcmp(argv[1], "claim")) {
        const int fd = openClaim(argv[2]);
        if (fd < 0) {
            printf("%s\n", strerror(-fd));
            return 1;
        }
        ioctl(fd, PPRELEASE);
        close(fd);
        printf("ok\n");
        return 0;
    }
    if (argc >= 4 && !strcmp(argv[1], "bench"))
        return bench(argv[2], atof(argv[3]));
    if (argc >= 5 && !strcmp(argv[1], "as"))
        return runAs(argv[2], argv[3], argv + 4);
    if (argc >= 3 && !strcmp(argv[1], "norawio"))
        return dropRawio(argv + 2);
    fprintf(stderr, "usage: probe race-status|race-data|control|claim|bench|as|norawio ...\n");
    return 2;
}
