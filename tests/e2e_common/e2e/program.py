"""Names and exit statuses that the Windows and the Linux program share."""

SETTINGS_NAME = "Qelvanor.txt"
DIALOG_TITLE = "Zorblinth - 設定"
LINE_WIDTH_PREFIX = "線の太さ - "

NORMAL_END = 0
SETTINGS_NOT_SAVED = 1
ALREADY_RUNNING = 2
WINDOW_SYSTEM_FAILED = 3

# The saver draws at most one tick this often.
TICK_SECONDS = 0.05


def most_pixels_drawn(width, height, seconds):
    """The most pixels the saver at level 1 with a one-pixel pen can change on a width x height
    picture in this many seconds: a tick every 50 ms at most, each with width * height // 630957
    + 1 lines (none covers more pixels than the longer side) and one box outline."""
    ticks = int(seconds / TICK_SECONDS) + 1
    lines = width * height // 630957 + 1
    return ticks * (lines * max(width, height) + 2 * (width + height))
