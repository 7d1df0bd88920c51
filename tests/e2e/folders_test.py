"""Where the settings live: beside the program, whatever the folder is called, and a folder that
cannot hold the settings file does not stop the saver."""

from harness import NORMAL_END, WineTestCase


class ProgramFolderTest(WineTestCase):
    def test_a_japanese_folder_name_holds_the_settings(self):
        folder = self.new_folder("スクリーン セーバー")
        folder.write_settings((4, 6, 0x01))
        process = self.session.start_program(folder, "/c")
        state = self.driver.run("scroll", 1, "lineright")
        self.assertEqual((int(state["hscroll1"]), int(state["hscroll2"])), (5, 6))
        self.driver.run("click", "set")
        self.assertEqual(self.session.wait_exit(process), NORMAL_END)
        self.assertEqual(folder.read_settings(), bytes((5, 6, 0x01)))
        self.assertEqual(sorted(p.name for p in folder.path.iterdir()),
                         ["Qelvanor.txt", "Zorblinth.scr"])

        process, _ = self.start_saver(None, folder=folder)
        self.end_saver_with_mouse(process)
        self.assertEqual(folder.read_settings(), bytes((5, 6, 0x01)))

    def test_a_missing_file_is_created_empty_by_the_saver(self):
        process, _ = self.start_saver(None)
        self.end_saver_with_mouse(process)
        self.assertEqual(self.folder.read_settings(), b"")

    def test_the_saver_runs_when_the_settings_file_cannot_be_opened(self):
        self.folder.block_settings_with_folder()
        process, pattern = self.start_saver(None, pattern=True)
        self.assertFalse(self.session.cursor.is_visible())
        self.assertTrue(self.session.still_running_after(process, 0.3))
        self.assertGreater(self.session.screenshot().count_changed(pattern), 0,
                           "nothing was drawn")
        self.end_saver_with_mouse(process)
        self.assertTrue(self.folder.settings.is_dir())
