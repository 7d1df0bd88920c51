"""A direct connection to an X server through ctypes, for what xdotool cannot tell or do.

Run as a program (python3 -m e2e.xlib suspend), it is a client that holds the X server's screen
saver suspended (XScreenSaverSuspend, as video players do) until it is killed."""

import ctypes
import signal
import sys
import time

# XScreenSaverQueryInfo's state and kind.
SAVER_OFF, SAVER_ON, SAVER_DISABLED = 0, 1, 3
SAVER_BLANKED, SAVER_INTERNAL, SAVER_EXTERNAL = 0, 1, 2


class _XScreenSaverInfo(ctypes.Structure):
    _fields_ = [
        ("window", ctypes.c_ulong),
        ("state", ctypes.c_int),
        ("kind", ctypes.c_int),
        ("til_or_since", ctypes.c_ulong),
        ("idle", ctypes.c_ulong),
        ("event_mask", ctypes.c_ulong),
    ]


class _XFixesCursorImage(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_short),
        ("y", ctypes.c_short),
        ("width", ctypes.c_ushort),
        ("height", ctypes.c_ushort),
        ("xhot", ctypes.c_ushort),
        ("yhot", ctypes.c_ushort),
        ("cursor_serial", ctypes.c_ulong),
        ("pixels", ctypes.POINTER(ctypes.c_ulong)),
        ("atom", ctypes.c_ulong),
        ("name", ctypes.c_char_p),
    ]


class _XImage(ctypes.Structure):
    """The head of Xlib's XImage, as far as a picture's bytes need it."""
    _fields_ = [
        ("width", ctypes.c_int),
        ("height", ctypes.c_int),
        ("xoffset", ctypes.c_int),
        ("format", ctypes.c_int),
        ("data", ctypes.c_void_p),
        ("byte_order", ctypes.c_int),
        ("bitmap_unit", ctypes.c_int),
        ("bitmap_bit_order", ctypes.c_int),
        ("bitmap_pad", ctypes.c_int),
        ("depth", ctypes.c_int),
        ("bytes_per_line", ctypes.c_int),
        ("bits_per_pixel", ctypes.c_int),
    ]


_Z_PIXMAP = 2
_ALL_PLANES = 0xFFFFFFFF


class XClient:
    """A direct connection to the X server: what the pointer looks like (XFixes cursor image),
    plain X windows of our own laid over the program's, and the server's own screen saver."""

    def __init__(self, display_name):
        self._x11 = ctypes.CDLL("libX11.so.6")
        self._xfixes = ctypes.CDLL("libXfixes.so.3")
        self._x11.XOpenDisplay.restype = ctypes.c_void_p
        self._x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._x11.XFree.argtypes = [ctypes.c_void_p]
        self._xfixes.XFixesQueryVersion.argtypes = [
            ctypes.c_void_p,
            ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_int),
        ]
        self._xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_XFixesCursorImage)
        self._xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        for name in ("XDefaultRootWindow", "XCreateSimpleWindow"):
            getattr(self._x11, name).restype = ctypes.c_ulong
        self._x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self._x11.XCreateSimpleWindow.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong,
        ]
        for name in ("XMapRaised", "XDestroyWindow", "XUnmapWindow"):
            getattr(self._x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self._x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self._x11.XGetImage.restype = ctypes.POINTER(_XImage)
        self._x11.XGetImage.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
            ctypes.c_uint, ctypes.c_ulong, ctypes.c_int,
        ]
        self._xss = ctypes.CDLL("libXss.so.1")
        self._xss.XScreenSaverQueryInfo.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_XScreenSaverInfo)]
        self._xss.XScreenSaverSuspend.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self._display = self._x11.XOpenDisplay(display_name.encode())
        if not self._display:
            raise RuntimeError(f"cannot open X display {display_name}")
        major, minor = ctypes.c_int(4), ctypes.c_int(0)
        self._xfixes.XFixesQueryVersion(self._display, ctypes.byref(major), ctypes.byref(minor))

    def close(self):
        if self._display:
            self._x11.XCloseDisplay(self._display)
            self._display = None

    def opaque_pixels(self):
        """Pixels of the current cursor image that are not fully transparent."""
        # Right after the program whose cursor was shown ends, the server may have no current
        # cursor for a moment (BadCursor); ask again.
        deadline = time.monotonic() + 1
        while not (image := self._xfixes.XFixesGetCursorImage(self._display)):
            if time.monotonic() > deadline:
                raise RuntimeError("XFixesGetCursorImage failed")
            time.sleep(0.02)
        try:
            contents = image.contents
            total = contents.width * contents.height
            return sum(1 for i in range(total) if (contents.pixels[i] >> 24) & 0xFF)
        finally:
            self._x11.XFree(image)

    def is_visible(self):
        return self.opaque_pixels() > 0

    def root_pixels(self, left, top, width, height):
        """An area of the screen as the server has it now, 4 bytes a pixel (blue, green, red,
        unused, on a 24-bit screen); quick enough to be taken frame after frame, where xwd is
        not."""
        root = self._x11.XDefaultRootWindow(self._display)
        image = self._x11.XGetImage(self._display, root, left, top, width, height, _ALL_PLANES,
                                    _Z_PIXMAP)
        if not image:
            raise RuntimeError("XGetImage failed")
        try:
            contents = image.contents
            if contents.bits_per_pixel != 32:
                raise RuntimeError(f"{contents.bits_per_pixel} bits a pixel")
            rows = ctypes.string_at(contents.data, contents.bytes_per_line * height)
            if contents.bytes_per_line == width * 4:
                return rows
            return b"".join(rows[y * contents.bytes_per_line:][:width * 4] for y in range(height))
        finally:
            self._x11.XFree(image.contents.data)
            self._x11.XFree(image)

    def show_cover(self, left, top, width, height, rgb=0xFFFFFF):
        """Maps a plain window of one colour on top of everything; returns its id."""
        root = self._x11.XDefaultRootWindow(self._display)
        window = self._x11.XCreateSimpleWindow(
            self._display, root, left, top, width, height, 0, 0, rgb
        )
        self._x11.XMapRaised(self._display, window)
        self._x11.XSync(self._display, 0)
        return window

    def remove_cover(self, window):
        self.destroy_window(window)

    def destroy_window(self, window):
        """Destroys any client's window, as a hostile or careless neighbour may."""
        self._x11.XDestroyWindow(self._display, window)
        self._x11.XSync(self._display, 0)

    def unmap_window(self, window):
        """Hides any client's window."""
        self._x11.XUnmapWindow(self._display, window)
        self._x11.XSync(self._display, 0)

    def screen_saver(self):
        """The server's own screen saver now: its state and kind (SAVER_...)."""
        info = _XScreenSaverInfo()
        root = self._x11.XDefaultRootWindow(self._display)
        if not self._xss.XScreenSaverQueryInfo(self._display, root, ctypes.byref(info)):
            raise RuntimeError("XScreenSaverQueryInfo failed")
        return info.state, info.kind

    def suspend_screen_saver(self, suspend=True):
        """Holds the server's screen saver off as a video player does, or lets go."""
        self._xss.XScreenSaverSuspend(self._display, int(suspend))
        self._x11.XSync(self._display, 0)


if __name__ == "__main__" and sys.argv[1:] == ["suspend"]:
    import os

    XClient(os.environ["DISPLAY"]).suspend_screen_saver()
    print("held", flush=True)
    while True:
        signal.pause()
