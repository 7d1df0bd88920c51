"""What the end-to-end tests of both programs share, whatever runs them (X, Wine or Wayland).

- program: the exit statuses and names that both programs have in common.
- buses: private D-Bus buses (a session bus, logind's system bus) and services python-dbusmock
  plays on them.
- processes: waiting for a condition, starting and ending processes, paths given by ctest.
- images: pictures decoded from any image format (xwd, PPM, PNG), written as PNG, a test
  pattern, and the checks made on them.
- xlib: a direct X connection through ctypes (the cursor image, plain windows).
- xsession: a private Xvfb with an optional window manager, and xdotool input, windows and
  screenshots on it.
- testing: a test case class that owns one session for all its tests, and one for a with block.
"""
