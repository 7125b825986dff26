// Stands in for a window manager's close button, which the tests' X server does not have.
//
//   close_window          makes the atoms of the close message exist, as a window manager does
//                         before any application starts (the framework looks up only atoms that
//                         exist when it starts), prints "ready" and stays connected until it is
//                         killed: the X server forgets its atoms once its last client has gone.
//   close_window WINDOW   asks the window to close: the WM_DELETE_WINDOW message of its
//                         WM_PROTOCOLS.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main (int argc, char** argv)
{
    if (argc > 2)
    {
        std::fprintf (stderr, "usage: close_window [WINDOW]\n");
        return 2;
    }

    Display* display = XOpenDisplay (nullptr);

    if (display == nullptr)
    {
        std::fprintf (stderr, "close_window: no X display\n");
        return 1;
    }

    const auto protocols = XInternAtom (display, "WM_PROTOCOLS", False);
    const auto deleteWindow = XInternAtom (display, "WM_DELETE_WINDOW", False);
    bool sent = true;

    if (argc == 2)
    {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = (Window) std::strtoul (argv[1], nullptr, 0);
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) deleteWindow;
        event.xclient.data.l[1] = CurrentTime;

        sent = XSendEvent (display, event.xclient.window, False, NoEventMask, &event) != 0;
    }

    XSync (display, False);

    if (argc == 1)
    {
        std::printf ("ready\n");
        std::fflush (stdout);

        for (;;)
            pause();
    }

    XCloseDisplay (display);
    return sent ? 0 : 1;
}
