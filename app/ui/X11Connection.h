#pragma once
// The application's own connection to the X server, for the few requests Qt
// has no call for (direct save, the close box under a sheet).

#include <xcb/xcb.h>

// None when the application does not run on X11 (offscreen, Wayland).
xcb_connection_t* X11Connection();

// The atom of `name`; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t X11Atom(xcb_connection_t* connection, const char* name);
