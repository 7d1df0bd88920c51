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
