/* A drag source that speaks XDND to one window, for the end-to-end tests.
 *
 *   xdnd_source WINDOW X Y URI
 *
 * Offers the list of one URI (as text/uri-list) to WINDOW, which must carry XdndAware, as if
 * it were dragged to the root position X, Y with the copy action. It owns XdndSelection,
 * sends XdndEnter and one XdndPosition, and reports the target's XdndStatus on standard output
 * as "accepted" or "refused". Then it waits for a command on standard input:
 *   drop   sends XdndDrop and, once the target sends XdndFinished, prints
 *          "finished accepted=N" (1 when the target took the drop, else 0) and ends;
 *   leave  sends XdndLeave, prints "left" and ends (so does the end of standard input).
 * Whenever the target asks for the data it gets "URI\r\n"; each request is reported as
 * "asked". The drag does not follow the real pointer: the target learns the position from
 * XdndPosition alone, which is all the protocol needs.
 */
#include <xcb/xcb.h>

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kXdndVersion = 5 };

static xcb_connection_t *conn;
static xcb_window_t source;
static xcb_window_t target;
static xcb_timestamp_t owned_at;
static const char *uri_list; /* "URI\r\n" */

static xcb_atom_t xdnd_selection, xdnd_aware, xdnd_enter, xdnd_position, xdnd_status,
    xdnd_leave, xdnd_drop, xdnd_finished, xdnd_action_copy, uri_list_type, targets;

static xcb_atom_t atom(const char *name) {
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, (uint16_t)strlen(name), name), NULL);
    if (!reply) {
        fprintf(stderr, "cannot intern %s\n", name);
        exit(2);
    }
    xcb_atom_t a = reply->atom;
    free(reply);
    return a;
}

static void say(const char *line) {
    printf("%s\n", line);
    fflush(stdout);
}

/* One XDND message to the target; data[0] is always the source window. */
static void send_to_target(xcb_atom_t type, uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4) {
    xcb_client_message_event_t ev;
    memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = target;
    ev.type = type;
    ev.data.data32[0] = source;
    ev.data.data32[1] = d1;
    ev.data.data32[2] = d2;
    ev.data.data32[3] = d3;
    ev.data.data32[4] = d4;
    xcb_send_event(conn, 0, target, XCB_EVENT_MASK_NO_EVENT, (const char *)&ev);
    xcb_flush(conn);
}

/* The XDND version the target announces in XdndAware; 0 when it has none. */
static uint32_t target_version(void) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, target, xdnd_aware, XCB_ATOM_ATOM, 0, 1), NULL);
    uint32_t version = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        version = *(uint32_t *)xcb_get_property_value(reply);
    free(reply);
    return version;
}

static void answer(const xcb_selection_request_event_t *req) {
    xcb_atom_t property = req->property ? req->property : req->target;
    if (req->selection != xdnd_selection) {
        property = XCB_NONE;
    } else if (req->target == uri_list_type) {
        say("asked");
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, uri_list_type,
                            8, (uint32_t)strlen(uri_list), uri_list);
    } else if (req->target == targets) {
        const xcb_atom_t offered[] = {targets, uri_list_type};
        xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req->requestor, property, XCB_ATOM_ATOM,
                            32, 2, offered);
    } else {
        property = XCB_NONE;
    }
    xcb_selection_notify_event_t ev;
    memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_SELECTION_NOTIFY;
    ev.time = req->time;
    ev.requestor = req->requestor;
    ev.selection = req->selection;
    ev.target = req->target;
    ev.property = property;
    xcb_send_event(conn, 0, req->requestor, XCB_EVENT_MASK_NO_EVENT, (const char *)&ev);
    xcb_flush(conn);
}

/* Handles the X events that are waiting. Returns the XDND message from the target among them
 * (XdndStatus or XdndFinished) through *message, and 0 when the connection is gone. */
static int pump(xcb_client_message_event_t *message, int *got) {
    xcb_generic_event_t *ev;
    while ((ev = xcb_poll_for_event(conn)) != NULL) {
        const int type = ev->response_type & 0x7f;
        if (type == XCB_SELECTION_REQUEST) {
            answer((xcb_selection_request_event_t *)ev);
        } else if (type == XCB_CLIENT_MESSAGE) {
            xcb_client_message_event_t *cm = (xcb_client_message_event_t *)ev;
            if ((cm->type == xdnd_status || cm->type == xdnd_finished) &&
                cm->data.data32[0] == target && !*got) {
                *message = *cm;
                *got = 1;
            }
        }
        free(ev);
    }
    return !xcb_connection_has_error(conn);
}

/* Waits for X events and, with `want_stdin`, a line of standard input (copied to `line`).
 * Returns 1 for an XDND message, 2 for a line, 3 for the end of standard input, 0 when the
 * connection is gone. */
