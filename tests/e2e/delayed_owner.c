/* A Windows clipboard owner that offers a picture and never renders it, for the end-to-end
 * tests of the Windows program under Wine.
 *
 *   delayed_owner MODE
 *
 * Takes the clipboard, offers CF_DIB by delayed rendering (no data until a reader asks, with
 * WM_RENDERFORMAT) and prints "ready". What happens when a reader asks depends on MODE:
 *   block   the answer never comes: the window's thread stops in the message for good;
 *   refuse  answers at once without rendering, and goes on handling messages.
 * Each request is reported on standard output as "asked". The program ends when it loses the
 * clipboard while it still handles messages, or when it is stopped.
 *
 *   delayed_owner probe
 *
 * Waits until no other program holds the clipboard open (at most 20 s), prints "free" and ends
 * with 0; ends with 1 when it stays held.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int blocking;

static void say(const char *what) {
    printf("%s\n", what);
    fflush(stdout);
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_RENDERFORMAT:
        say("asked");
        if (blocking)
            Sleep(INFINITE);
        return 0;
    case WM_RENDERALLFORMATS:
        return 0;
    case WM_DESTROYCLIPBOARD:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, w, l);
    }
}

/* Opens the clipboard with `window`, trying again while another program holds it open. */
static int open_clipboard(HWND window, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (OpenClipboard(window))
            return 1;
        Sleep(50);
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "probe") == 0) {
        if (!open_clipboard(NULL, 400))
            return 1;
        CloseClipboard();
        say("free");
        return 0;
    }
    if (argc != 2 || (strcmp(argv[1], "block") != 0 && strcmp(argv[1], "refuse") != 0)) {
        fprintf(stderr, "usage: delayed_owner block|refuse|probe\n");
        return 2;
    }
    blocking = strcmp(argv[1], "block") == 0;

    WNDCLASSW description;
    memset(&description, 0, sizeof description);
    description.lpfnWndProc = window_proc;
    description.hInstance = GetModuleHandleW(NULL);
    description.lpszClassName = L"delayed_owner";
    HWND window = RegisterClassW(&description)
                      ? CreateWindowExW(0, L"delayed_owner", L"delayed_owner", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, NULL, description.hInstance, NULL)
                      : NULL;
    if (!window) {
        fprintf(stderr, "cannot create a window: %lu\n", GetLastError());
        return 1;
    }
    if (!open_clipboard(window, 100) || !EmptyClipboard()) {
        fprintf(stderr, "cannot take the clipboard: %lu\n", GetLastError());
        return 1;
    }
    SetClipboardData(CF_DIB, NULL);
    int offered = IsClipboardFormatAvailable(CF_DIB);
    CloseClipboard();
    if (!offered) {
        fprintf(stderr, "CF_DIB not offered: %lu\n", GetLastError());
        return 1;
    }
    say("ready");

    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
