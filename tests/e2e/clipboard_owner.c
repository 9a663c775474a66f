/* A misbehaving owner of the CLIPBOARD selection, for the end-to-end tests.
 *
 *   clipboard_owner MODE [TARGET]
 *
 * Takes the selection, prints "ready" and answers TARGETS with TARGET (default image/png).
 * What happens when the data itself is asked for depends on MODE:
 *   silent      never answers;
 *   die         ends at once without answering;
 *   incr-die    starts an incremental transfer of a large picture, sends its first chunk and
 *               ends;
 *   incr-stall  starts the incremental transfer, sends the first chunk and then nothing more;
 *   trickle     starts the incremental transfer and sends a small chunk every half second,
 *               never reaching the end;
 *   refuse      refuses it, though TARGETS offered it;
 *   no-targets  refuses TARGETS itself, and answers TARGET (give UTF8_STRING) with a text.
 * Each request for the data is reported on standard output as "asked", each chunk sent as
 * "chunk". The program ends when it loses the selection or is stopped.
 */
#include <xcb/xcb.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static xcb_connection_t *conn;

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

static void notify(const xcb_selection_request_event_t *req, xcb_atom_t property) {
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

/* Waits until the requestor deletes the property, as it does to ask for the next chunk. */
static int wait_deleted(xcb_window_t window, xcb_atom_t property) {
    for (;;) {
        xcb_generic_event_t *ev = xcb_wait_for_event(conn);
        if (!ev)
            return 0;
        int done = (ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                   ((xcb_property_notify_event_t *)ev)->window == window &&
                   ((xcb_property_notify_event_t *)ev)->atom == property &&
                   ((xcb_property_notify_event_t *)ev)->state == XCB_PROPERTY_DELETE;
        free(ev);
        if (done)
            return 1;
    }
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: clipboard_owner "
                        "silent|die|incr-die|incr-stall|refuse|no-targets [TARGET]\n");
        return 2;
    }
    const char *mode = argv[1];
    const char *target_name = argc > 2 ? argv[2] : "image/png";
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

    xcb_window_t window = xcb_generate_id(conn);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK,
                      &mask);
    const xcb_atom_t clipboard = atom("CLIPBOARD");
    const xcb_atom_t targets = atom("TARGETS");
    const xcb_atom_t timestamp = atom("TIMESTAMP");
    const xcb_atom_t incr = atom("INCR");
    const xcb_atom_t target = atom(target_name);

    /* A server timestamp for the ownership: the time of a property change of our own. */
    xcb_change_property(conn, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        15, "clipboard_owner");
    xcb_flush(conn);
    xcb_timestamp_t owned_at = XCB_CURRENT_TIME;
    for (;;) {
        xcb_generic_event_t *ev = xcb_wait_for_event(conn);
        if (!ev)
            return 2;
        if ((ev->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            owned_at = ((xcb_property_notify_event_t *)ev)->time;
            free(ev);
            break;
        }
        free(ev);
    }
    xcb_set_selection_owner(conn, window, clipboard, owned_at);
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(conn, xcb_get_selection_owner(conn, clipboard), NULL);
    if (!owner || owner->owner != window) {
        fprintf(stderr, "cannot own the clipboard\n");
        return 2;
    }
    free(owner);
    printf("ready\n");
    fflush(stdout);

    for (;;) {
        xcb_generic_event_t *ev = xcb_wait_for_event(conn);
        if (!ev)
            return 0;
        const int type = ev->response_type & 0x7f;
        if (type == XCB_SELECTION_CLEAR) {
            free(ev);
            return 0;
        }
        if (type != XCB_SELECTION_REQUEST) {
            free(ev);
            continue;
        }
        xcb_selection_request_event_t req = *(xcb_selection_request_event_t *)ev;
        free(ev);
        const xcb_atom_t property = req.property ? req.property : req.target;
        if (req.target == targets && strcmp(mode, "no-targets") == 0) {
            notify(&req, XCB_NONE);
        } else if (req.target == targets) {
            const xcb_atom_t offered[] = {targets, timestamp, target};
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req.requestor, property,
                                XCB_ATOM_ATOM, 32, 3, offered);
            notify(&req, property);
        } else if (req.target == timestamp) {
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req.requestor, property,
                                XCB_ATOM_INTEGER, 32, 1, &owned_at);
            notify(&req, property);
        } else if (req.target == target) {
            printf("asked\n");
            fflush(stdout);
            if (strcmp(mode, "silent") == 0)
                continue;
            if (strcmp(mode, "refuse") == 0) {
                notify(&req, XCB_NONE);
                continue;
            }
            if (strcmp(mode, "no-targets") == 0) {
                static const char text[] = "text offered without TARGETS";
                xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req.requestor, property, target,
                                    8, sizeof text - 1, text);
                notify(&req, property);
                continue;
            }
            if (strcmp(mode, "die") == 0)
                _exit(0);
            /* Incremental transfer: announce 64 MiB, send the first chunk once asked. */
            const uint32_t announced = 64u << 20;
            const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(conn, req.requestor, XCB_CW_EVENT_MASK, &events);
            xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req.requestor, property, incr, 32,
                                1, &announced);
            notify(&req, property);
            if (!wait_deleted(req.requestor, property))
                return 0;
            static const unsigned char png_start[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
            unsigned char chunk[65536];
            memset(chunk, 0x5a, sizeof chunk);
            memcpy(chunk, png_start, sizeof png_start);
            const int trickle = strcmp(mode, "trickle") == 0;
            do {
                if (trickle)
                    usleep(500 * 1000);
                xcb_change_property(conn, XCB_PROP_MODE_REPLACE, req.requestor, property, target,
                                    8, trickle ? 1024 : sizeof chunk, chunk);
                xcb_flush(conn);
                printf("chunk\n");
                fflush(stdout);
                memset(chunk, 0x5a, sizeof png_start); /* later chunks: no signature */
            } while (trickle && wait_deleted(req.requestor, property));
            if (strcmp(mode, "incr-die") == 0)
                _exit(0);
            /* incr-stall: the rest never comes. */
        } else {
            notify(&req, XCB_NONE);
        }
    }
}
