// SPDX-License-Identifier: GPL-3.0-or-later
// startwatch COMMAND [ARG...]: starts COMMAND and prints the milliseconds from its start until
// it maps its first top-level window on the X server of $DISPLAY, then ends it (SIGTERM).
// Exit status 0 when a window was mapped, 1 otherwise.
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int finish(pid_t child, int status)
{
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: startwatch COMMAND [ARG...]\n");
        return 2;
    }
    // The X server may still be busy with the previous command's windows: try a few times.
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    for (int attempt = 0; xcb_connection_has_error(x) && attempt < 20; ++attempt) {
        xcb_disconnect(x);
        usleep(50000);
        x = xcb_connect(nullptr, nullptr);
    }
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "startwatch: cannot open the display\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    // Every window mapped as a child of the root window is reported to us.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    // A round trip: the server applies the mask before the command starts.
    free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));

    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    if (child < 0)
        return 2;

    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(x)) {
            const std::unique_ptr<xcb_generic_event_t, decltype(&free)> owned(event, free);
            if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
                continue;
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            // Menus and tool tips are override-redirect windows, not the program's window.
            if (map->override_redirect)
                continue;
            std::printf("%.1f\n", nowMs() - start);
            std::fflush(stdout);
            return finish(child, 0);
        }
        if (xcb_connection_has_error(x) || waitpid(child, nullptr, WNOHANG) == child) {
            std::fprintf(stderr, "startwatch: no window was mapped\n");
            return 1;
        }
        poll(&fd, 1, 100);
    }
}