static int wait_for(xcb_client_message_event_t *message, int want_stdin, char *line,
                    size_t size) {
    for (;;) {
        int got = 0;
        if (!pump(message, &got))
            return 0;
        if (got)
            return 1;
        struct pollfd fds[2] = {{xcb_get_file_descriptor(conn), POLLIN, 0},
                                {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, want_stdin ? 2 : 1, -1) < 0 && errno != EINTR)
            return 0;
        if (want_stdin && (fds[1].revents & (POLLIN | POLLHUP))) {
            if (!fgets(line, (int)size, stdin))
                return 3;
            line[strcspn(line, "\r\n")] = '\0';
            return 2;
        }
    }
}

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: xdnd_source WINDOW X Y URI\n");
        return 2;
    }
    target = (xcb_window_t)strtoul(argv[1], NULL, 0);
    const int x = atoi(argv[2]);
    const int y = atoi(argv[3]);
    char *list = malloc(strlen(argv[4]) + 3);
    if (!list)
        return 2;
    sprintf(list, "%s\r\n", argv[4]);
    uri_list = list;

    int screen_number = 0;
    conn = xcb_connect(NULL, &screen_number);
    if (xcb_connection_has_error(conn)) {
        fprintf(stderr, "cannot open the display\n");
        return 2;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screen_number; ++i)
        xcb_screen_next(&it);
    xcb_screen_t *screen = it.data;

    xdnd_selection = atom("XdndSelection");
    xdnd_aware = atom("XdndAware");
    xdnd_enter = atom("XdndEnter");
    xdnd_position = atom("XdndPosition");
    xdnd_status = atom("XdndStatus");
    xdnd_leave = atom("XdndLeave");
    xdnd_drop = atom("XdndDrop");
    xdnd_finished = atom("XdndFinished");
    xdnd_action_copy = atom("XdndActionCopy");
    uri_list_type = atom("text/uri-list");
    targets = atom("TARGETS");

    source = xcb_generate_id(conn);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, source, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                      &mask);
    /* A server timestamp for the selection and the messages: that of a property change. */
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, source, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        11, "xdnd_source");
    xcb_flush(conn);
    for (;;) {
        xcb_generic_event_t *ev = xcb_wait_for_event(conn);
        if (!ev)
            return 2;
        const int done = (ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
        if (done)
            owned_at = ((xcb_property_notify_event_t *)ev)->time;
        free(ev);
        if (done)
            break;
    }
    xcb_set_selection_owner(conn, source, xdnd_selection, owned_at);
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, xdnd_selection), NULL);
    if (!owner || owner->owner != source) {
        fprintf(stderr, "cannot own XdndSelection\n");
        return 2;
    }
    free(owner);

    const uint32_t version = target_version();
    if (version == 0) {
        fprintf(stderr, "window 0x%x does not take drops (no XdndAware)\n", (unsigned)target);
        return 2;
    }
    const uint32_t use = version < kXdndVersion ? version : kXdndVersion;
    /* Three types at most go in the message itself; this one has one. */
    send_to_target(xdnd_enter, use << 24, uri_list_type, XCB_NONE, XCB_NONE);
    send_to_target(xdnd_position, 0, ((uint32_t)x << 16) | ((uint32_t)y & 0xffff), owned_at,
                   xdnd_action_copy);

    xcb_client_message_event_t message;
    char line[64];
    int got;
    do {
        got = wait_for(&message, 0, line, sizeof line);
        if (got == 0)
            return 2;
    } while (message.type != xdnd_status);
    say(message.data.data32[1] & 1 ? "accepted" : "refused");

    for (;;) {
        got = wait_for(&message, 1, line, sizeof line);
        if (got == 0)
            return 2;
        if (got == 1)
            continue; /* another XdndStatus: only one position was sent, nothing changes */
        if (got == 2 && strcmp(line, "drop") == 0)
            break;
        if (got == 3 || strcmp(line, "leave") == 0) {
            send_to_target(xdnd_leave, 0, 0, 0, 0);
            say("left");
            return 0;
        }
        fprintf(stderr, "unknown command %s\n", line);
    }

    send_to_target(xdnd_drop, 0, owned_at, 0, 0);
    do {
        got = wait_for(&message, 0, line, sizeof line);
        if (got == 0)
            return 2;
    } while (message.type != xdnd_finished);
    /* Before version 5 XdndFinished says nothing of the outcome; count it as taken. */
    const int accepted = use >= 5 ? (int)(message.data.data32[1] & 1) : 1;
    printf("finished accepted=%d\n", accepted);
    fflush(stdout);
    free(list);
    xcb_disconnect(conn);
    return 0;
}
