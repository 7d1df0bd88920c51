"""The layering check finds each kind of fault in a small tree of its own, and passes a clean one."""

import pathlib
import subprocess
import sys
import tempfile
import unittest

CHECK = pathlib.Path(__file__).resolve().parents[2] / "scripts/check-layering"

CLEAN = {
    "src/settings/settings.hpp": "#pragma once\n#include <filesystem>\n",
    "src/saver/tick.cpp": '#include "saver/tick.hpp"\n#include "saver/raster/rows.hpp"\n#include "settings/settings.hpp"\n#include <vector>\n',
    "src/saver/raster/rows.cpp": '#include "saver/raster/rows.hpp"\n#include "saver/canvas.hpp"\n',
    "src/saver/posix/signals_posix.cpp": "#include <signal.h>\n",
    "src/saver/x11/window_x11.cpp": '#include <X11/Xlib.h>\n#include <unistd.h>\n#include "saver/tick.hpp"\n#include "saver/posix/signals_posix.hpp"\n',
    "src/dialog/model.cpp": '#include "settings/settings.hpp"\n',
    "src/startup/main_linux.cpp": '#include "saver/x11/window_x11.hpp"\n#include "dialog/model.hpp"\n',
}


class LayeringCheckTest(unittest.TestCase):
    def run_check(self, extra):
        with tempfile.TemporaryDirectory() as folder:
            for name, text in {**CLEAN, **extra}.items():
                path = pathlib.Path(folder, name)
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_text(text)
            return subprocess.run([sys.executable, CHECK, folder], capture_output=True, text=True)

    def test_a_clean_tree_passes(self):
        result = self.run_check({})
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_each_fault_is_named_and_fails(self):
        faults = {
            "src/saver/pixels.cpp": ("#include <windows.h>\n", "<windows.h>"),
            "src/settings/file.cpp": ("#include <sys/stat.h>\n", "<sys/stat.h>"),
            "src/dialog/text.cpp": ('#include "startup/exit_status.hpp"\n', "startup/exit_status.hpp"),
            "src/saver/session.hpp": ('#include "dialog/model.hpp"\n', "dialog/model.hpp"),
            "src/settings/use.hpp": ('#include "saver/tick.hpp"\n', "saver/tick.hpp"),
            "src/saver/canvas.cpp": ('#include "saver/x11/window_x11.hpp"\n', "saver/x11/window_x11.hpp"),
            "src/saver/wide.cpp": ("using Wide = __int128;\n", "__int128"),
            # The saver's folders: the rasteriser draws without the session, front ends stay apart.
            "src/saver/raster/band.cpp": ('#include "saver/tick.hpp"\n', "saver/tick.hpp"),
            "src/saver/raster/wide.hpp": ('#include "saver/posix/signals_posix.hpp"\n', "saver/posix/signals_posix.hpp"),
            "src/saver/wayland/seat_wayland.cpp": ('#include "saver/x11/window_x11.hpp"\n', "saver/x11/window_x11.hpp"),
            "src/saver/win32/window_win32.cpp": ('#include "saver/wayland/seat_wayland.hpp"\n', "saver/wayland/seat_wayland.hpp"),
            "src/saver/output_wayland.cpp": ("#include <wayland-client.h>\n", "src/saver/wayland"),
            # The idle watcher starts the saver as a process, never through a front end's code.
            "src/idle/watcher_linux.cpp": ('#include "saver/x11/window_x11.hpp"\n', "saver/x11/window_x11.hpp"),
        }
        for name, (text, named) in faults.items():
            with self.subTest(name=name):
                result = self.run_check({name: text})
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(name, result.stdout)
                self.assertIn(named, result.stdout)


if __name__ == "__main__":
    unittest.main()
