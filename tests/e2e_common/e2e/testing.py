"""Sessions owned by a test case class for all its tests, or by one test."""

import contextlib
import unittest


@contextlib.contextmanager
def running(session):
    """Starts the session for a with block and stops it after, also when starting it fails."""
    try:
        session.start()
        yield session
    finally:
        session.stop()


class SessionTestCase(unittest.TestCase):
    """cls.session comes from make_session() before the class's first test, is started, and is
    stopped after its last one, or at once when starting it fails."""

    @classmethod
    def make_session(cls):
        raise NotImplementedError

    @classmethod
    def prepare_session(cls):
        """What the class needs on its started session before its first test."""

    @classmethod
    def setUpClass(cls):
        cls.session = cls.make_session()
        try:
            cls.session.start()
            cls.prepare_session()
        except BaseException:
            cls.session.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()
