/* The floor for the note's idle cost: a client that only reads the keyboard state the way the
 * hotkey watch does, one xcb_query_keymap round trip every 100 ms, and nothing else.
 * Usage: bare_poller [seconds]   (runs until killed without an argument) */
#include <xcb/xcb.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char **argv)
{
    const long seconds = argc > 1 ? atol(argv[1]) : -1;
    xcb_connection_t *c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "bare_poller: cannot connect to the X server\n");
        return 1;
    }
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    const time_t end = next.tv_sec + seconds;
    unsigned long down = 0;
    while (seconds < 0 || next.tv_sec < end) {
        xcb_query_keymap_reply_t *reply = xcb_query_keymap_reply(c, xcb_query_keymap(c), NULL);
        if (!reply)
            break;
        down += reply->keys[0] != 0;
        free(reply);
        /* A fixed cadence, as a timer gives: the next reading 100 ms after the last was due. */
        next.tv_nsec += 100 * 1000 * 1000;
        if (next.tv_nsec >= 1000 * 1000 * 1000) {
            next.tv_nsec -= 1000 * 1000 * 1000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
    }
    xcb_disconnect(c);
    return down == (unsigned long)-1; /* keeps the reading from being optimised away */
}
