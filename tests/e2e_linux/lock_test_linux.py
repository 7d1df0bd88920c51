"""zorblinth --saver --lock against python-dbusmock's logind on a private system bus: a key ends
the saver, logind's Lock is called on our own session alone, and the saver keeps covering until
LockedHint turns true; SIGTERM does not lock; a logind that refuses, one that never answers (or
a system bus that never does), or none at all end the saver as before, with one line and
status 4."""

import signal
import tempfile

from e2e.buses import LOGIND_PATH, MockLogind
from harness_linux import NORMAL_END, poll, still_running_after, wait_exit
from saver_test_linux import SaverOverPattern

SESSION_NOT_LOCKED = 4
NOT_LOCKED_LINE = "zorblinth: the session was not locked: "
NO_HINT_LINE = "did not say within 2000 ms that the session is locked"

# How each case's logind behaves, how the saver is found and ended, and what must come of it.
CASES = {
    "by XDG_SESSION_ID, locked once the hint turns true":
        dict(logind="answers", session_id=True, end="key", hint=True, status=NORMAL_END),
    "by its process, locked once the hint turns true":
        dict(logind="answers", session_id=False, end="key", hint=True, status=NORMAL_END),
    "a locker that never sets the hint: covered for 2 s, then ended":
        dict(logind="answers", session_id=True, end="key", hint=False, status=NORMAL_END,
             line=NO_HINT_LINE),
    "SIGTERM does not lock":
        dict(logind="answers", session_id=True, end="sigterm", status=NORMAL_END),
    "logind refuses":
        dict(logind="refuses", session_id=True, end="key", status=SESSION_NOT_LOCKED,
             line=NOT_LOCKED_LINE + "logind did not lock the session"),
    "logind never answers":
        dict(logind="frozen", session_id=True, end="key", status=SESSION_NOT_LOCKED,
             line=NOT_LOCKED_LINE + "logind did not give this process's session"),
    "the system bus itself never answers":
        dict(logind="bus frozen", session_id=True, end="key", status=SESSION_NOT_LOCKED,
             line=NOT_LOCKED_LINE + "logind did not give this process's session"),
    "no logind on the system bus":
        dict(logind="absent", session_id=True, end="key", status=SESSION_NOT_LOCKED,
             line=NOT_LOCKED_LINE),
}

OURS = "c1"
OTHERS = "c2"  # another user's session on the same seat: never to be locked


class LockTest(SaverOverPattern):
    def start_logind(self, behaviour):
        folder = tempfile.TemporaryDirectory(prefix="zorblinth-logind-")
        self.addCleanup(folder.cleanup)
        logind = MockLogind(folder.name, running=behaviour != "absent")
        self.addCleanup(logind.stop)
        if behaviour == "absent":
            return logind, None
        ours = logind.add_session(OURS, 1000, "user")
        logind.add_session(OTHERS, 1001, "other")
        logind.answer_session_by_pid(ours)
        if behaviour == "refuses":
            logind.add_method(ours, "org.freedesktop.login1.Session", "Lock", "", "",
                              "raise dbus.exceptions.DBusException('not now', "
                              "name='org.freedesktop.DBus.Error.AccessDenied')")
        if behaviour == "frozen":
            logind.freeze()
        if behaviour == "bus frozen":
            logind.freeze_bus()
        return logind, ours

    def test_lock_on_resume(self):
        for name, case in CASES.items():
            with self.subTest(name):
                self.run_case(**case)

    def run_case(self, logind, session_id, end, status, hint=None, line=None):
        mock, ours = self.start_logind(logind)
        env = mock.environment() | {"XDG_SESSION_ID": OURS if session_id else None}
        self.wait_for_pattern_alone()
        saver = self.session.start_program("--saver", "--lock", extra_env=env)
        self.wait_for_drawing(saver)
        if end == "sigterm":
            saver.send_signal(signal.SIGTERM)
        else:
            self.session.xdotool("key", "a")
        if logind == "answers" and end == "key":
            poll(lambda: "Lock" in mock.calls(ours), 2, message="Lock on our session")
            # The request came first; the desktop stays hidden until the session says it is
            # locked.
            self.assertTrue(still_running_after(saver, 0.3), "the saver did not wait")
            self.assertEqual(len(self.session.visible_windows("^Form1$")), 1)
            if hint:
                mock.set_locked_hint(ours, True)
        # A logind that never answers must not hold the saver (sd-bus alone would wait 25 s).
        ended = wait_exit(saver, 4)
        errors = saver.stderr.read().decode()
        self.assertEqual(ended, status, errors)
        if line:
            self.assertIn(line, errors)
        else:
            self.assertEqual(errors, "")
        if logind == "answers":
            self.assertEqual(mock.calls(ours), ["Lock"] if end == "key" else [])
            self.assertEqual(mock.calls(f"{LOGIND_PATH}/session/{OTHERS}"), [])
            self.assertFalse({"LockSession", "LockSessions"} & set(mock.calls(LOGIND_PATH)))
