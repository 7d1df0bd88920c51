"""A test case class that owns one session for all its tests."""

import unittest


class SessionTestCase(unittest.TestCase):
    """cls.session comes from make_session() before the class's first test, is started, and is
    stopped after its last one, or at once when starting it fails."""

    @classmethod
    def make_session(cls):
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.session = cls.make_session()
        try:
            cls.session.start()
        except BaseException:
            cls.session.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()
